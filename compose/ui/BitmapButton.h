#pragma once

#include <QAbstractButton>
#include <QPixmap>

// A push button that draws one of four pictures: up, down (pressed), focused, disabled.
class CBitmapButton : public QAbstractButton {
    Q_OBJECT
  public:
    explicit CBitmapButton(QWidget* parent = nullptr);
    // Loads "<name>U", "<name>D", "<name>F" and "<name>X" from the images; false when
    // any is missing.
    bool LoadBitmaps(const QString& name);
    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QPixmap up_, down_, focused_, disabled_;
};
