#include <windows.h>

#include <commctrl.h>

#include "HostState.h"
#include "MainFrame.h"
#include "MessageBoxPresenter.h"
#include "OperationRunner.h"
#include "SignOnDlg.h"
#include "SignOnPrompt.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int show) {
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES |
                                                             ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    StartInstanceState();
    CMessageBoxPresenter presenter;
    SetMessagePresenter(&presenter);
    CWin32OperationRunner runner;
    int exitCode = 1;
    {
        CMainFrame frame;
        if (frame.Create(true)) {
            presenter.SetOwner(frame.Window(), frame.StatusBar());
            runner.SetOwner(frame.Window());
            InstallWindowSignOn(frame.Window());
            SetOperationRunner(&runner);
            frame.InitialUpdate();
            ShowWindow(frame.Window(), show);
            UpdateWindow(frame.Window());
            MSG msg;
            while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
                if (frame.PreTranslate(&msg))
                    continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            exitCode = static_cast<int>(msg.wParam);
        }
    }
    SetOperationRunner(nullptr);
    SetSignOnPrompter(nullptr);
    SetMessagePresenter(nullptr);
    return exitCode;
}
