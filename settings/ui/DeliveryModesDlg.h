#pragma once

#include <QDialog>

#include "ContextHelp.h"

class QCheckBox;

// Dialog 148: which delivery modes the host is to use from now on, and whether the next
// start restores them. Telephone is shown above Message queue; boxes map to modes by
// field, never by position.
class CDeliveryModesDlg : public QDialog, public IHelpHitTest {
    Q_OBJECT
  public:
    explicit CDeliveryModesDlg(QWidget* parent = nullptr);

    QCheckBox* Box(int controlId) const;

    // Asked for the help context of a point, the dialog asks its parent window.
    quint32 HelpHitTest(const QPoint& clientPoint) const override;

  public slots:
    void accept() override; // OK: refuses an empty selection, else stores and saves

  private:
    QCheckBox* boxes_[8] = {}; // in the order of kDeliveryModeBoxIds
};
