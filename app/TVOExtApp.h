#pragma once

#include <QApplication>
#include <memory>

#include "OperationProgress.h"
#include "SignOnDlg.h"

class CMainFrame;
class QtMessagePresenter;

// The application: start-up defaults, the profile, the one main window.
class CTVOExtApp : public QApplication {
    Q_OBJECT
  public:
    CTVOExtApp(int& argc, char** argv);
    ~CTVOExtApp() override;

    // Sets the defaults, builds and shows the main window; false ends the program.
    bool InitInstance();
    CMainFrame* MainFrame() const { return mainFrame_.get(); }

  private:
    std::unique_ptr<QtMessagePresenter> presenter_;
    CWindowSignOn signOnPrompter_;
    CQtOperationRunner operationRunner_;
    std::unique_ptr<CMainFrame> mainFrame_;
};
