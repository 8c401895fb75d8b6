#pragma once

class QWidget;

namespace cptlib {

constexpr unsigned FLASHW_CAPTION = 1;
constexpr unsigned FLASHW_TRAY = 2;
constexpr unsigned FLASHW_ALL = FLASHW_CAPTION | FLASHW_TRAY;

// Asks the desktop to draw attention to the window's taskbar entry unless the window is
// active. `count` has no counterpart on the desktop; `timeoutMs` 0 flashes until the window
// is activated. False when there is no window, it is active, or it has no visible top level.
bool FlashIfNotForeground(QWidget* window, unsigned flags = FLASHW_ALL, unsigned count = 0,
                          unsigned timeoutMs = 0);

} // namespace cptlib
