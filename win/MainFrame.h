#pragma once

#include <windows.h>

#include <commctrl.h>

// The program's only top-level window: menu, accelerators, the toolbar with text labels,
// the status bar and a static splitter with the address pane above the message body.
class CMainFrame {
  public:
    CMainFrame() = default;
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // Makes the window and its bars and panes, not yet shown. `quitOnClose` ends the
    // message loop when the window goes.
    bool Create(bool quitOnClose);
    // Gives the panes their first update (which chooses the system) and the focus to To:.
    void InitialUpdate();
    // The accelerators, for the message loop; true when the message was one.
    bool PreTranslate(MSG* msg) const;

    HWND Window() const { return window_; }
    HWND ToolBar() const { return toolBar_; }
    HWND StatusBar() const { return statusBar_; }
    HWND TopPane() const { return topPane_; }
    HWND BottomPane() const { return bottomPane_; }

    // True, with a beep, while a host operation runs: another must wait for its end.
    static bool WaitingForHost();

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK PaneProc(HWND pane, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateBars();
    void CreatePanes();
    void Layout();
    void OnCommand(int command);
    void OnSend();
    void OnToButton();
    void OnHelp();
    void ShowKeyState();
    void ShowPrompt(int command);

    HWND window_ = nullptr;
    HWND toolBar_ = nullptr;
    HWND statusBar_ = nullptr;
    HWND topPane_ = nullptr;
    HWND bottomPane_ = nullptr;
    HACCEL accelerators_ = nullptr;
    HIMAGELIST images_ = nullptr;
    int topHeight_ = -1; // the splitter's row; -1 until the first layout
    bool dragging_ = false;
    bool helpMode_ = false;
    bool quitOnClose_ = false;
};
