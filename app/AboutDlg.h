#pragma once

#include <QDialog>

// Dialog 100: the program's name, version and notice; closes with OK, Enter or Esc.
class CAboutDlg : public QDialog {
    Q_OBJECT
  public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
