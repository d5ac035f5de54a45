#pragma once

#include <QDialog>
#include <string>

#include "ContextHelp.h"
#include "SignOnPrompt.h"

class QLabel;
class QLineEdit;

// Dialog 150: the user and password for a system whose password is not configured.
// `reason`, when not empty, says why the host refused the last attempt.
class CSignOnDlg : public QDialog, public IHelpHitTest {
    Q_OBJECT
  public:
    CSignOnDlg(const QString& system, const QString& user, const QString& reason,
               QWidget* parent = nullptr);

    QLineEdit* UserId() const { return user_; }
    QLineEdit* Password() const { return password_; }
    QLabel* Reason() const { return reason_; }

    quint32 HelpHitTest(const QPoint& clientPoint) const override;

  private:
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLabel* reason_ = nullptr;
};

// The window's sign-on prompt: runs the dialog over the active window.
class CWindowSignOn final : public ISignOnPrompter {
  public:
    bool AskSignOn(const std::string& system, const std::string& reason, std::string& user,
                   std::string& password) override;

  private:
    static bool Ask(const std::string& system, const std::string& reason, std::string& user,
                    std::string& password);
};
