#include "launcher/gui/DialogLayout.h"

#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace sfx {

void PlaceControl(const cptlib::CResizeDlg& dialog, QWidget* control, const QRect& dialogUnits) {
    control->setGeometry(dialog.MapDialogRect(dialogUnits));
}

void GrowLabelToFit(QWidget& dialog, QLabel* label) {
    const int needed = label->heightForWidth(label->width());
    const int grow = needed - label->height();
    if (grow <= 0)
        return;
    const int below = label->geometry().bottom();
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child != label && child->geometry().top() > below)
            child->move(child->x(), child->y() + grow);
    }
    label->resize(label->width(), needed);
    dialog.setFixedSize(dialog.width(), dialog.height() + grow);
}

void FitButtonRow(const std::vector<QPushButton*>& row, int gap) {
    if (row.empty())
        return;
    int right = row.back()->geometry().right();
    for (auto it = row.rbegin(); it != row.rend(); ++it) {
        QPushButton* button = *it;
        const int width = std::max(button->width(), button->sizeHint().width());
        button->setGeometry(right - width + 1, button->y(), width, button->height());
        right = button->x() - gap - 1;
    }
}

} // namespace sfx
