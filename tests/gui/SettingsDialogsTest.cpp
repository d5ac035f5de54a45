#include <QtTest>
#include <QtWidgets>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "ChangeSystemDlg.h"
#include "DeliveryModesDlg.h"
#include "FreshProcess.h"
#include "Resource.h"
#include "Strings.h"
#include "SystemSelection.h"
#include "TemplateWidgets.h"

namespace {

using testsupport::ReadFile;
using testsupport::Record;

void WriteFile(const std::string& head) {
    testsupport::WriteFile(Record(head));
}

// The part of a label or box that its text is drawn in.
QRect TextArea(QWidget* control) {
    QStyleOptionButton option;
    option.initFrom(control);
    if (auto* box = qobject_cast<QCheckBox*>(control))
        return box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    if (auto* radio = qobject_cast<QRadioButton*>(control))
        return radio->style()->subElementRect(QStyle::SE_RadioButtonContents, &option, radio);
    return control->contentsRect();
}

QString TextOf(QWidget* control) {
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(control))
        return label->text();
    return {};
}

QRect TemplateRect(const DialogUnits& units, const ControlTemplate& control) {
    return units.Rect(control.x, control.y, control.width, control.height);
}

} // namespace

class SettingsDialogsTest : public QObject {
    Q_OBJECT

    std::optional<testsupport::FreshProcess> client;
    QWidget* mainWindow = nullptr; // stands in for the main frame until it exists

  private slots:
    void init() {
        client.emplace("[systems]\ndefault = SYSB\n"
                       "[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                       "[SYSB]\naddress = embedded\ndatabase = :memory:\n"
                       "[PROD]\naddress = embedded\ndatabase = :memory:\n");
        mainWindow = new QWidget;
        mainWindow->setWindowTitle("TAVO/400 Express");
        SetTitleSetter([this](const std::string& title) {
            mainWindow->setWindowTitle(QString::fromLatin1(title.c_str()));
        });
    }
    void cleanup() {
        delete mainWindow;
        client.reset();
    }

    void deliveryBoxesStartFromTheFlagsByField() {
        DeliveryModes.SaveSettings = 1;
        DeliveryModes.Pager = 0;
        DeliveryModes.Telephone = 0; // shown above Message queue
        CDeliveryModesDlg dlg;
        QVERIFY(!dlg.Box(IDC_PAGER)->isChecked());
        QVERIFY(dlg.Box(IDC_EMAIL)->isChecked());
        QVERIFY(!dlg.Box(IDC_TELEPHONE)->isChecked());
        QVERIFY(dlg.Box(IDC_MESSAGE_QUEUE)->isChecked());
        QVERIFY(dlg.Box(IDC_SAVE_SETTINGS)->isChecked());
    }

    void okWithNoModeShows141AndStaysOpen() {
        CDeliveryModesDlg dlg;
        dlg.show();
        for (int id = IDC_PAGER; id <= IDC_SPOOLED_FILE; ++id)
            dlg.Box(id)->setChecked(false);
        dlg.Box(IDC_SAVE_SETTINGS)->setChecked(true); // does not count as a mode
        QTest::mouseClick(Control<QPushButton>(&dlg, IDOK), Qt::LeftButton);
        QCOMPARE(client->shown.shown, std::vector{LoadString(IDS_SELECT_DELIVERY_MODE)});
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.result(), 0);
        QVERIFY(!std::filesystem::exists("dftsys.ini"));
        QCOMPARE(DeliveryModes.Pager, 1);

        dlg.Box(IDC_MESSAGE_QUEUE)->setChecked(true);
        QTest::mouseClick(Control<QPushButton>(&dlg, IDOK), Qt::LeftButton);
        QVERIFY(!dlg.isVisible());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(DeliveryModes.MessageQueue, 1);
        QCOMPARE(DeliveryModes.Telephone, 0);
        QCOMPARE(DeliveryModes.Pager, 0);
        QCOMPARE(DeliveryModes.SaveSettings, 1);
    }

    void okSavesTheFileEvenWithoutSaving() {
        CurrentSystem = "Sysb";
        DeliveryModes.SaveSettings = 1; // the file must see the boxes, not this
        CDeliveryModesDlg dlg;
        dlg.Box(IDC_PAGER)->setChecked(false);
        dlg.Box(IDC_SAVE_SETTINGS)->setChecked(false);
        dlg.accept();
        QCOMPARE(QByteArray::fromStdString(ReadFile().substr(0, 8)), QByteArray("Sysb\r\nN "));
        QCOMPARE(DeliveryModes.Pager, 0); // in force for this run all the same
    }

    void cancelAndEscapeChangeNothing() {
        WriteFile("Sysa\r\nYY");
        const auto before = ReadFile();
        for (int how = 0; how < 2; ++how) {
            CDeliveryModesDlg dlg;
            dlg.show();
            for (int id = IDC_PAGER; id <= IDC_SAVE_SETTINGS; ++id)
                dlg.Box(id)->setChecked(!dlg.Box(id)->isChecked());
            if (how == 0)
                QTest::mouseClick(Control<QPushButton>(&dlg, IDCANCEL), Qt::LeftButton);
            else
                QTest::keyClick(&dlg, Qt::Key_Escape);
            QVERIFY(!dlg.isVisible());
            QCOMPARE(dlg.result(), int(QDialog::Rejected));
        }
        QCOMPARE(DeliveryModes.Pager, 1);
        QCOMPARE(DeliveryModes.SaveSettings, 0);
        QCOMPARE(ReadFile(), before);
    }

    void okMakesTheChoiceCurrentRemembersAndTitles() {
        CChangeSystemDlg dlg;
        QCOMPARE(dlg.SystemList()->count(), 3);
        QCOMPARE(dlg.SystemList()->itemText(0), QString("Sysa"));
        QCOMPARE(dlg.SystemList()->currentText(), QString("Sysb")); // the default
        WriteFile("Sysa\r\nYY Y");
        dlg.show();
        dlg.SystemList()->setCurrentIndex(2);
        QTest::mouseClick(Control<QPushButton>(&dlg, IDOK), Qt::LeftButton);
        QCOMPARE(QString::fromStdString(CurrentSystem), QString("Prod"));
        QCOMPARE(mainWindow->windowTitle(), QString("TAVO/400 Express (Prod)"));
        QCOMPARE(QByteArray::fromStdString(ReadFile().substr(0, 14)),
                 QByteArray("Prod\r\nYY Y    "));
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }

    void okWithEmptyListClearsTheSystem() {
        CurrentSystem = "Sysa";
        cwbtest::FailNext("cwbCO_GetDefaultSysName", 6601, "No default system.");
        CChangeSystemDlg dlg;
        QCOMPARE(dlg.SystemList()->count(), 0);
        dlg.accept();
        QCOMPARE(QString::fromStdString(CurrentSystem), QString());
        QCOMPARE(mainWindow->windowTitle(), QString("TAVO/400 Express"));
        QVERIFY(!std::filesystem::exists("dftsys.ini")); // never created here
    }

    void cancelLeavesSystemTitleAndFile() {
        WriteFile("Sysa\r\nN");
        CurrentSystem = "Sysa";
        CChangeSystemDlg dlg;
        dlg.show();
        dlg.SystemList()->setCurrentIndex(2);
        QTest::keyClick(&dlg, Qt::Key_Escape);
        QCOMPARE(QString::fromStdString(CurrentSystem), QString("Sysa"));
        QCOMPARE(mainWindow->windowTitle(), QString("TAVO/400 Express"));
        QCOMPARE(QByteArray::fromStdString(ReadFile().substr(0, 4)), QByteArray("Sysa"));
    }

    // Each control where its template puts it, with its text, and whatever font the
    // machine has, no text is cut: a label or box is as wide as its text, a frame holds
    // what it frames, the window holds everything, and nothing grows over a neighbour.
    void everyTemplateShowsItsTextWhole_data() {
        QTest::addColumn<int>("dialogId");
        for (const auto* dialog : AllDialogTemplates())
            QTest::newRow(QByteArray::number(dialog->id)) << dialog->id;
    }
    void everyTemplateShowsItsTextWhole() {
        QFETCH(int, dialogId);
        const DialogTemplate& dialog = *FindDialogTemplate(dialogId);
        QWidget host;
        const DialogUnits units = ApplyDialogTemplate(&host, dialog);
        const QRect window(QPoint(), dialog.childForm ? units.Size(dialog.width, dialog.height)
                                                      : host.size());
        if (!dialog.childForm) {
            QVERIFY(window.contains(QRect(QPoint(), units.Size(dialog.width, dialog.height))));
            QCOMPARE(bool(host.windowFlags() & Qt::WindowContextHelpButtonHint),
                     dialog.contextHelpButton);
        }
        // in template order; a frame sits below the others, so the stacking order is not it
        QList<QWidget*> controls;
        const auto children = host.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        for (const auto& control : dialog.controls) {
            const auto next = std::find_if(children.begin(), children.end(), [&](QWidget* w) {
                return ControlId(w) == control.id && !controls.contains(w);
            });
            QVERIFY(next != children.end());
            controls << *next;
        }
        for (qsizetype i = 0; i < controls.size(); ++i) {
            QWidget* control = controls[i];
            const QString text = TextOf(control);
            const QRect planned = TemplateRect(units, dialog.controls[i]);
            if (!qobject_cast<QGroupBox*>(control)) // a frame may grow round what it holds
                QCOMPARE(control->pos(), planned.topLeft());
            if (qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control))
                QCOMPARE(text, QString::fromLatin1(dialog.controls[i].text));
            if (auto* button = qobject_cast<QPushButton*>(control)) // Enter presses it
                QCOMPARE(button->isDefault(),
                         dialog.controls[i].kind == ControlKind::DefaultPushButton);
            QVERIFY2(window.contains(control->geometry()), qPrintable(text));
            if (!text.isEmpty() && !qobject_cast<QPushButton*>(control) &&
                !qobject_cast<QGroupBox*>(control)) {
                const QFontMetrics metrics(control->font());
                QVERIFY2(TextArea(control).width() >= metrics.horizontalAdvance(text),
                         qPrintable(text));
                QVERIFY2(TextArea(control).height() >= metrics.height(), qPrintable(text));
            }
            for (qsizetype j = 0; j < controls.size(); ++j) {
                const QRect other = TemplateRect(units, dialog.controls[j]);
                auto* box = qobject_cast<QGroupBox*>(controls[j]);
                if (box && i != j && other.contains(planned)) {
                    // inside the frame, clear of its line and title
                    const QRect inside = box->contentsRect().translated(box->pos());
                    QVERIFY2(inside.contains(control->geometry()),
                             qPrintable(text + " in " + box->title()));
                } else if (j > i && !box && !qobject_cast<QGroupBox*>(control) &&
                           !planned.intersects(other)) {
                    QVERIFY2(!control->geometry().intersects(controls[j]->geometry()),
                             qPrintable(text + " over " + TextOf(controls[j])));
                }
            }
        }
    }
};

QTEST_MAIN(SettingsDialogsTest)
#include "SettingsDialogsTest.moc"
