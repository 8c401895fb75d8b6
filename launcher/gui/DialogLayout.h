#pragma once
// Placing controls of a dialog written in dialog units, and making room where a translated
// text needs more than the layout gave it.

#include "cptlib/ui/qt/ResizeDlg.h"

#include <QRect>

#include <vector>

class QLabel;
class QPushButton;

namespace sfx {

// Gives `control` the pixels of its rectangle in dialog units.
void PlaceControl(const cptlib::CResizeDlg& dialog, QWidget* control, const QRect& dialogUnits);

// Makes a word-wrapped label as tall as its text needs at its width; what lies below it, and
// the dialog itself, move down by what it grew.
void GrowLabelToFit(QWidget& dialog, QLabel* label);

// Widens the buttons of a row (left to right) to their texts where needed; the row keeps its
// right edge and `gap` pixels between buttons.
void FitButtonRow(const std::vector<QPushButton*>& row, int gap);

} // namespace sfx
