#include "MainFrame.h"

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QRadioButton>
#include <QSplitter>
#include <QWhatsThis>

#include "AboutDlg.h"
#include "BotPaneFrame.h"
#include "BrowseOptionsDlg.h"
#include "ChangePasswordDlg.h"
#include "ChangeSystemDlg.h"
#include "DeliveryModesDlg.h"
#include "ExtEdit.h"
#include "Menus.h"
#include "MessagePresenter.h"
#include "OperationProgress.h"
#include "Operations.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SendOperation.h"
#include "StatusBar.h"
#include "Strings.h"
#include "SystemSelection.h"
#include "TVOEditView.h"
#include "TemplateWidgets.h"
#include "TextToolBar.h"
#include "TopPaneView.h"

namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The wait cursor for as long as a command runs, whichever way it ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

constexpr double kTopPaneShare = 0.42;

// A key of the shared table as Qt names it.
QKeySequence KeyOf(const Accelerator& accelerator) {
    Qt::KeyboardModifiers modifiers;
    if (accelerator.modifiers & kCtrl)
        modifiers |= Qt::ControlModifier;
    if (accelerator.modifiers & kShift)
        modifiers |= Qt::ShiftModifier;
    if (accelerator.modifiers & kAlt)
        modifiers |= Qt::AltModifier;
    Qt::Key key = static_cast<Qt::Key>(accelerator.key); // a letter: its capital is its key
    switch (accelerator.key) {
    case kKeyBackspace:
        key = Qt::Key_Backspace;
        break;
    case kKeyInsert:
        key = Qt::Key_Insert;
        break;
    case kKeyDelete:
        key = Qt::Key_Delete;
        break;
    case kKeyF1:
        key = Qt::Key_F1;
        break;
    case kKeyF6:
        key = Qt::Key_F6;
        break;
    }
    return QKeySequence(QKeyCombination(modifiers, key));
}

} // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    const auto templateTitle = LoadString(IDS_DOC_TEMPLATE);
    setWindowTitle(Latin1(templateTitle.substr(0, templateTitle.find('\n'))));
    setWindowIcon(QIcon(QStringLiteral(":/images/app")));
    resize(640, 480); // the platform's default frame size stands in for none given
    CreateMenus();
    CreateAccelerators();
    CreateClient();
    toolBar_ = new CTextToolBar(this);
    toolBar_->LoadToolBar(IDR_MAINFRAME, [this](int id) { return Action(id); });
    addToolBar(Qt::TopToolBarArea, toolBar_);
    statusBar_ = new CStatusBar(this);
    setStatusBar(statusBar_);
    Action(ID_VIEW_TOOLBAR)->setChecked(true);
    connect(toolBar_, &QToolBar::visibilityChanged, Action(ID_VIEW_TOOLBAR), &QAction::setChecked);
    SetTitleSetter([this](const std::string& title) { setWindowTitle(Latin1(title)); });
    InstallContextHelp();
}

quint32 CMainFrame::HelpHitTest(const QPoint& clientPoint) const {
    return HelpOfControl(childAt(clientPoint)); // the deepest visible child
}

quint32 CMainFrame::HelpOfControl(const QWidget* widget) const {
    // a control's inner parts (an edit's viewport, say) answer for the control
    while (widget && widget != this && ControlId(widget) == 0)
        widget = widget->parentWidget();
    return FrameHelpId(widget && widget != this ? ControlId(widget) : 0);
}

CMainFrame::~CMainFrame() {
    SetTitleSetter(nullptr);
}

QAction* CMainFrame::AddCommand(int commandId, const QString& text) {
    auto*& action = actions_[commandId];
    if (!action) {
        action = new QAction(text, this);
        const auto texts = CommandPromptAndTip(commandId);
        action->setStatusTip(Latin1(texts.prompt));
        action->setToolTip(Latin1(texts.tip));
        action->setData(commandId);
        addAction(action); // its shortcuts work wherever the focus is in the window
    } else if (!text.isEmpty()) {
        action->setText(text);
    }
    return action;
}

QAction* CMainFrame::Action(int commandId) const {
    const auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

void CMainFrame::CreateMenus() {
    for (const auto& menu : MainMenus()) {
        auto* bar = menuBar()->addMenu(QString::fromLatin1(menu.title));
        for (const auto& item : menu.items) {
            if (item.command == 0)
                bar->addSeparator();
            else
                bar->addAction(AddCommand(item.command, QString::fromLatin1(item.text)));
        }
    }
    for (const auto& command : OtherCommands())
        AddCommand(command.command, QString::fromLatin1(command.text));

    connect(Action(ID_SEND), &QAction::triggered, this, &CMainFrame::OnSend);
    connect(Action(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);
    Action(ID_VIEW_TOOLBAR)->setCheckable(true);
    connect(Action(ID_VIEW_TOOLBAR), &QAction::triggered, this,
            [this](bool on) { toolBar_->setVisible(on); });
    Action(ID_VIEW_STATUS_BAR)->setCheckable(true);
    Action(ID_VIEW_STATUS_BAR)->setChecked(true);
    connect(Action(ID_VIEW_STATUS_BAR), &QAction::triggered, this,
            [this](bool on) { statusBar()->setVisible(on); });
    connect(Action(ID_CHANGE_SYSTEM), &QAction::triggered, this, &CMainFrame::OnChangeSystem);
    connect(Action(ID_CHANGE_DELIVERY), &QAction::triggered, this, &CMainFrame::OnChangeDelivery);
    connect(Action(ID_APP_ABOUT), &QAction::triggered, this, &CMainFrame::OnAbout);
    connect(Action(ID_CONTEXT_HELP), &QAction::triggered, this, &CMainFrame::OnContextHelp);
    connect(Action(ID_HELP_FINDER), &QAction::triggered, this,
            [] { HelpPresenter().ShowContents(); });
}

void CMainFrame::CreateAccelerators() {
    std::map<int, QList<QKeySequence>> keys;
    QList<QKeySequence> frameKeys;
    for (const auto& accelerator : MainAccelerators()) {
        const QKeySequence sequence = KeyOf(accelerator);
        accelerators_.emplace_back(sequence, accelerator.command);
        keys[accelerator.command].append(sequence);
        frameKeys.append(sequence);
    }
    for (const auto& [command, sequences] : keys) {
        auto* action = AddCommand(command);
        action->setShortcuts(sequences);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    CExtEdit::SetFrameAccelerators(frameKeys);
    connect(Action(ID_EDIT_PASTE), &QAction::triggered, this, [] {
        if (auto* edit = qobject_cast<CExtEdit*>(QApplication::focusWidget()))
            edit->OnEditPaste();
    });
    connect(Action(ID_NEXT_PANE), &QAction::triggered, this, &CMainFrame::OnNextPane);
    connect(Action(ID_PREV_PANE), &QAction::triggered, this, &CMainFrame::OnNextPane);
    connect(Action(ID_HELP), &QAction::triggered, this, &CMainFrame::OnHelp);
}

void CMainFrame::CreateClient() {
    splitter_ = new QSplitter(Qt::Vertical, this);
    splitter_->setProperty("controlId", AFX_IDW_PANE_FIRST);
    splitter_->setChildrenCollapsible(false);
    // the frame's client height before the bars exist
    const int clientHeight = height() - menuBar()->sizeHint().height();
    initialTopHeight_ = static_cast<int>(clientHeight * kTopPaneShare);
    topPane_ = new CTopPaneView(splitter_);
    topPane_->SetPicker([this](const std::string& listType, std::vector<std::string>& picked) {
        if (WaitingForHost())
            return static_cast<int>(QDialog::Rejected);
        CBrowseOptionsDlg dialog(this);
        dialog.m_strListType = listType;
        const int result = dialog.exec();
        picked = dialog.m_arrSelected;
        return result;
    });
    bottomFrame_ = new CBotPaneFrame(splitter_);
    splitter_->addWidget(topPane_);
    splitter_->addWidget(bottomFrame_);
    splitter_->setStretchFactor(0, 0); // the last row takes what is left
    splitter_->setStretchFactor(1, 1);
    setCentralWidget(splitter_);
}

void CMainFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!sized_) {
        sized_ = true;
        const int total = splitter_->height() - splitter_->handleWidth();
        splitter_->setSizes({initialTopHeight_, std::max(0, total - initialTopHeight_)});
    }
}

void CMainFrame::InitialUpdate() {
    topPane_->OnInitialUpdate();
    bottomFrame_->View()->OnInitialUpdate();
    // the address pane is the active view and To: its first control
    topPane_->To()->setFocus(Qt::OtherFocusReason);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // The window goes at once; what it waited for ends with it.
    CQtOperationRunner::CancelRunning();
    QMainWindow::closeEvent(event);
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::EnterWhatsThisMode)
        statusBar()->showMessage(Latin1(LoadString(IDS_HELP_MODE_MESSAGE)));
    else if (event->type() == QEvent::LeaveWhatsThisMode)
        statusBar()->showMessage(Latin1(LoadString(IDS_IDLE_MESSAGE)));
    return QMainWindow::event(event);
}

bool CMainFrame::WaitingForHost() {
    if (!CQtOperationRunner::Busy())
        return false;
    QApplication::beep();
    return true;
}

void CMainFrame::OnSend() {
    if (WaitingForHost())
        return;
    WaitCursor wait;
    const auto outcome = SendCommand(ToEdit ? ToEdit->WindowText() : std::string(),
                                     SubjectEdit ? SubjectEdit->WindowText() : std::string(),
                                     BodyEdit ? BodyEdit->WindowText() : std::string(),
                                     RecipientsRadio && RecipientsRadio->isChecked());
    OfferPasswordChange(this, outcome.returnCode);
}

void CMainFrame::OnChangeSystem() {
    if (WaitingForHost())
        return;
    CChangeSystemDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnChangeDelivery() {
    if (WaitingForHost())
        return;
    CDeliveryModesDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnAbout() {
    CAboutDlg dialog(this);
    dialog.exec();
}

void CMainFrame::OnContextHelp() {
    QWhatsThis::enterWhatsThisMode();
}

void CMainFrame::OnHelp() {
    // the focused control's topic; elsewhere the contents, as Help Topics opens them
    QWidget* focus = QApplication::focusWidget();
    const quint32 id = isAncestorOf(focus) ? HelpOfControl(focus) : kDefaultHelpId;
    if (id == kDefaultHelpId)
        HelpPresenter().ShowContents();
    else
        OnHelpInfo(id, focus->mapToGlobal(focus->rect().center()));
}

void CMainFrame::OnNextPane() {
    // two panes: next and previous are the same step
    const bool inTop = topPane_->isAncestorOf(QApplication::focusWidget());
    if (inTop && BodyEdit)
        BodyEdit->setFocus(Qt::OtherFocusReason);
    else if (ToEdit)
        ToEdit->setFocus(Qt::OtherFocusReason);
}
