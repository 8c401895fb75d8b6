#include "cptlib/ui/qt/FlashWindow.h"

#include <QApplication>
#include <QWidget>

namespace cptlib {

bool FlashIfNotForeground(QWidget* window, unsigned /*flags*/, unsigned /*count*/,
                          unsigned timeoutMs) {
    if (window == nullptr)
        return false;
    // The taskbar entry belongs to the top-level window.
    QWidget* topLevel = window->window();
    if (topLevel == nullptr || !topLevel->isVisible() || topLevel->isActiveWindow())
        return false;
    QApplication::alert(topLevel, static_cast<int>(timeoutMs));
    return true;
}

} // namespace cptlib
