#include <QtTest>
#include <QtWidgets>
#include <functional>

#include "ChangePasswordDlg.h"
#include "ProcessState.h"
#include "RecordingPresenter.h"
#include "Resource.h"
#include "SignOn.h"
#include "SignOnDlg.h"
#include "TemplateWidgets.h"
#include "UiResources.h"
#include "cwbtest.h"

namespace {

const QString kRefusal = "Sign-on as OPER to 127.0.0.1:449 refused: the password is not correct.";

// Runs `inside` on the prompt's dialog once it is up, then the prompt itself.
bool RunPrompt(const std::function<void(CSignOnDlg*)>& inside, std::string& user,
               std::string& password, const std::string& reason = "") {
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CSignOnDlg*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        inside(dialog);
        if (dialog->isVisible())
            dialog->reject();
    });
    CWindowSignOn prompt;
    return prompt.AskSignOn("Sysa", reason, user, password);
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
            // under the fields, and the dialog grown down to hold all of it
            QVERIFY(dialog.Reason()->y() > dialog.Password()->geometry().bottom());
            QVERIFY(dialog.rect().contains(dialog.Reason()->geometry()));
            QVERIFY(dialog.Reason()->heightForWidth(dialog.Reason()->width()) <=
                    dialog.Reason()->height());
        }
    }

    void promptGivesTheAnswerOnOkAndNothingOnCancel() {
        std::string user = "OPER", password;
        // the host call's wait cursor gives way while the user types
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const bool ok = RunPrompt(
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
            user, password, kRefusal.toStdString());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        QVERIFY(ok);
        QCOMPARE(user, std::string("ops"));
        QCOMPARE(password, std::string("p\xc3\xa4ss w\xc3\xb6rd")); // UTF-8

        std::string untouched = "keep";
        const bool cancelled = RunPrompt(
            [](CSignOnDlg* dialog) {
                QTest::keyClicks(dialog->Password(), "typed");
                QTest::mouseClick(Control<QPushButton>(dialog, IDCANCEL), Qt::LeftButton);
            },
            user, untouched);
        QVERIFY(!cancelled);
        QCOMPARE(untouched, std::string("keep"));
    }

    void changeDialogOpensFromTheExpiryWarningWithMaskedFields() {
        cwbtest::UseSystems("[SYSA]\naddress = embedded\nuser = OPER\n");
        CurrentSystem = "SYSA";
        cwb::NotePasswordExpiry("SYSA", 2); // as a warned sign-on notes it
        RecordingPresenter presenter;
        presenter.answerYes = true;
        SetMessagePresenter(&presenter);
        bool opened = false;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<CChangePasswordDlg*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            opened = true;
            QCOMPARE(dialog->UserId()->text(), QString("OPER"));
            for (QLineEdit* secret :
                 {dialog->OldPassword(), dialog->NewPassword(), dialog->Confirmation()})
                QCOMPARE(secret->echoMode(), QLineEdit::Password);
            dialog->reject();
        });
        OfferPasswordChange(nullptr, 0);
        SetMessagePresenter(nullptr);
        QVERIFY(opened);
        QCOMPARE(presenter.shown, std::vector<std::string>{
                                      "Your password on SYSA expires in 2 days. Change it now?"});
        ResetProcessState();
    }
};

QTEST_MAIN(SignOnDlgTest)
#include "SignOnDlgTest.moc"
