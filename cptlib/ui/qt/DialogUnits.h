#pragma once
// Dialog units as the platform derives them from a dialog's font, and the system's message
// font that every dialog uses in place of the font its layout was written for.

#include <QFont>
#include <QRect>

namespace cptlib {

// Horizontal unit: the average width of the 52 letters of the alphabet; vertical unit: the
// font's height. One dialog unit is a quarter of the first and an eighth of the second.
struct DialogBaseUnits {
    int cx = 0;
    int cy = 0;
};

DialogBaseUnits GetDialogBaseUnits(const QFont& font);

// value × numerator ÷ denominator, rounded to the nearest integer, halves away from zero;
// -1 when the denominator is 0.
int MulDiv(int value, int numerator, int denominator);

// Dialog units to pixels for the given font.
QRect MapDialogRect(const QFont& font, const QRect& dialogUnits);
int DialogUnitsToPixelsX(const QFont& font, int units);
int DialogUnitsToPixelsY(const QFont& font, int units);

// The desktop's font for message texts and its point size; false when there is no
// application to ask (font and size are then left alone).
bool GetMessageBoxFont(QFont& font, int& pointSize);

// The message font, or Qt's default font when there is none.
QFont MessageBoxFont();

// Rounds to the nearest integer with halves away from zero.
int RoundHalfAway(double value);

} // namespace cptlib
