#include "ChangePasswordDlg.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "HostOperation.h"
#include "MessagePresenter.h"
#include "Operations.h"
#include "PasswordChange.h"
#include "ProcessState.h"
#include "Resource.h"
#include "SignOnPrompt.h"
#include "TemplateWidgets.h"

namespace {

QString Latin1(const std::string& text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// The field's text as UTF-8, the caller's to wipe; the field keeps it for another try.
std::string TakeSecret(QLineEdit* field) {
    QByteArray bytes = field->text().toUtf8();
    std::string secret(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    bytes.fill('\0');
    return secret;
}

} // namespace

CChangePasswordDlg::CChangePasswordDlg(const std::string& system, const std::string& user,
                                       QWidget* parent)
    : QDialog(parent), system_(system) {
    InstallContextHelp();
    ApplyDialogTemplate(this, *FindDialogTemplate(IDD_CHANGE_PASSWORD));
    setWindowTitle(Latin1(PasswordChangeCaption(system)));
    Control<QLabel>(this, IDC_SYSTEM_NAME)->setText(Latin1(system));
    user_ = Control<QLineEdit>(this, IDC_USER_ID);
    old_ = Control<QLineEdit>(this, IDC_OLD_PASSWORD);
    new_ = Control<QLineEdit>(this, IDC_NEW_PASSWORD);
    confirmation_ = Control<QLineEdit>(this, IDC_CONFIRM_PASSWORD);
    user_->setMaxLength(kMaxUserId);
    for (QLineEdit* secret : {old_, new_, confirmation_})
        secret->setMaxLength(kMaxPassword);
    user_->setText(QString::fromStdString(user));
    Control<QLineEdit>(this, FirstFieldToFill(user, IDC_OLD_PASSWORD))->setFocus();
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this,
            &CChangePasswordDlg::OnOk);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

void CChangePasswordDlg::OnOk() {
    PasswordChangeForm form{system_, user_->text().toStdString(), TakeSecret(old_),
                            TakeSecret(new_), TakeSecret(confirmation_)};
    PasswordChangeResult result;
    {
        // The host is asked off the window's thread, as a send is: the wait cursor says so.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        RunHostOperation(PasswordChangeProgress(system_), [&form, &result] {
            result = ChangePassword(form);
            return Outcome{};
        });
        QApplication::restoreOverrideCursor();
    }
    for (std::string* secret : {&form.oldPassword, &form.newPassword, &form.confirmation})
        std::fill(secret->begin(), secret->end(), '\0');
    ShowMessageBox(result.text);
    if (const int retry = PasswordFieldToRetry(result))
        Control<QLineEdit>(this, retry)->setFocus();
    else
        accept();
}

quint32 CChangePasswordDlg::HelpHitTest(const QPoint& clientPoint) const {
    const quint32 id = HelpIdOf(childAt(clientPoint));
    return id ? id : kDefaultHelpId;
}

void OfferPasswordChange(QWidget* parent, unsigned long returnCode) {
    const std::string system = CurrentSystem;
    const auto offer = PasswordChangeOfferAfter(system, returnCode);
    if (!offer.offer)
        return;
    // The host call's wait cursor would say the program is busy while it waits for the user.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    if (PutPasswordChangeOffer(offer)) {
        CChangePasswordDlg dialog(system, SignOnUser(system), parent);
        dialog.exec();
    }
    QApplication::restoreOverrideCursor();
}
