#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <optional>
#include <unistd.h>

#include "BitmapButton.h"
#include "BrowseOptionsDlg.h"
#include "ExtEdit.h"
#include "GuiTestSupport.h"
#include "HostEngine.h"
#include "HostLink.h"
#include "HostState.h"
#include "MessagePresenter.h"
#include "ProcessState.h"
#include "Resource.h"
#include "TVOEditView.h"
#include "TemplateWidgets.h"
#include "TopPaneView.h"
#include "UiResources.h"
#include "cwbtest.h"

// The address pane, the body view and the picker, over an embedded in-memory host.
class PanesTest : public QObject {
    Q_OBJECT

    std::optional<FreshClient> client;
    std::vector<std::string> askedFor;

    // A picker that hands back fixed names.
    void StubPicker(int result, std::vector<std::string> names) {
        CTopPaneView::SetPicker(
            [this, result, names](const std::string& type, std::vector<std::string>& picked) {
                askedFor.push_back(type);
                picked = names;
                return result;
            });
    }

    static QStringList Column(QTreeWidget* list, int column) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            texts << list->topLevelItem(i)->text(column);
        return texts;
    }

  private slots:
    void initTestCase() { InitUiResources(); }

    void init() {
        client.emplace("panes");
        askedFor.clear();
        cwbtest::Engine("DEMO")->ReplaceDirectory(
            {{"JSMITH", "John Smith"},
             {"MJONES", "Mary Jones"},
             {"*NONE", "Nobody at all"},
             {"OPS", ""}},
            {{"NIGHT", "Night shift", {"OPS"}}, {"DAY", "Day shift", {"JSMITH"}}});
    }
    void cleanup() {
        CTopPaneView::SetPicker(nullptr);
        client.reset();
    }

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
    }

    void formFollowsTemplate() {
        CTopPaneView pane;
        const auto* form = FindDialogTemplate(IDD_ADDRESS_FORM);
        const DialogUnits units(pane.Form()->font());
        QCOMPARE(pane.Form()->size(), units.Size(278, 74));
        QCOMPARE(pane.To()->geometry(), units.Rect(42, 7, 108, 43));
        QCOMPARE(HelpId(pane.To()), quint32(0x808303EE));
        QCOMPARE(pane.Recipients()->text(), QString("Recipients"));
        QVERIFY(pane.Recipients()->focusPolicy() != Qt::StrongFocus); // no tab stop
        QCOMPARE(FindControlTemplate(*form, IDC_GROUPS)->text, std::string_view("Groups"));
        // the pane scrolls instead of squeezing the form
        pane.resize(100, 50);
        pane.show();
        QVERIFY(QTest::qWaitForWindowExposed(&pane));
        QCOMPARE(pane.Form()->size(), units.Size(278, 74));
    }

    void toButtonAsksForTheListOfTheRadio() {
        CTopPaneView pane;
        pane.OnInitialUpdate();
        StubPicker(QDialog::Rejected, {});
        pane.OnToButton();
        pane.Groups()->setChecked(true);
        pane.OnToButton();
        QCOMPARE(askedFor, (std::vector<std::string>{"*RCPL     ", "*GRPL     "}));
    }

    void toButtonAppendsPickedNames() {
        CTopPaneView pane;
        pane.OnInitialUpdate();
        StubPicker(QDialog::Accepted, {"Jsmith", "Mjones"});
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()),
                 QByteArray("Jsmith\r\nMjones"));

        pane.To()->SetWindowText("jsmith   \r\n");
        StubPicker(QDialog::Accepted, {"Ops"});
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("jsmith\r\nOps"));

        pane.To()->SetWindowText("keep  \r\n");
        StubPicker(QDialog::Rejected, {"Ops"});
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("keep  \r\n"));

        StubPicker(QDialog::Accepted, {});
        pane.OnToButton();
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("keep\r\n"));
    }

    void toButtonWithTheRealPicker() {
        CTopPaneView pane;
        pane.OnInitialUpdate();
        pane.show();
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<CBrowseOptionsDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTRY_COMPARE(dialog->List()->topLevelItemCount(), 4);
            dialog->List()->topLevelItem(3)->setSelected(true); // Ops
            dialog->List()->topLevelItem(1)->setSelected(true); // Jsmith
            QTest::mouseClick(Control<QPushButton>(dialog, IDOK), Qt::LeftButton);
        });
        QTest::mouseClick(pane.ToButton(), Qt::LeftButton);
        QCOMPARE(QByteArray::fromStdString(pane.To()->WindowText()), QByteArray("Jsmith\r\nOps"));
        QVERIFY(client->shown.shown.empty());
    }

    void pickerShowsRecipientsAndGroups() {
        CurrentSystem = "Demo";
        CBrowseOptionsDlg recipients;
        recipients.m_strListType = "*RCPL     ";
        recipients.show();
        QCOMPARE(recipients.windowTitle(), QString("Select Recipients"));
        QCOMPARE(recipients.List()->headerItem()->text(0), QString("Recipient"));
        QCOMPARE(recipients.List()->headerItem()->text(1), QString("Description"));
        QCOMPARE(recipients.List()->header()->sectionSize(0), 100);
        QCOMPARE(recipients.List()->header()->sectionSize(1), 300);
        // in the host's order; first character as received, the rest lower case
        QCOMPARE(Column(recipients.List(), 0), (QStringList{"", "Jsmith", "Mjones", "Ops"}));
        QCOMPARE(Column(recipients.List(), 1),
                 (QStringList{"Nobody at all", "John Smith", "Mary Jones", ""}));

        CBrowseOptionsDlg groups;
        groups.m_strListType = "*GRPL";
        groups.show();
        QCOMPARE(groups.windowTitle(), QString("Select Groups"));
        QCOMPARE(groups.List()->headerItem()->text(0), QString("Group"));
        QCOMPARE(Column(groups.List(), 0), (QStringList{"Day", "Night"}));
    }

    void pickerReturnsSelectionInRowOrder() {
        CurrentSystem = "Demo";
        CBrowseOptionsDlg dialog;
        dialog.m_strListType = "*RCPL     ";
        dialog.show();
        dialog.List()->topLevelItem(2)->setSelected(true);
        dialog.List()->topLevelItem(0)->setSelected(true);
        dialog.accept();
        QCOMPARE(dialog.m_arrSelected, (std::vector<std::string>{"", "Mjones"}));

        CBrowseOptionsDlg none;
        none.m_strListType = "*RCPL";
        none.show();
        none.accept();
        QVERIFY(none.m_arrSelected.empty());

        CBrowseOptionsDlg cancelled;
        cancelled.m_strListType = "*RCPL";
        cancelled.show();
        cancelled.List()->topLevelItem(1)->setSelected(true);
        cancelled.reject();
        QVERIFY(cancelled.m_arrSelected.empty());
    }

    void failedFetchShowsNoRows() {
        CurrentSystem = "Demo";
        { CHostLink setUp; } // so the failure below hits a list read
        cwbtest::FailAfter("cwbDQ_Read", 2, CWBDQ_TIMED_OUT, "The host left no end marker.");
        CBrowseOptionsDlg dialog;
        dialog.m_strListType = "*RCPL";
        dialog.show();
        QCOMPARE(dialog.List()->topLevelItemCount(), 0);
        QCOMPARE(dialog.windowTitle(), QString("Select Recipients"));
        QCOMPARE(client->shown.shown, (std::vector<std::string>{"The host left no end marker."}));
        dialog.accept();
        QVERIFY(dialog.m_arrSelected.empty());

        // and without a system: message 137, headings, no rows
        client->shown.shown.clear();
        CurrentSystem.clear();
        CBrowseOptionsDlg noSystem;
        noSystem.m_strListType = "*GRPL";
        noSystem.show();
        QCOMPARE(noSystem.List()->topLevelItemCount(), 0);
        QCOMPARE(noSystem.List()->headerItem()->text(0), QString("Group"));
        QCOMPARE(client->shown.shown.size(), std::size_t{1});
    }

    void bodyCoversItsViewAlways() {
        CTVOEditView view;
        view.OnInitialUpdate();
        QCOMPARE(BodyEdit, view.Body());
        QCOMPARE(view.Body()->LimitText(), std::size_t{967});
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
