#pragma once

#include <windows.h>

#include "MessagePresenter.h"

// Each message as the platform's OK box: exclamation icon, the application title as
// caption, owned by the main window. A status line goes to the main window's status bar.
// Callable from an operation's thread: the window's thread pumps while it waits.
class CMessageBoxPresenter final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view text) override;
    void ShowStatus(std::string_view text) override;

    void SetOwner(HWND owner, HWND statusBar) {
        owner_ = owner;
        statusBar_ = statusBar;
    }

  private:
    HWND owner_ = nullptr;
    HWND statusBar_ = nullptr;
};
