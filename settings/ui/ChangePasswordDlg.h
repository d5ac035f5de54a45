#pragma once

#include <QDialog>
#include <string>

#include "ContextHelp.h"

class QLabel;
class QLineEdit;

// Dialog 151: a new password for a system's user. OK forwards the fields to the change of
// password and closes once the host has taken the new one; a refusal is shown and the
// dialog stays, its fields kept for another try.
class CChangePasswordDlg : public QDialog, public IHelpHitTest {
    Q_OBJECT
  public:
    // `system` as the program keeps names (Latin-1); `user` UTF-8.
    CChangePasswordDlg(const std::string& system, const std::string& user,
                       QWidget* parent = nullptr);

    QLineEdit* UserId() const { return user_; }
    QLineEdit* OldPassword() const { return old_; }
    QLineEdit* NewPassword() const { return new_; }
    QLineEdit* Confirmation() const { return confirmation_; }

    quint32 HelpHitTest(const QPoint& clientPoint) const override;

  private:
    void OnOk();

    std::string system_;
    QLineEdit* user_ = nullptr;
    QLineEdit* old_ = nullptr;
    QLineEdit* new_ = nullptr;
    QLineEdit* confirmation_ = nullptr;
};

// After a host call to the current system that ended with `returnCode`: opens the dialog
// when the password has expired, or asks first when it expires soon (once per run).
void OfferPasswordChange(QWidget* parent, unsigned long returnCode);
