#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <string_view>

// Dialog units to pixels, from the dialog font's metrics as the platform measures them:
// a horizontal unit is a quarter of the average character width, a vertical unit an
// eighth of the character height.
class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

    // The templates name "MS Sans Serif", a Windows bitmap font. Its nearest on Debian is
    // a Helvetica-metric sans (Liberation Sans, then Nimbus Sans), else DejaVu Sans.
    static QFont DialogFont(std::string_view family, int pointSize);

    int X(int units) const { return (units * baseX_ + 2) / 4; }
    int Y(int units) const { return (units * baseY_ + 4) / 8; }
    QSize Size(int width, int height) const { return {X(width), Y(height)}; }
    QRect Rect(int x, int y, int width, int height) const {
        return {X(x), Y(y), X(width), Y(height)};
    }
    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

  private:
    int baseX_;
    int baseY_;
};
