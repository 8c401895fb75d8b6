#include "cptlib/ui/qt/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

#include <cmath>
#include <cstdint>

namespace cptlib {

DialogBaseUnits GetDialogBaseUnits(const QFont& font) {
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    DialogBaseUnits units;
    units.cx = (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
    units.cy = metrics.height();
    return units;
}

int MulDiv(int value, int numerator, int denominator) {
    if (denominator == 0)
        return -1;
    const std::int64_t product = static_cast<std::int64_t>(value) * numerator;
    const std::int64_t half = std::abs(static_cast<std::int64_t>(denominator)) / 2;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude =
        (std::abs(product) + half) / std::abs(static_cast<std::int64_t>(denominator));
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapDialogRect(const QFont& font, const QRect& dialogUnits) {
    const DialogBaseUnits units = GetDialogBaseUnits(font);
    const int left = MulDiv(dialogUnits.left(), units.cx, 4);
    const int top = MulDiv(dialogUnits.top(), units.cy, 8);
    const int right = MulDiv(dialogUnits.left() + dialogUnits.width(), units.cx, 4);
    const int bottom = MulDiv(dialogUnits.top() + dialogUnits.height(), units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}

int DialogUnitsToPixelsX(const QFont& font, int units) {
    return MulDiv(units, GetDialogBaseUnits(font).cx, 4);
}

int DialogUnitsToPixelsY(const QFont& font, int units) {
    return MulDiv(units, GetDialogBaseUnits(font).cy, 8);
}

bool GetMessageBoxFont(QFont& font, int& pointSize) {
    if (QApplication::instance() == nullptr)
        return false;
    // The platform theme registers its message font for the message-box class.
    font = QApplication::font("QMessageBox");
    pointSize = font.pointSize() > 0 ? font.pointSize() : RoundHalfAway(font.pointSizeF());
    return true;
}

QFont MessageBoxFont() {
    QFont font;
    int pointSize = 0;
    GetMessageBoxFont(font, pointSize);
    return font;
}

int RoundHalfAway(double value) {
    return static_cast<int>(std::round(value));
}

} // namespace cptlib
