#include "BitmapButton.h"

#include <QPainter>

CBitmapButton::CBitmapButton(QWidget* parent) : QAbstractButton(parent) {}

bool CBitmapButton::LoadBitmaps(const QString& name) {
    const QString base = QStringLiteral(":/images/") + name;
    up_ = QPixmap(base + 'U');
    down_ = QPixmap(base + 'D');
    focused_ = QPixmap(base + 'F');
    disabled_ = QPixmap(base + 'X');
    update();
    return !up_.isNull() && !down_.isNull() && !focused_.isNull() && !disabled_.isNull();
}

QSize CBitmapButton::sizeHint() const {
    return up_.isNull() ? QSize(17, 13) : up_.size();
}

void CBitmapButton::paintEvent(QPaintEvent*) {
    const QPixmap& picture = !isEnabled() ? disabled_
                             : isDown()   ? down_
                             : hasFocus() ? focused_
                                          : up_;
    if (picture.isNull())
        return;
    QPainter painter(this);
    painter.drawPixmap((width() - picture.width()) / 2, (height() - picture.height()) / 2, picture);
}
