#include <QtTest>
#include <QtWidgets>
#include <optional>

#include "BitmapButton.h"
#include "BrowseOptionsDlg.h"
#include "ExtEdit.h"
#include "FreshProcess.h"
#include "HostEngine.h"
#include "HostLink.h"
#include "TVOEditView.h"
#include "TopPaneView.h"
#include "UiResources.h"

// The address pane, the body view and the picker, over an embedded in-memory host.
class PanesTest : public QObject {
    Q_OBJECT

    std::optional<testsupport::FreshProcess> client;

    static QStringList Column(QTreeWidget* list, int column) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }

    static std::unique_ptr<CBrowseOptionsDlg> Picker(const char* listType) {
        auto dialog = std::make_unique<CBrowseOptionsDlg>();
        dialog->m_strListType = listType;
        dialog->show();
        return dialog;
    }

  private slots:
    void initTestCase() { InitUiResources(); }

    void init() {
        client.emplace(testsupport::kDemoOnly);
        cwbtest::Engine("DEMO")->ReplaceDirectory(
            {{"JSMITH", "John Smith"},
             {"MJONES", "Mary Jones"},
             {"*NONE", "Nobody at all"},
             {"OPS", ""}},
            {{"NIGHT", "Night shift", {"OPS"}}, {"DAY", "Day shift", {"JSMITH"}}});
    }
    void cleanup() { client.reset(); }

    void initialUpdateRegistersLimitsChoosesAndChecksRecipients() {
        {
            CTopPaneView gone;
            gone.OnInitialUpdate();
        }
        QVERIFY(!RecipientsRadio && !ToEdit && !SubjectEdit); // nothing left dangling
        CTopPaneView pane;
        pane.OnInitialUpdate();
        QCOMPARE(ToEdit, pane.To());
        QCOMPARE(SubjectEdit, pane.Subject());
        QCOMPARE(RecipientsRadio, pane.Recipients());
        QCOMPARE(pane.To()->LimitText(), std::size_t{500});
        QCOMPARE(pane.Subject()->LimitText(), std::size_t{30});
        QCOMPARE(QString::fromStdString(CurrentSystem), QString("Demo"));
        QVERIFY(pane.Recipients()->isChecked());
        QVERIFY(!pane.Groups()->isChecked());
        QVERIFY(!pane.ToButton()->sizeHint().isEmpty());
        // the pane scrolls instead of squeezing the form
        const QSize form = pane.Form()->size();
        pane.resize(100, 50);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QCOMPARE(pane.Form()->size(), form);
    }

    void toButtonAsksForTheRadiosListAndAppendsOnlyOnOk() {
        CTopPaneView pane;
        pane.OnInitialUpdate();
        pane.OnToButton(); // no picker given: nothing happens
        std::vector<std::string> askedFor;
        int answer = QDialog::Rejected;
        pane.SetPicker([&](const std::string& type, std::vector<std::string>& picked) {
            askedFor.push_back(type);
            picked = {"Ops"};
            return answer;
        });
        pane.To()->SetWindowText("keep  ");
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("keep  "));
        pane.Groups()->setChecked(true);
        answer = QDialog::Accepted;
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("keep\r\nOps"));
        QCOMPARE(askedFor, (std::vector<std::string>{"*RCPL     ", "*GRPL     "}));
    }

    void pickerShowsRecipientsAndGroups() {
        CurrentSystem = "Demo";
        const auto recipients = Picker("*RCPL     ");
        QCOMPARE(recipients->windowTitle(), QString("Select Recipients"));
        QCOMPARE(recipients->List()->headerItem()->text(0), QString("Recipient"));
        // in the host's order; first character as received, the rest lower case
        QCOMPARE(Column(recipients->List(), 0), (QStringList{"", "Jsmith", "Mjones", "Ops"}));
        QCOMPARE(Column(recipients->List(), 1),
                 (QStringList{"Nobody at all", "John Smith", "Mary Jones", ""}));

        const auto groups = Picker("*GRPL");
        QCOMPARE(groups->windowTitle(), QString("Select Groups"));
        QCOMPARE(groups->List()->headerItem()->text(0), QString("Group"));
        QCOMPARE(Column(groups->List(), 0), (QStringList{"Day", "Night"}));

        // an empty directory says so, on a row that cannot be picked
        cwbtest::Engine("DEMO")->ReplaceDirectory({}, {});
        const auto empty = Picker("*GRPL");
        QCOMPARE(Column(empty->List(), 0), (QStringList{"The directory on Demo holds no groups."}));
        empty->List()->selectAll();
        empty->accept();
        QVERIFY(empty->m_arrSelected.empty());
    }

    void pickerReturnsSelectionInRowOrder() {
        CurrentSystem = "Demo";
        const auto dialog = Picker("*RCPL     ");
        dialog->List()->topLevelItem(2)->setSelected(true);
        dialog->List()->topLevelItem(0)->setSelected(true);
        dialog->accept();
        QCOMPARE(dialog->m_arrSelected, (std::vector<std::string>{"", "Mjones"}));

        const auto none = Picker("*RCPL");
        none->accept();
        QVERIFY(none->m_arrSelected.empty());
    }

    void failedFetchShowsNoRows() {
        CurrentSystem = "Demo";
        { CHostLink setUp; } // so the failure below hits a list read
        cwbtest::FailAfter("cwbDQ_Read", 2, CWBDQ_TIMED_OUT, "The host left no end marker.");
        const auto dialog = Picker("*RCPL");
        QCOMPARE(dialog->List()->topLevelItemCount(), 0);
        QCOMPARE(client->shown.shown, (std::vector<std::string>{"The host left no end marker."}));
        dialog->accept();
        QVERIFY(dialog->m_arrSelected.empty());
    }

    void bodyCoversItsViewAlways() {
        CTVOEditView view;
        view.OnInitialUpdate();
        QCOMPARE(BodyEdit, view.Body());
        view.show();
        for (QSize size : {QSize(300, 200), QSize(120, 40), QSize(900, 700)}) {
            view.resize(size);
            QTRY_COMPARE(view.Body()->geometry(), QRect(QPoint(0, 0), size));
        }
        view.Body()->setFocus();
        QTest::keyClicks(view.Body(), QString(970, 'b'));
        QCOMPARE(view.Body()->Length(), std::size_t{967});
    }
};

QTEST_MAIN(PanesTest)
#include "PanesTest.moc"
