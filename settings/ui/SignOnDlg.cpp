#include "SignOnDlg.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "HostOperation.h"
#include "QtMessagePresenter.h"
#include "Resource.h"
#include "TemplateWidgets.h"

CSignOnDlg::CSignOnDlg(const QString& system, const QString& user, const QString& reason,
                       QWidget* parent)
    : QDialog(parent) {
    InstallContextHelp();
    const auto& layout = *FindDialogTemplate(IDD_SIGN_ON);
    const DialogUnits units = ApplyDialogTemplate(this, layout);
    const auto caption = SignOnCaption(system.toLatin1().toStdString());
    setWindowTitle(QString::fromLatin1(caption.data(), static_cast<qsizetype>(caption.size())));
    user_ = Control<QLineEdit>(this, IDC_USER_ID);
    password_ = Control<QLineEdit>(this, IDC_PASSWORD);
    reason_ = Control<QLabel>(this, IDC_SIGN_ON_REASON);
    user_->setMaxLength(kMaxUserId);
    password_->setMaxLength(kMaxPassword);
    user_->setText(user);
    reason_->setWordWrap(true);
    reason_->setAlignment(Qt::AlignLeft | Qt::AlignTop); // right under the fields, as drawn
    reason_->setText(reason);
    if (reason.isEmpty()) { // the first ask has nothing to explain: no empty band
        reason_->hide();
        setFixedHeight(units.Y(FindControlTemplate(layout, IDC_SIGN_ON_REASON)->y));
    } else if (const int more = reason_->heightForWidth(reason_->width()) - reason_->height();
               more > 0) { // a host's long message is shown whole
        reason_->resize(reason_->width(), reason_->height() + more);
        setFixedHeight(height() + more);
    }
    Control<QLineEdit>(this, FirstFieldToFill(user.toStdString(), IDC_PASSWORD))->setFocus();
    connect(Control<QPushButton>(this, IDOK), &QPushButton::clicked, this, &QDialog::accept);
    connect(Control<QPushButton>(this, IDCANCEL), &QPushButton::clicked, this, &QDialog::reject);
}

quint32 CSignOnDlg::HelpHitTest(const QPoint& clientPoint) const {
    const quint32 id = HelpIdOf(childAt(clientPoint));
    return id ? id : kDefaultHelpId;
}

bool CWindowSignOn::AskSignOn(const std::string& system, const std::string& reason,
                              std::string& user, std::string& password) {
    // Asked on the host operation's thread; the dialog is the window's.
    HostOperation::AskingUser asking;
    return OnGuiThread([&] { return Ask(system, reason, user, password); });
}

bool CWindowSignOn::Ask(const std::string& system, const std::string& reason, std::string& user,
                        std::string& password) {
    CSignOnDlg dialog(QString::fromLatin1(system.c_str()), QString::fromStdString(user),
                      QString::fromLatin1(reason.c_str()), DialogParent());
    // The host call's wait cursor would say the program is busy while it waits for the user.
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool ok = dialog.exec() == QDialog::Accepted;
    QApplication::restoreOverrideCursor();
    if (!ok)
        return false;
    QByteArray secret = dialog.Password()->text().toUtf8();
    dialog.Password()->clear();
    user = dialog.UserId()->text().toStdString();
    password.assign(secret.constData(), static_cast<std::size_t>(secret.size()));
    secret.fill('\0');
    return true;
}
