#pragma once

#include <string>
#include <string_view>
#include <vector>

// Every message box the program shows goes through one presenter: the GUI shows a box,
// the command line prints to stderr, tests record. Texts are Latin-1.
class IMessagePresenter {
  public:
    virtual ~IMessagePresenter() = default;
    // Shows an OK box and returns when the user has dismissed it.
    virtual void ShowMessage(std::string_view text) = 0;
    // A question with Yes and No; true for Yes. Where nobody can answer, the text is shown
    // as a message and the answer is No.
    virtual bool AskYesNo(std::string_view text) {
        ShowMessage(text);
        return false;
    }
    // A line the user needs no box for (a cancel's result): the window's status bar.
    // Elsewhere it is shown as a message.
    virtual void ShowStatus(std::string_view text) { ShowMessage(text); }
};

// Null restores the default presenter, which writes to stderr.
void SetMessagePresenter(IMessagePresenter* presenter);
IMessagePresenter& MessagePresenter();
inline void ShowMessageBox(std::string_view text) {
    MessagePresenter().ShowMessage(text);
}
