#include <QtTest>
#include <QtWidgets>
#include <optional>

#include "ChangeSystemDlg.h"
#include "ContextHelp.h"
#include "DeliveryModesDlg.h"
#include "ExtEdit.h"
#include "FreshProcess.h"
#include "MainFrame.h"
#include "Resource.h"
#include "TemplateWidgets.h"
#include "TextToolBar.h"
#include "TopPaneView.h"
#include "UiResources.h"

namespace {

class RecordingHelp final : public IHelpPresenter {
  public:
    void ShowTopic(quint32 id, const QPoint&) override { topics.push_back(id); }
    void ShowContents() override { ++contents; }
    std::vector<quint32> topics;
    int contents = 0;
};

// What a click in context-help mode sends to the widget under the mouse.
void ClickForHelp(QWidget* widget) {
    const QPoint local = widget->rect().center();
    QHelpEvent event(QEvent::WhatsThis, local, widget->mapToGlobal(local));
    QApplication::sendEvent(widget, &event);
}

// The topic a control's template names for it.
quint32 HelpId(int dialog, int control) {
    return FindControlTemplate(*FindDialogTemplate(dialog), control)->helpId;
}

QToolButton* ToolButton(const CMainFrame& frame, int command) {
    for (auto* button : frame.ToolBar()->findChildren<QToolButton*>())
        if (button->property("commandId").toInt() == command)
            return button;
    return nullptr;
}

} // namespace

class ContextHelpTest : public QObject {
    Q_OBJECT

    std::optional<testsupport::FreshProcess> client;
    RecordingHelp help;
    std::unique_ptr<CMainFrame> frame;

  private slots:
    void initTestCase() { InitUiResources(); }

    void init() {
        client.emplace(testsupport::kDemoOnly);
        help = {};
        SetHelpPresenter(&help);
        frame = std::make_unique<CMainFrame>();
        frame->show();
        frame->InitialUpdate();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    }
    void cleanup() {
        frame.reset();
        SetHelpPresenter(nullptr);
        client.reset();
    }

    void contextHelpModeShowsTheClickedControlsTopic() {
        // over no window, and over the form itself: the default topic
        QCOMPARE(frame->HelpHitTest(QPoint(-10, -10)), kDefaultHelpId);
        QCOMPARE(frame->HelpHitTest(QPoint(frame->width() + 5, 5)), kDefaultHelpId);
        QWidget* form = frame->TopPane()->Form();
        QCOMPARE(frame->HelpHitTest(form->mapTo(frame.get(), QPoint(3, form->height() - 3))),
                 kDefaultHelpId);
        frame->Action(ID_CONTEXT_HELP)->trigger();
        QVERIFY(QWhatsThis::inWhatsThisMode());
        QCOMPARE(frame->statusBar()->currentMessage(),
                 QString("Select an object on which to get Help"));
        // the click lands on the edit's inner viewport; the edit answers for it
        ClickForHelp(ToEdit->viewport());
        QCOMPARE(help.topics, (std::vector<quint32>{HelpId(IDD_ADDRESS_FORM, IDC_TO)}));
        QWhatsThis::leaveWhatsThisMode();
        QCOMPARE(frame->statusBar()->currentMessage(), QString("For Help, press F1"));
        QCOMPARE(HelpTopicText(0x12345678), QString("No help topic is available for this item."));
    }

    void dialogControlsAnswerWithTheirOwnIds() {
        // the dialogs as the commands run them: modal, active
        QTimer::singleShot(0, [] {
            auto* modes = qobject_cast<CDeliveryModesDlg*>(QApplication::activeModalWidget());
            QVERIFY(modes);
            QVERIFY(QTest::qWaitForWindowActive(modes));
            ClickForHelp(modes->Box(IDC_FAX));
            ClickForHelp(Control<QPushButton>(modes, IDOK));
            modes->Box(IDC_TELEPHONE)->setFocus();
            QTest::keyClick(modes->Box(IDC_TELEPHONE), Qt::Key_F1);
            // Shift+F1 does what the caption's help button does
            QTest::keyClick(modes->Box(IDC_TELEPHONE), Qt::Key_F1, Qt::ShiftModifier);
            const bool helpMode = QWhatsThis::inWhatsThisMode();
            QTest::mouseClick(Control<QGroupBox>(modes, IDC_SELECTIONS), Qt::LeftButton, {},
                              QPoint(3, 3));
            modes->reject();
            QVERIFY(helpMode);
        });
        frame->Action(ID_CHANGE_DELIVERY)->trigger();
        std::vector<quint32> expected;
        for (int control : {IDC_FAX, IDOK, IDC_TELEPHONE, IDC_SELECTIONS})
            expected.push_back(HelpId(IDD_DELIVERY_MODES, control));
        QCOMPARE(help.topics, expected);

        help.topics.clear();
        QTimer::singleShot(0, [] {
            auto* system = qobject_cast<CChangeSystemDlg*>(QApplication::activeModalWidget());
            QVERIFY(system);
            QVERIFY(QTest::qWaitForWindowActive(system));
            system->SystemList()->setFocus();
            QTest::keyClick(system->SystemList(), Qt::Key_F1);
            QTest::keyClick(system->SystemList(), Qt::Key_F1, Qt::ShiftModifier);
            QTest::mouseClick(Control<QLabel>(system, IDC_SYSTEM_LABEL), Qt::LeftButton);
            system->reject();
        });
        frame->Action(ID_CHANGE_SYSTEM)->trigger();
        QCOMPARE(help.topics, (std::vector<quint32>{HelpId(IDD_CHANGE_SYSTEM, IDC_SYSTEM_LIST),
                                                    HelpId(IDD_CHANGE_SYSTEM, IDC_SYSTEM_LABEL)}));
    }

    void f1NamesTheMenuItemTheFocusedControlOrTheContents() {
        QVERIFY(QTest::qWaitForWindowActive(frame.get()));
        QMenu* file = frame->menuBar()->actions().at(0)->menu();
        file->popup(QPoint(0, 0));
        QVERIFY(QTest::qWaitForWindowExposed(file));
        file->setActiveAction(frame->Action(ID_SEND));
        QTest::keyClick(file, Qt::Key_F1);
        file->close();
        QCOMPARE(help.topics, (std::vector<quint32>{kCommandHelpBase + ID_SEND}));
        QCOMPARE(help.contents, 0);

        help.topics.clear();
        SubjectEdit->setFocus();
        QTest::keyClick(SubjectEdit, Qt::Key_F1);
        QCOMPARE(help.topics, (std::vector<quint32>{HelpId(IDD_ADDRESS_FORM, IDC_SUBJECT)}));
        // a place of the window without a topic of its own: the contents
        QWidget* form = frame->TopPane()->Form();
        form->setFocus();
        QTest::keyClick(form, Qt::Key_F1);
        QCOMPARE(help.contents, 1);
        QCOMPARE(help.topics.size(), std::size_t{1});
    }

    void helpModeClickNamesTheCommandAndRunsNothing() {
        QVERIFY(QTest::qWaitForWindowActive(frame.get()));
        QStringList opened; // a dialog a command opened; closed at once so nothing hangs
        QTimer closer;
        closer.callOnTimeout([&opened] {
            if (auto* modal = QApplication::activeModalWidget()) {
                opened << modal->windowTitle();
                modal->close();
            }
        });
        closer.start(20);
        for (int command : {ID_SEND, ID_APP_ABOUT, ID_CONTEXT_HELP}) {
            frame->Action(ID_CONTEXT_HELP)->trigger();
            QTest::mouseClick(ToolButton(*frame, command), Qt::LeftButton);
        }
        // a click on the menu's title opens it; the click on the item names the item
        frame->Action(ID_CONTEXT_HELP)->trigger();
        QMenuBar* bar = frame->menuBar();
        const QPoint title = bar->actionGeometry(bar->actions()[0]).center();
        QTest::mousePress(bar, Qt::LeftButton, {}, title);
        QMenu* file = bar->actions()[0]->menu();
        QTRY_VERIFY(file->isVisible());
        // on X11 the open menu has the pointer, so the title's release comes to it
        QTest::mouseRelease(file, Qt::LeftButton, {}, file->mapFromGlobal(bar->mapToGlobal(title)));
        QVERIFY(file->isVisible());
        QTest::mouseClick(file, Qt::LeftButton, {},
                          file->actionGeometry(frame->Action(ID_SEND)).center());
        QVERIFY(!file->isVisible());
        QTest::qWait(60);
        QCOMPARE(help.topics, (std::vector<quint32>{
                                  kCommandHelpBase + ID_SEND, kCommandHelpBase + ID_APP_ABOUT,
                                  kCommandHelpBase + ID_CONTEXT_HELP, kCommandHelpBase + ID_SEND}));
        QVERIFY(!QWhatsThis::inWhatsThisMode());
        QVERIFY(client->shown.shown.empty()); // Send never ran
        QVERIFY(opened.isEmpty());
    }

    void helpTopicsOpensTheContents() {
        frame->Action(ID_HELP_FINDER)->trigger();
        QCOMPARE(help.contents, 1);
    }
};

QTEST_MAIN(ContextHelpTest)
#include "ContextHelpTest.moc"
