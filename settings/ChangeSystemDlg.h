#pragma once

#include <QDialog>

class QComboBox;

// Dialog 146: picks the target system among the configured ones. OK makes it current,
// remembers it in an existing settings file and shows it in the main window's title.
class CChangeSystemDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CChangeSystemDlg(QWidget* parent = nullptr);

    QComboBox* SystemList() const { return systems_; }

  public slots:
    void accept() override;

  private:
    QComboBox* systems_ = nullptr;
};
