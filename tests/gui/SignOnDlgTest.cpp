#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "Resource.h"
#include "SignOnDlg.h"
#include "TemplateWidgets.h"
#include "UiResources.h"

namespace {

const QString kRefusal = "Sign-on as OPER to 127.0.0.1:449 refused: the password is not correct.";

// Runs `inside` on the prompt's dialog once it is up, then the prompt itself.
int RunPrompt(const std::function<void(CSignOnDlg*)>& inside, char* user, unsigned long userSize,
              char* password, unsigned long passwordSize, const char* reason = "") {
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CSignOnDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        inside(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    return SignOnPrompt("Sysa", reason, user, userSize, password, passwordSize, nullptr);
}

} // namespace

class SignOnDlgTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { InitUiResources(); }

    void fieldsLabelsAndReason_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("reason");
        QTest::newRow("first ask, user configured") << QString("OPER") << QString();
        QTest::newRow("first ask, no user") << QString() << QString();
        QTest::newRow("asked again") << QString("OPER") << kRefusal;
    }
    void fieldsLabelsAndReason() {
        QFETCH(QString, user);
        QFETCH(QString, reason);
        CSignOnDlg dialog("Sysa", user, reason);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QString("Sign on to Sysa"));
        QCOMPARE(Control<QLabel>(&dialog, IDC_USER_ID_LABEL)->text(), QString("User ID:"));
        QCOMPARE(Control<QLabel>(&dialog, IDC_PASSWORD_LABEL)->text(), QString("Password:"));
        auto* ok = Control<QPushButton>(&dialog, IDOK);
        QCOMPARE(ok->text(), QString("OK"));
        QVERIFY(ok->isDefault());
        QCOMPARE(Control<QPushButton>(&dialog, IDCANCEL)->text(), QString("Cancel"));
        QCOMPARE(dialog.UserId()->text(), user);
        QCOMPARE(dialog.Password()->echoMode(), QLineEdit::Password);
        QVERIFY(dialog.Password()->text().isEmpty());
        // typing goes where the answer is missing
        QCOMPARE(dialog.focusWidget(), user.isEmpty() ? dialog.UserId() : dialog.Password());
        QCOMPARE(dialog.Reason()->isVisible(), !reason.isEmpty());
        if (reason.isEmpty()) {
            QVERIFY(dialog.height() < dialog.Reason()->geometry().bottom());
        } else {
            QCOMPARE(dialog.Reason()->text(), reason);
            QVERIFY(dialog.rect().contains(dialog.Reason()->geometry()));
            QVERIFY(dialog.Reason()->heightForWidth(dialog.Reason()->width()) <=
                    dialog.Reason()->height());
        }
    }

    void promptFillsTheAreasOnOkAndNothingOnCancel() {
        char user[4 * 128 + 1] = "OPER";
        char password[4 * 128 + 1] = {};
        // the host call's wait cursor gives way while the user types
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const int ok = RunPrompt(
            [](CSignOnDlg* dialog) {
                QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
                QCOMPARE(dialog->UserId()->text(), QString("OPER"));
                QCOMPARE(dialog->Reason()->text(), kRefusal);
                dialog->UserId()->setText("ops");
                QTest::keyClicks(dialog->Password(), "p");
                dialog->Password()->insert(QString::fromUtf8("\xc3\xa4ss w\xc3\xb6"));
                QTest::keyClicks(dialog->Password(), "rd");
                QTest::keyClick(dialog->Password(), Qt::Key_Return);
            },
            user, sizeof user, password, sizeof password, kRefusal.toLatin1().constData());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        QCOMPARE(ok, 1);
        QCOMPARE(QByteArray(user), QByteArray("ops"));
        QCOMPARE(QByteArray(password), QByteArray("p\xc3\xa4ss w\xc3\xb6rd")); // UTF-8

        char untouched[8] = "keep";
        const int cancelled = RunPrompt(
            [](CSignOnDlg* dialog) {
                QTest::keyClicks(dialog->Password(), "typed");
                QTest::mouseClick(Control<QPushButton>(dialog, IDCANCEL), Qt::LeftButton);
            },
            user, sizeof user, untouched, sizeof untouched);
        QCOMPARE(cancelled, 0);
        QCOMPARE(QByteArray(untouched), QByteArray("keep"));
    }
};

QTEST_MAIN(SignOnDlgTest)
#include "SignOnDlgTest.moc"
