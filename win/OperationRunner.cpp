#include "OperationRunner.h"

#undef LoadString // the string table's, not the module's resources
#include "DialogTemplate.h"
#include "Resource.h"
#include "Strings.h"
#include "Win32Text.h"

namespace {

// Often enough that the dialog appears when it is due and hides at once for a prompt.
constexpr DWORD kLookEveryMs = 40;

const DialogTemplate kProgress{
    0,
    "",
    186,
    50,
    "MS Sans Serif",
    8,
    false,
    false,
    {
        {IDC_STATIC, ControlKind::Static, "", 7, 7, 172, 16, kNoPrefix, 0},
        {IDCANCEL, ControlKind::PushButton, "Cancel", 68, 29, 50, 14, kTabStop, 0},
    }};

INT_PTR CALLBACK ProgressProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    // The button, the close box and Esc all cancel.
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        reinterpret_cast<HostOperation*>(GetWindowLongPtrW(dialog, DWLP_USER))->Cancel();
        return TRUE;
    }
    return FALSE;
}

} // namespace

bool CWin32OperationRunner::Busy() {
    return RunningOperation::Busy();
}

void CWin32OperationRunner::CancelRunning() {
    RunningOperation::Cancel();
}

Outcome CWin32OperationRunner::Run(const std::string& progress,
                                   const std::function<Outcome()>& work) {
    if (auto refused = RunningOperation::RefusalIfBusy())
        return *refused;
    const DWORD thread = GetCurrentThreadId();
    HostOperation operation(progress, work,
                            [thread] { PostThreadMessageW(thread, WM_NULL, 0, 0); });
    RunningOperation::Hold(&operation);
    HWND dialog = nullptr;
    bool quit = false;
    int quitCode = 0;
    while (!operation.Finished()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, kLookEveryMs, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // the program is ending: what it waited for ends with it
                quit = true;
                quitCode = static_cast<int>(msg.wParam);
                operation.Cancel();
                continue;
            }
            if (dialog && IsDialogMessageW(dialog, &msg))
                continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const bool due = operation.ProgressDue();
        if (due && !dialog) {
            const auto bytes = BuildDialogTemplate(kProgress);
            dialog = CreateDialogIndirectParamW(
                GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(bytes.data()), owner_,
                ProgressProc, reinterpret_cast<LPARAM>(&operation));
            if (dialog) {
                SetWindowTextW(dialog, Wide(LoadString(IDS_APP_TITLE)).c_str());
                SetDlgItemTextW(dialog, IDC_STATIC, (Wide(progress) + L"\u2026").c_str());
                if (owner_)
                    EnableWindow(owner_, FALSE); // modal to the window while it shows
                ShowWindow(dialog, SW_SHOW);
            }
        } else if (dialog) {
            ShowWindow(dialog, due && !operation.CancelRequested() ? SW_SHOW : SW_HIDE);
        }
    }
    if (dialog) {
        if (owner_)
            EnableWindow(owner_, TRUE);
        DestroyWindow(dialog);
    }
    RunningOperation::Hold(nullptr);
    if (quit)
        PostQuitMessage(quitCode);
    return operation.Result();
}
