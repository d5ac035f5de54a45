#include "TVOExtApp.h"

#include "HostState.h"
#include "MainFrame.h"
#include "QtMessagePresenter.h"
#include "SignOnDlg.h"
#include "Strings.h"
#include "UiResources.h"

CTVOExtApp::CTVOExtApp(int& argc, char** argv) : QApplication(argc, argv) {
    InitUiResources();
    const auto title = LoadString(IDS_APP_TITLE);
    // the profile: organisation key, then a subkey named after the application
    setOrganizationName(QStringLiteral("Local AppWizard-Generated Applications"));
    setApplicationName(QString::fromLatin1(title.data(), static_cast<qsizetype>(title.size())));
    setApplicationVersion(QStringLiteral(TAVO_VERSION));
    setWindowIcon(QIcon(QStringLiteral(":/images/app")));
}

CTVOExtApp::~CTVOExtApp() {
    mainFrame_.reset();
    SetOperationRunner(nullptr);
    SetSignOnPrompter(nullptr);
    SetMessagePresenter(nullptr);
}

bool CTVOExtApp::InitInstance() {
    StartInstanceState();
    presenter_ = std::make_unique<QtMessagePresenter>();
    SetMessagePresenter(presenter_.get());
    SetSignOnPrompter(&signOnPrompter_);
    SetOperationRunner(&operationRunner_);
    mainFrame_ = std::make_unique<CMainFrame>();
    mainFrame_->InitialUpdate();
    mainFrame_->show();
    mainFrame_->activateWindow(); // so its accelerators work before the first click
    return true;
}
