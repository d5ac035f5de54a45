#include "SignOnDlg.h"

#include <algorithm>
#include <functional>

#include "DialogSupport.h"
#include "HostOperation.h"
#include "MessagePresenter.h"
#include "Operations.h"
#include "PasswordChange.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SignOnPrompt.h"

namespace {

void Wipe(std::string& secret) {
    std::fill(secret.begin(), secret.end(), '\0');
}

void Limit(HWND edit, std::size_t characters) {
    SendMessageW(edit, EM_LIMITTEXT, characters, 0);
}

// Dialog 150: the user and password for a system whose password is not configured. The
// reason, when there is one, says why the host refused the last attempt.
class CSignOnDlg : public CTemplateDialog {
  public:
    CSignOnDlg(HWND parent, const std::string& system, const std::string& reason, std::string& user,
               std::string& password)
        : CTemplateDialog(parent, IDD_SIGN_ON), system_(system), reason_(reason), user_(user),
          password_(password) {}

  protected:
    bool OnInitDialog() override {
        SetWindowTextW(Window(), Wide(SignOnCaption(system_)).c_str());
        Limit(Item(IDC_USER_ID), kMaxUserId);
        Limit(Item(IDC_PASSWORD), kMaxPassword);
        SetWindowTextW(Item(IDC_USER_ID), tavo::platform::Widen(user_).c_str());
        FitReason();
        Focus(FirstFieldToFill(user_, IDC_PASSWORD));
        return false;
    }
    void OnOk() override {
        user_ = Utf8Text(Item(IDC_USER_ID));
        password_ = Utf8Text(Item(IDC_PASSWORD));
        SetWindowTextW(Item(IDC_PASSWORD), L"");
        End(IDOK);
    }

  private:
    // The first ask has nothing to explain: no empty band under the fields. A host's long
    // message is shown whole.
    void FitReason() {
        HWND label = Item(IDC_SIGN_ON_REASON);
        RECT box;
        GetWindowRect(label, &box);
        MapWindowPoints(HWND_DESKTOP, Window(), reinterpret_cast<POINT*>(&box), 2);
        int grow = 0;
        if (reason_.empty()) {
            ShowWindow(label, SW_HIDE);
            RECT client;
            GetClientRect(Window(), &client);
            grow = box.top - client.bottom;
        } else {
            const std::wstring text = Wide(reason_);
            SetWindowTextW(label, text.c_str());
            RECT need{0, 0, box.right - box.left, 0};
            HDC dc = GetDC(label);
            HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need,
                      DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
            SelectObject(dc, old);
            ReleaseDC(label, dc);
            grow = std::max(0L, need.bottom - (box.bottom - box.top));
            SetWindowPos(label, nullptr, 0, 0, box.right - box.left, box.bottom - box.top + grow,
                         SWP_NOMOVE | SWP_NOZORDER);
        }
        RECT frame;
        GetWindowRect(Window(), &frame);
        SetWindowPos(Window(), nullptr, 0, 0, frame.right - frame.left,
                     frame.bottom - frame.top + grow, SWP_NOMOVE | SWP_NOZORDER);
    }

    const std::string& system_;
    const std::string& reason_;
    std::string& user_;
    std::string& password_;
};

// Dialog 151: a new password for a system's user. OK forwards the fields to the change of
// password and closes once the host has taken the new one; a refusal is shown and the
// dialog stays, its fields kept for another try.
class CChangePasswordDlg : public CTemplateDialog {
  public:
    CChangePasswordDlg(HWND parent, std::string system, std::string user)
        : CTemplateDialog(parent, IDD_CHANGE_PASSWORD), system_(std::move(system)),
          user_(std::move(user)) {}

  protected:
    bool OnInitDialog() override {
        SetWindowTextW(Window(), Wide(PasswordChangeCaption(system_)).c_str());
        SetWindowTextW(Item(IDC_SYSTEM_NAME), Wide(system_).c_str());
        Limit(Item(IDC_USER_ID), kMaxUserId);
        for (const int secret : {IDC_OLD_PASSWORD, IDC_NEW_PASSWORD, IDC_CONFIRM_PASSWORD})
            Limit(Item(secret), kMaxPassword);
        SetWindowTextW(Item(IDC_USER_ID), tavo::platform::Widen(user_).c_str());
        Focus(FirstFieldToFill(user_, IDC_OLD_PASSWORD));
        return false;
    }
    void OnOk() override {
        PasswordChangeForm form{system_, Utf8Text(Item(IDC_USER_ID)),
                                Utf8Text(Item(IDC_OLD_PASSWORD)), Utf8Text(Item(IDC_NEW_PASSWORD)),
                                Utf8Text(Item(IDC_CONFIRM_PASSWORD))};
        PasswordChangeResult result;
        HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        RunHostOperation(PasswordChangeProgress(system_), [&form, &result] {
            result = ChangePassword(form);
            return Outcome{};
        });
        SetCursor(previous);
        for (std::string* secret : {&form.oldPassword, &form.newPassword, &form.confirmation})
            Wipe(*secret);
        ShowMessageBox(result.text);
        if (const int retry = PasswordFieldToRetry(result))
            Focus(retry);
        else
            End(IDOK);
    }

  private:
    std::string system_;
    std::string user_;
};

// Sign-ons are asked on the thread that connects; the dialog belongs to the window's
// thread, reached through a message-only window made there.
class CWindowSignOn final : public ISignOnPrompter {
  public:
    explicit CWindowSignOn(HWND owner) : owner_(owner), thread_(GetCurrentThreadId()) {
        static const ATOM atom = [] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = [](HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam) -> LRESULT {
                if (message == kRun) {
                    (*reinterpret_cast<std::function<void()>*>(lParam))();
                    return 0;
                }
                return DefWindowProcW(window, message, wParam, lParam);
            };
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"TavoSignOnCall";
            return RegisterClassW(&windowClass);
        }();
        messages_ = CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    GetModuleHandleW(nullptr), nullptr);
    }

    ~CWindowSignOn() override {
        if (messages_)
            DestroyWindow(messages_);
    }

    bool AskSignOn(const std::string& system, const std::string& reason, std::string& user,
                   std::string& password) override {
        HostOperation::AskingUser asking;
        bool ok = false;
        std::function<void()> ask = [&] {
            ok = CSignOnDlg(owner_, system, reason, user, password).DoModal() == IDOK;
        };
        if (GetCurrentThreadId() == thread_ || !messages_)
            ask();
        else // the window's thread pumps messages while an operation runs
            SendMessageW(messages_, kRun, 0, reinterpret_cast<LPARAM>(&ask));
        return ok;
    }

  private:
    static constexpr UINT kRun = WM_APP + 1;
    HWND owner_;
    DWORD thread_;
    HWND messages_ = nullptr;
};

} // namespace

void InstallWindowSignOn(HWND owner) {
    static CWindowSignOn* prompter = nullptr;
    delete prompter;
    prompter = new CWindowSignOn(owner);
    SetSignOnPrompter(prompter);
}

void OfferPasswordChange(HWND owner, unsigned returnCode) {
    const std::string system = CurrentSystem;
    if (PutPasswordChangeOffer(PasswordChangeOfferAfter(system, returnCode)))
        CChangePasswordDlg(owner, system, SignOnUser(system)).DoModal();
}
