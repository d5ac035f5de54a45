#pragma once

#include <QDialog>

#include "ContextHelp.h"
#include "SystemSelection.h"

class QComboBox;

// Dialog 146: picks the target system among the configured ones. OK makes it current,
// remembers it in an existing settings file and shows it in the main window's title.
class CChangeSystemDlg : public QDialog, public IHelpHitTest {
    Q_OBJECT
  public:
    explicit CChangeSystemDlg(QWidget* parent = nullptr);

    QComboBox* SystemList() const { return systems_; }

    // Answers from its own controls; it does not ask its parent.
    quint32 HelpHitTest(const QPoint& clientPoint) const override;

  public slots:
    void accept() override;

  private:
    QComboBox* systems_ = nullptr;
    SystemChoices choices_;
};
