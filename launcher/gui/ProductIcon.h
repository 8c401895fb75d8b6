#pragma once
// The product icon (icon resource 128 of the program) for the windows.

#include <QIcon>

namespace sfx {

// Every image of the icon group; an empty icon when the program carries none.
QIcon ProductIcon();

} // namespace sfx
