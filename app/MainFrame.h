#pragma once

#include <QMainWindow>
#include <map>

#include "ContextHelp.h"

class CTextToolBar;
class CTopPaneView;
class CBotPaneFrame;
class CStatusBar;
class QAction;
class QSplitter;

// The program's only top-level window: menu, accelerators, the text toolbar, the status
// bar and a splitter with the address pane above the message body.
class CMainFrame : public QMainWindow, public IHelpHitTest {
    Q_OBJECT
  public:
    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Gives the panes their first update (which chooses the system) and the focus to To:.
    void InitialUpdate();

    // The action of a command id, menu item or accelerator; null when there is none.
    QAction* Action(int commandId) const;
    // Every accelerator in table order, with the command each triggers.
    std::vector<std::pair<QKeySequence, int>> Accelerators() const { return accelerators_; }

    CTextToolBar* ToolBar() const { return toolBar_; }
    CStatusBar* StatusBar() const { return statusBar_; }
    CTopPaneView* TopPane() const { return topPane_; }
    CBotPaneFrame* BottomFrame() const { return bottomFrame_; }
    QSplitter* Splitter() const { return splitter_; }
    int InitialTopHeight() const { return initialTopHeight_; }

    // The help context of a point in the client area: the control under it, looked up
    // in the frame's table; the default answer elsewhere.
    quint32 HelpHitTest(const QPoint& clientPoint) const override;
    // The same for a control, or any part of one.
    quint32 HelpOfControl(const QWidget* widget) const;

  public slots:
    void OnSend();
    void OnChangeSystem();
    void OnChangeDelivery();
    void OnAbout();
    void OnContextHelp();
    void OnHelp();
    void OnNextPane();
    // True, with a beep, while a host operation runs: another must wait for its end.
    static bool WaitingForHost();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

  private:
    QAction* AddCommand(int commandId, const QString& text = {});
    void CreateMenus();
    void CreateAccelerators();
    void CreateClient();

    std::map<int, QAction*> actions_;
    std::vector<std::pair<QKeySequence, int>> accelerators_;
    CTextToolBar* toolBar_ = nullptr;
    CStatusBar* statusBar_ = nullptr;
    CTopPaneView* topPane_ = nullptr;
    CBotPaneFrame* bottomFrame_ = nullptr;
    QSplitter* splitter_ = nullptr;
    int initialTopHeight_ = 0;
    bool sized_ = false;
};
