#include "DialogUnits.h"

#include <QFontMetrics>
#include <QString>
#include <QStringList>

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The platform averages the 52 letters, rounding up.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    baseX_ = (width / 26 + 1) / 2;
    baseY_ = metrics.height();
}

QFont DialogUnits::DialogFont(std::string_view family, int pointSize) {
    QFont font;
    if (family == "MS Sans Serif")
        font.setFamilies(QStringList{QStringLiteral("Liberation Sans"),
                                     QStringLiteral("Nimbus Sans"), QStringLiteral("DejaVu Sans")});
    else
        font.setFamily(QString::fromLatin1(family.data(), static_cast<qsizetype>(family.size())));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(pointSize);
    return font;
}
