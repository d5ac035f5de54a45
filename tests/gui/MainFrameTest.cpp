#include <QtTest>
#include <QtWidgets>
#include <asio.hpp>
#include <optional>

#include "BitmapButton.h"
#include "Ccsid37.h"
#include "ContextHelp.h"
#include "ExtEdit.h"
#include "FreshProcess.h"
#include "HostEngine.h"
#include "KeyIndicators.h"
#include "MainFrame.h"
#include "OperationProgress.h"
#include "Resource.h"
#include "StatusBar.h"
#include "TemplateWidgets.h"
#include "TextToolBar.h"
#include "TopPaneView.h"
#include "UiResources.h"
#include "cwb.h"

namespace {

// The keyboard's lights as a test sets them.
class TestKeyIndicators final : public IKeyIndicators {
  public:
    using IKeyIndicators::IKeyIndicators;
    std::optional<LockKeyState> State() const override { return lights; }
    void Set(std::optional<LockKeyState> state) {
        lights = state;
        emit Changed();
    }
    std::optional<LockKeyState> lights;
};

} // namespace

// The real main window, offscreen, over an embedded in-memory DEMO host.
class MainFrameTest : public QObject {
    Q_OBJECT

    std::optional<testsupport::FreshProcess> client;
    std::unique_ptr<CMainFrame> frame;

    std::shared_ptr<tavo::server::HostEngine> Host400() { return cwbtest::Engine("DEMO"); }

    void Compose(const std::string& to, const std::string& subject, const std::string& body,
                 bool recipients = true) {
        ToEdit->SetWindowText(to);
        SubjectEdit->SetWindowText(subject);
        BodyEdit->SetWindowText(body);
        (recipients ? frame->TopPane()->Recipients() : frame->TopPane()->Groups())
            ->setChecked(true);
    }

    void PressCtrlS() { QTest::keyClick(ToEdit, Qt::Key_S, Qt::ControlModifier); }

  private slots:
    void initTestCase() { InitUiResources(); }

    void init() {
        client.emplace(testsupport::kDemoOnly);
        frame = std::make_unique<CMainFrame>();
    }
    void cleanup() {
        frame.reset();
        client.reset();
    }

    // Every command the window offers can be found and explained: a label, a status-bar
    // prompt and a help topic each, one size of toolbar button, no access key twice.
    void menusAndToolbarExplainEveryCommand() {
        QList<QAction*> commands;
        QString keys; // the menu bar's, then each menu's
        const auto key = [](QAction* a) {
            return a->text().at(a->text().indexOf('&') + 1).toUpper();
        };
        for (auto* menu : frame->menuBar()->actions()) {
            keys += key(menu);
            QString inMenu;
            for (auto* item : menu->menu()->actions())
                if (!item->isSeparator())
                    commands << item, inMenu += key(item);
            QCOMPARE(QSet<QChar>(inMenu.begin(), inMenu.end()).size(), inMenu.size());
        }
        QCOMPARE(QSet<QChar>(keys.begin(), keys.end()).size(), keys.size());
        QList<QSize> sizes;
        for (auto* button :
             frame->ToolBar()->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly))
            if (button->property("commandId").isValid()) {
                commands << button->defaultAction();
                sizes << button->size();
                QVERIFY(!button->text().isEmpty() && !button->toolTip().isEmpty());
            }
        QCOMPARE(sizes.count(sizes.at(0)), sizes.size());
        QVERIFY(commands.size() > 10);
        for (QAction* command : commands) {
            QVERIFY2(!command->statusTip().isEmpty(), qPrintable(command->text()));
            QVERIFY2(TheHelpTopics().Topic(kCommandHelpBase + command->data().toUInt()),
                     qPrintable(command->text()));
        }
        QVERIFY(frame->Action(ID_CONTEXT_HELP)
                    ->shortcuts()
                    .contains(QKeySequence(Qt::SHIFT | Qt::Key_F1)));
    }

    void paneSplitStatusBarAndCaption() {
        QCOMPARE(frame->windowTitle(), QString("TAVO/400 Express"));
        frame->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
        QCOMPARE(frame->Splitter()->sizes().at(0), frame->InitialTopHeight());
        QCOMPARE(frame->statusBar()->currentMessage(), QString("For Help, press F1"));

        frame->InitialUpdate();
        QCOMPARE(frame->windowTitle(), QString("TAVO/400 Express (Demo)"));
        QTRY_VERIFY(frame->TopPane()->To()->hasFocus()); // typing can start at once

        frame->Action(ID_VIEW_TOOLBAR)->trigger();
        QVERIFY(!frame->ToolBar()->isVisible());
        frame->Action(ID_VIEW_STATUS_BAR)->trigger();
        QVERIFY(!frame->statusBar()->isVisible());
        frame->Action(ID_VIEW_TOOLBAR)->trigger();
        QVERIFY(frame->ToolBar()->isVisible());
    }

    void lockKeyIndicatorsFollowTheKeyboard() {
        // what each pane shows; "(CAP)" for a dimmed one
        const auto shown = [this] {
            QStringList texts;
            for (int id : {ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}) {
                const QLabel* pane = frame->StatusBar()->Indicator(id);
                texts << (pane->isEnabled() ? pane->text() : "(" + pane->text() + ")");
            }
            return texts;
        };
        // offscreen the platform cannot tell
        QCOMPARE(shown(), (QStringList{"(CAP)", "(NUM)", "(SCRL)"}));
        auto* keys = new TestKeyIndicators(frame.get());
        keys->lights = LockKeyState{true, false, false};
        frame->StatusBar()->SetKeyIndicators(keys);
        QCOMPARE(shown(), (QStringList{"CAP", "", ""}));
        keys->Set(LockKeyState{false, true, true});
        QCOMPARE(shown(), (QStringList{"", "NUM", "SCRL"}));
        keys->Set(std::nullopt);
        QCOMPARE(shown(), (QStringList{"(CAP)", "(NUM)", "(SCRL)"}));
    }

    void sendLandsInTheOutboxByteForByte() {
        frame->show();
        frame->InitialUpdate();
        QVERIFY(QTest::qWaitForWindowActive(frame.get()));
        Compose("jsmith, mjones;ops", "  Server down\t(urgent)  ", "line one\r\n\r\nline  two");
        PressCtrlS();
        QCOMPARE(client->shown.shown,
                 (std::vector<std::string>{"Message Successfully Delivered to TAVO/400"}));
        const auto outbox = Host400()->Outbox();
        QCOMPARE(outbox.size(), std::size_t{1});
        const auto record = testsupport::SendRecord({"JSMITH", "MJONES", "OPS"},
                                                    "Server down (urgent)@@line one line  two");
        QCOMPARE(QByteArray::fromStdString(outbox[0].rawRecord),
                 QByteArray::fromStdString(tavo::codepage::ToEbcdic(record)));
        // the fields keep their text
        QCOMPARE(QByteArray::fromStdString(ToEdit->WindowText()), QByteArray("jsmith, mjones;ops"));
        QCOMPARE(QByteArray::fromStdString(BodyEdit->WindowText()),
                 QByteArray("line one\r\n\r\nline  two"));
    }

    void aFailureIsNotConfirmedAndGroupsGoAsGroups() {
        frame->InitialUpdate();
        Compose("network", "", "Shift change", false);
        for (const unsigned rc : {8u, CWB_TIMEOUT}) {
            cwbtest::FailNext("cwbRC_StartSys", rc);
            frame->Action(ID_SEND)->trigger();
        }
        // a code the layer explains gets a line that says what it means
        QCOMPARE(client->shown.shown,
                 (std::vector<std::string>{"Unable to obtain connection to Demo, return code 8",
                                           "Unable to obtain connection to Demo, return code "
                                           "4104\nThe host did not answer in time."}));
        frame->Action(ID_SEND)->trigger();
        QVERIFY(Host400()->Outbox().at(0).groups);
    }

    // A host that takes the connection and never answers, with a long timeout: the window
    // keeps drawing, shows what it waits for, and Cancel ends the wait with nothing sent.
    void aSilentHostNeitherFreezesTheWindowNorOutlastsCancel() {
        asio::io_context io;
        asio::ip::tcp::acceptor silent(io, {asio::ip::make_address("127.0.0.1"), 0});
        client.emplace("[SILENT]\naddress = tcp://127.0.0.1:" +
                       std::to_string(silent.local_endpoint().port()) +
                       "\nuser = oper\npassword = secret42\ntimeout = 30\n");
        CurrentSystem = "SILENT";
        CQtOperationRunner runner;
        SetOperationRunner(&runner);
        frame->show();
        frame->InitialUpdate();
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
        tick.start(20);
        QStringList waitedFor;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, [&waitedFor] {
            if (auto* progress =
                    qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
                waitedFor << progress->labelText();
                QTest::keyClick(progress, Qt::Key_Escape);
            }
        });
        cancel.start(50);
        Compose("SMITH", "Subject", "Body");
        frame->Action(ID_SEND)->trigger();
        QTest::mouseClick(frame->TopPane()->ToButton(), Qt::LeftButton);
        QCOMPARE(waitedFor, (QStringList{QString::fromUtf8("Sending to Silent\u2026"),
                                         QString::fromUtf8("Fetching the recipient list from "
                                                           "Silent\u2026")}));
        QVERIFY2(ticks >= 40, qPrintable(QString::number(ticks))); // two half-second waits
        QCOMPARE(client->shown.shown, (std::vector<std::string>{"Not sent.", "Not sent."}));
        QCOMPARE(QByteArray::fromStdString(ToEdit->WindowText()), QByteArray("SMITH"));
    }

    void toButtonPicksFromTheHostsList() {
        frame->show();
        frame->InitialUpdate();
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            auto* list = dialog->findChild<QTreeWidget*>();
            QTRY_VERIFY(list->topLevelItemCount() > 2);
            list->topLevelItem(1)->setSelected(true);
            QTest::mouseClick(Control<QPushButton>(dialog, IDOK), Qt::LeftButton);
        });
        QTest::mouseClick(frame->TopPane()->ToButton(), Qt::LeftButton);
        const auto name = Host400()->Recipients().at(1).name;
        QCOMPARE(QByteArray::fromStdString(ToEdit->WindowText()).toUpper(),
                 QByteArray::fromStdString(name));
        QVERIFY(client->shown.shown.empty());
    }

    void editingKeysGoToTheFrame() {
        frame->show();
        frame->InitialUpdate();
        QVERIFY(QTest::qWaitForWindowActive(frame.get()));
        QApplication::clipboard()->setText("clip");
        ToEdit->SetWindowText("jsmith");
        ToEdit->selectAll();
        QTest::keyClick(ToEdit, Qt::Key_C, Qt::ControlModifier);
        QTest::keyClick(ToEdit, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(ToEdit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QString("clip"));
        QCOMPARE(QByteArray::fromStdString(ToEdit->WindowText()), QByteArray("jsmith"));
        // F6 goes to the other pane and back
        QTest::keyClick(ToEdit, Qt::Key_F6);
        QTRY_VERIFY(BodyEdit->hasFocus());
        QTest::keyClick(BodyEdit, Qt::Key_F6, Qt::ShiftModifier);
        QTRY_VERIFY(ToEdit->hasFocus());
    }

    void optionsOpenFreshModalDialogs() {
        frame->show();
        frame->InitialUpdate();
        frame->move(90, 40);
        QStringList titles;
        // each dialog, the picker too, opens centred over the main window
        const auto inspect = [&titles, this] {
            auto* dialog = QApplication::activeModalWidget();
            QVERIFY(dialog);
            titles << dialog->windowTitle();
            const QPoint offCentre =
                dialog->frameGeometry().center() - frame->frameGeometry().center();
            QTest::keyClick(dialog, Qt::Key_Escape);
            QVERIFY2(offCentre.manhattanLength() <= 2, qPrintable(titles.back()));
        };
        for (int command : {ID_CHANGE_SYSTEM, ID_CHANGE_DELIVERY, ID_CHANGE_SYSTEM, ID_APP_ABOUT}) {
            QTimer::singleShot(0, inspect);
            frame->Action(command)->trigger();
        }
        QTimer::singleShot(0, inspect);
        frame->TopPane()->ToButton()->click();
        QCOMPARE(titles.size(), 5); // each fresh: the second Change system as the first
        QCOMPARE(titles[2], titles[0]);
    }

    void twoCopiesRunSideBySide() {
        const QString program = QString::fromLocal8Bit(qgetenv("TAVO_EXPRESS"));
        if (program.isEmpty())
            QSKIP("TAVO_EXPRESS not set");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("XDG_DATA_HOME", QString::fromStdString((client->dir / "data").string()));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString((client->dir / "config").string()));
        QProcess first, second;
        for (auto* process : {&first, &second}) {
            process->setProcessEnvironment(env);
            process->setWorkingDirectory(QString::fromStdString(client->dir.string()));
            process->start(program, {});
            QVERIFY(process->waitForStarted());
        }
        QTest::qWait(1500);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(second.state(), QProcess::Running);
        for (auto* process : {&first, &second}) {
            process->terminate();
            process->waitForFinished(5000);
        }
    }
};

QTEST_MAIN(MainFrameTest)
#include "MainFrameTest.moc"
