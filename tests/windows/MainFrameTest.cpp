// The real main frame, hidden, driven by messages as a user's keys would drive it; the
// daemon it sends to is started by frame-send, which also checks what landed.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>
#undef LoadString // the string table's

#include <string>
#include <vector>

#include "DialogSteps.h"
#include "DialogTemplates.h"
#include "ExtEdit.h"
#include "HelpPopup.h"
#include "HelpTopics.h"
#include "MainFrame.h"
#include "MessagePresenter.h"
#include "OperationRunner.h"
#include "PasswordChange.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SendRules.h"
#include "SignOnDlg.h"
#include "SignOnPrompt.h"
#include "Strings.h"
#include "Utf16.h"
#include "Win32Text.h"

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

std::wstring StatusText(HWND bar, int part) {
    wchar_t text[128] = {};
    SendMessageW(bar, SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text));
    return text;
}

// The key as the message loop hands it to the frame's accelerators.
void PressKey(CMainFrame& frame, HWND target, int key, bool shift = false) {
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    MSG msg{target, WM_KEYDOWN, static_cast<WPARAM>(key), 0, 0, {}};
    EXPECT_TRUE(frame.PreTranslate(&msg));
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

std::uint32_t TemplateHelpId(int dialog, int control) {
    return FindControlTemplate(*FindDialogTemplate(dialog), control)->helpId;
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
    EXPECT_EQ(WindowWide(to), L"ADAMSK,\r\nbrownt");
    EXPECT_EQ(WindowWide(subject), L"Disk");
    EXPECT_EQ(WindowWide(body), L"full at 95%\r\n caf\u00e9 ??");
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    EXPECT_EQ(presenter.messages,
              std::vector<std::string>{"Message Successfully Delivered to TAVO/400"});
}

TEST_F(MainFrameTest, FieldsRefuseWhatDoesNotFitWholeAsOnLinux) {
    const std::wstring full(500, L'A');
    SetWindowTextW(to, full.c_str());
    Type(to, L"B\r"); // a key over the limit is refused, a line break too
    EXPECT_EQ(WindowWide(to), full);
    PutOnClipboard(frame.Window(), std::wstring(31, L'y'));
    SendMessageW(subject, WM_PASTE, 0, 0);
    EXPECT_EQ(WindowWide(subject), L"");
    EXPECT_EQ(presenter.statuses,
              std::vector<std::string>{"Not pasted: Subject holds at most 30 characters."});
    PutOnClipboard(frame.Window(), L"one\r\n\ntwo \u0141");
    SendMessageW(subject, WM_PASTE, 0, 0);
    EXPECT_EQ(WindowWide(subject), L"one two ?"); // a single-line field joins the lines
    // nothing was sent: the refusals are the fields', not the host's
    SendMessageW(to, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"NAMEOVERTEN1"));
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    ASSERT_EQ(presenter.messages.size(), 1u);
    EXPECT_NE(presenter.messages[0].find("longer than 10 characters"), std::string::npos);
}

TEST_F(MainFrameTest, ToButtonAddsTheNamesPickedFromTheHostsList) {
    Type(to, L"ADAMSK");
    std::vector<std::string> picked;
    DialogSteps steps({{L"Select Recipients", [&picked](HWND picker) {
                            HWND list = GetDlgItem(picker, IDC_LIST);
                            LVITEMW item{};
                            item.stateMask = item.state = LVIS_SELECTED;
                            for (const int row : {0, 2}) {
                                SendMessageW(list, LVM_SETITEMSTATE, row,
                                             reinterpret_cast<LPARAM>(&item));
                                wchar_t name[32] = {};
                                ListView_GetItemText(list, row, 0, name, 32);
                                picked.push_back(tavo::platform::Narrow(name));
                            }
                            Click(picker, IDOK);
                        }}});
    Click(GetParent(to), IDC_BTN_TO);
    EXPECT_TRUE(steps.Done());
    ASSERT_EQ(picked.size(), 2u);
    EXPECT_EQ(WindowWide(to), Wide(AppendPickedNames("ADAMSK", picked)));
    EXPECT_EQ(presenter.messages, std::vector<std::string>{});
}

TEST_F(MainFrameTest, HelpKeysShowTheTopicsTheLinuxWindowShows) {
    ShowWindow(frame.Window(), SW_SHOWNA); // a click for help finds only what shows
    SetFocus(to);
    PressKey(frame, to, VK_F1);
    EXPECT_EQ(HelpPopupTopic(), TemplateHelpId(IDD_ADDRESS_FORM, IDC_TO));
    // Shift+F1, then the control clicked on names the topic
    PressKey(frame, to, VK_F1, true);
    EXPECT_EQ(StatusText(frame.StatusBar(), 0), L"Select an object on which to get Help");
    RECT box;
    GetWindowRect(body, &box);
    POINT at{(box.left + box.right) / 2, (box.top + box.bottom) / 2};
    ScreenToClient(frame.Window(), &at);
    SendMessageW(frame.Window(), WM_LBUTTONDOWN, 0, MAKELPARAM(at.x, at.y));
    EXPECT_EQ(HelpPopupTopic(), TemplateHelpId(IDD_BODY_FORM, IDC_BODY));
    // with the focus outside the window, F1 opens the contents
    SetFocus(nullptr);
    PressKey(frame, frame.Window(), VK_F1);
    EXPECT_EQ(HelpPopupTopic(), kDefaultHelpId);
}

TEST_F(MainFrameTest, StatusBarFollowsTheLockKeys) {
    const auto showing = [this](BYTE caps, BYTE num, BYTE scroll) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CAPITAL] = caps, keys[VK_NUMLOCK] = num, keys[VK_SCROLL] = scroll;
        SetKeyboardState(keys);
        // the window looks at the keys from a timer of its own
        std::vector<std::wstring> parts;
        for (int wait = 0; wait < 100; ++wait) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&msg);
            parts = {StatusText(frame.StatusBar(), 1), StatusText(frame.StatusBar(), 2),
                     StatusText(frame.StatusBar(), 3)};
            if (parts[0].empty() != !caps || parts[2].empty() != !scroll)
                Sleep(20);
            else
                break;
        }
        return parts;
    };
    EXPECT_EQ(showing(1, 0, 1), (std::vector<std::wstring>{L"CAP", L"", L"SCRL"}));
    EXPECT_EQ(showing(0, 1, 0), (std::vector<std::wstring>{L"", L"NUM", L""}));
}

// The systems below are frame-send's: NOPASS names no password, EXPIRED a user whose
// password has expired, SILENT a host that takes the connection and never answers.
TEST_F(MainFrameTest, SignOnAsksForTheMissingPasswordThenAgainWithTheHostsReason) {
    InstallWindowSignOn(frame.Window());
    CurrentSystem = "NOPASS";
    Type(to, L"ADAMSK");
    DialogSteps steps({{L"Sign on to NOPASS",
                        [](HWND dialog) {
                            EXPECT_EQ(WindowWide(GetDlgItem(dialog, IDC_USER_ID)), L"OPER");
                            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_PASSWORD));
                            EXPECT_TRUE(
                                GetWindowLongW(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE) &
                                ES_PASSWORD);
                            EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, IDC_SIGN_ON_REASON)));
                            SetDlgItemTextW(dialog, IDC_PASSWORD, L"wrong");
                            Click(dialog, IDOK);
                        }},
                       {L"Sign on to NOPASS", [](HWND dialog) {
                            HWND reason = GetDlgItem(dialog, IDC_SIGN_ON_REASON);
                            EXPECT_TRUE(IsWindowVisible(reason));
                            EXPECT_NE(WindowWide(reason), L"");
                            EXPECT_EQ(WindowWide(GetDlgItem(dialog, IDC_PASSWORD)), L"");
                            SetDlgItemTextW(dialog, IDC_PASSWORD, L"secret42");
                            Click(dialog, IDOK);
                        }}});
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(presenter.messages,
              std::vector<std::string>{"Message Successfully Delivered to TAVO/400"});
    SetSignOnPrompter(nullptr);
}

TEST_F(MainFrameTest, AnExpiredPasswordIsChangedInItsDialog) {
    CurrentSystem = "EXPIRED";
    Type(to, L"ADAMSK");
    const std::wstring caption(Wide(PasswordChangeCaption("EXPIRED")));
    const auto fill = [](HWND dialog, const wchar_t* old, const wchar_t* fresh,
                         const wchar_t* again) {
        SetDlgItemTextW(dialog, IDC_OLD_PASSWORD, old);
        SetDlgItemTextW(dialog, IDC_NEW_PASSWORD, fresh);
        SetDlgItemTextW(dialog, IDC_CONFIRM_PASSWORD, again);
        Click(dialog, IDOK);
    };
    DialogSteps steps({{caption, [&fill](HWND dialog) {
                            EXPECT_EQ(WindowWide(GetDlgItem(dialog, IDC_USER_ID)), L"EXP");
                            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_OLD_PASSWORD));
                            fill(dialog, L"oldpass1", L"newpass2", L"newpass3");
                            // refused before the host is asked; the dialog stays for a retry
                            EXPECT_TRUE(IsWindow(dialog));
                            EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_NEW_PASSWORD));
                            fill(dialog, L"oldpass1", L"newpass2", L"newpass2");
                        }}});
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    EXPECT_TRUE(steps.Done());
    // the send's failure, why the dialog opened, the refusal, the change
    ASSERT_EQ(presenter.messages.size(), 4u);
    EXPECT_EQ(std::vector(presenter.messages.begin() + 1, presenter.messages.end()),
              (std::vector{FormatString(LoadString(IDS_PASSWORD_EXPIRED_CHANGE), {"EXPIRED"}),
                           LoadString(IDS_NEW_PASSWORDS_DIFFER),
                           FormatString(LoadString(IDS_PASSWORD_CHANGED), {"EXPIRED"})}));
}

TEST_F(MainFrameTest, ASilentHostNeitherFreezesTheWindowNorOutlastsCancel) {
    CurrentSystem = "SILENT";
    Type(to, L"SMITH");
    std::wstring waitedFor;
    DialogSteps steps({{L"TAVO/400 Express", [&waitedFor](HWND progress) {
                            waitedFor = WindowWide(GetDlgItem(progress, IDC_STATIC));
                            Click(progress, IDCANCEL);
                        }}});
    SendMessageW(frame.Window(), WM_COMMAND, ID_SEND, 0);
    EXPECT_TRUE(steps.Done());
    EXPECT_EQ(waitedFor, L"Sending to SILENT\u2026");
    EXPECT_GE(steps.ticks, 20); // half a second of a 20 ms timer before the dialog is due
    EXPECT_EQ(presenter.messages, std::vector<std::string>{});
    EXPECT_EQ(presenter.statuses, std::vector<std::string>{"Not sent."});
    EXPECT_EQ(WindowWide(to), L"SMITH");
}

} // namespace
