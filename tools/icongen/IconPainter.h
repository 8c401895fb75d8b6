#pragma once
// The product icon: an open package with an arrow going into it, drawn for each icon size,
// and the .ico file that carries the images.

#include <QByteArray>
#include <QImage>

#include <vector>

namespace icongen {

// The sizes the icon carries: 16, 32 and 48 pixels, and 64 and 96 for 200 % displays.
const std::vector<int>& IconSizes();

// The icon drawn at `size` pixels, non-premultiplied ARGB.
QImage PaintIcon(int size);

// An .ico file with the images in order: 32-bit bitmaps up to 48 pixels, PNG above.
QByteArray WriteIco(const std::vector<QImage>& images);

} // namespace icongen
