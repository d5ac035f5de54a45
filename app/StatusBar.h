#pragma once

#include <QList>
#include <QPointer>
#include <QStatusBar>

#include "KeyIndicators.h"

class QLabel;

// The frame's status bar: the message pane, idle with "For Help, press F1", then the
// CAP, NUM and SCRL indicators. An indicator shows its text while its key is on and is
// blank while it is off; where the platform cannot tell, all three stay dimmed.
class CStatusBar : public QStatusBar {
    Q_OBJECT
  public:
    explicit CStatusBar(QWidget* parent = nullptr);

    // Where the lock keys are read: the platform's own until another is set. Not owned.
    void SetKeyIndicators(IKeyIndicators* keys);
    // The indicator with that id (59137 CAP, 59138 NUM, 59139 SCRL).
    QLabel* Indicator(int id) const;

  private:
    void ShowKeyState();

    QList<QLabel*> indicators_;
    QPointer<IKeyIndicators> keys_;
    QMetaObject::Connection keysChanged_;
};
