// The real main frame, hidden, driven by messages as a user's keys would drive it; the
// daemon it sends to is started by frame-send, which also checks what landed.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExtEdit.h"
#include "MainFrame.h"
#include "MessagePresenter.h"
#include "OperationRunner.h"
#include "Resource.h"

namespace {

class RecordingPresenter final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    void ShowStatus(std::string_view text) override { statuses.emplace_back(text); }
    std::vector<std::string> messages, statuses;
};

void Type(HWND field, const std::wstring& keys) {
    for (const wchar_t key : keys)
        SendMessageW(field, WM_CHAR, key, 0);
}

std::wstring Text(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

void PutOnClipboard(HWND owner, const std::wstring& text) {
    ASSERT_TRUE(OpenClipboard(owner));
    EmptyClipboard();
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, (text.size() + 1) * sizeof(wchar_t));
    std::copy_n(text.c_str(), text.size() + 1, static_cast<wchar_t*>(GlobalLock(data)));
    GlobalUnlock(data);
    SetClipboardData(CF_UNICODETEXT, data);
    CloseClipboard();
}

class MainFrameTest : public testing::Test {
  protected:
    void SetUp() override {
        InitCommonControls();
        SetMessagePresenter(&presenter);
        SetOperationRunner(&runner);
        ASSERT_TRUE(frame.Create(false));
        frame.InitialUpdate();
        to = FieldWindow(IDC_TO);
        subject = FieldWindow(IDC_SUBJECT);
        body = FieldWindow(IDC_BODY);
        ASSERT_TRUE(to && subject && body);
        // the panes show with the frame: a form's template is not visible of itself
        for (HWND field : {to, body})
            EXPECT_TRUE(GetWindowLongW(GetParent(field), GWL_STYLE) & WS_VISIBLE);
    }
    void TearDown() override {
        SetOperationRunner(nullptr);
        SetMessagePresenter(nullptr);
    }
    RecordingPresenter presenter;
    CWin32OperationRunner runner;
    CMainFrame frame;
    HWND to = nullptr, subject = nullptr, body = nullptr;
};

// What frame-send compares with the Linux sender's record: the same fields, typed.
TEST_F(MainFrameTest, SendsTheTypedFieldsAndConfirmsTheDelivery) {
    Type(to, L"ADAMSK,\rbrownt");
    Type(subject, L"Disk\t"); // Tab leaves the field and is no character of it
    Type(body, L"full at 95%\r caf\u00e9 \u20ac\U0001F600");
    EXPECT_EQ(Text(to), L"ADAMSK,\r\nbrownt");
    EXPECT_EQ(Text(subject), L"Disk");
    EXPECT_EQ(Text(body), L"full at 95%\r\n caf\u00e9 ??");
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    EXPECT_EQ(presenter.messages,
              std::vector<std::string>{"Message Successfully Delivered to TAVO/400"});
}

TEST_F(MainFrameTest, FieldsRefuseWhatDoesNotFitWholeAsOnLinux) {
    const std::wstring full(500, L'A');
    SetWindowTextW(to, full.c_str());
    Type(to, L"B\r"); // a key over the limit is refused, a line break too
    EXPECT_EQ(Text(to), full);
    PutOnClipboard(frame.Window(), std::wstring(31, L'y'));
    SendMessageW(subject, WM_PASTE, 0, 0);
    EXPECT_EQ(Text(subject), L"");
    EXPECT_EQ(presenter.statuses,
              std::vector<std::string>{"Not pasted: Subject holds at most 30 characters."});
    PutOnClipboard(frame.Window(), L"one\r\n\ntwo \u0141");
    SendMessageW(subject, WM_PASTE, 0, 0);
    EXPECT_EQ(Text(subject), L"one two ?"); // a single-line field joins the lines
    // nothing was sent: the refusals are the fields', not the host's
    SendMessageW(to, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"NAMEOVERTEN1"));
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_NE(presenter.messages[0].find("longer than 10 characters"), std::string::npos);
}

} // namespace
