#include "icongen/IconPainter.h"

#include <QBuffer>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <algorithm>
#include <cstdint>

namespace icongen {

namespace {

const QColor kBoxLight(0xE0, 0xA4, 0x5C);
const QColor kBoxDark(0xB5, 0x74, 0x32);
const QColor kBoxInside(0x7A, 0x4A, 0x1E);
const QColor kOutline(0x5C, 0x36, 0x14);
const QColor kArrow(0x1E, 0x88, 0xE5);
const QColor kArrowDark(0x0D, 0x47, 0xA1);

void PutLe(QByteArray& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A bitmap image as .ico files hold it: header, rows bottom-up in BGRA, then the AND mask.
QByteArray BitmapImage(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    const int maskStride = ((w + 31) / 32) * 4;
    QByteArray out;
    PutLe(out, 40, 4);
    PutLe(out, static_cast<std::uint32_t>(w), 4);
    PutLe(out, static_cast<std::uint32_t>(2 * h), 4); // colour rows and mask rows
    PutLe(out, 1, 2);
    PutLe(out, 32, 2);
    PutLe(out, 0, 4);
    PutLe(out, static_cast<std::uint32_t>(w * h * 4 + maskStride * h), 4);
    for (int i = 0; i < 4; ++i)
        PutLe(out, 0, 4);
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            PutLe(out, row[x], 4); // 0xAARRGGBB little-endian is B, G, R, A
    }
    for (int y = h - 1; y >= 0; --y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QByteArray mask(maskStride, '\0');
        for (int x = 0; x < w; ++x) {
            if (qAlpha(row[x]) == 0)
                mask[x / 8] = static_cast<char>(mask[x / 8] | (0x80 >> (x % 8)));
        }
        out.append(mask);
    }
    return out;
}

QByteArray PngImage(const QImage& image) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return out;
}

} // namespace

const std::vector<int>& IconSizes() {
    static const std::vector<int> sizes{16, 32, 48, 64, 96};
    return sizes;
}

QImage PaintIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size;
    // Small sizes get heavier lines and fewer details, so that the shapes stay readable.
    const bool small = size < 32;
    const double line = std::max(1.0, s / (small ? 16.0 : 24.0));
    const double half = line / 2;

    // The box: a front face with the opening behind its top edge and two flaps folded out.
    const double left = s * 0.12 + half, right = s * 0.88 - half;
    const double top = s * 0.50, bottom = s * 0.92 - half;
    const double depth = s * (small ? 0.10 : 0.12);

    QPainterPath inside;
    inside.addRect(
        QRectF(QPointF(left + depth * 0.6, top - depth), QPointF(right - depth * 0.6, top)));
    p.setPen(Qt::NoPen);
    p.setBrush(kBoxInside);
    p.drawPath(inside);

    QPen outline(kOutline, line, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    if (!small) {
        const QPolygonF leftFlap{QPointF(left, top), QPointF(left + depth * 0.6, top - depth),
                                 QPointF(left - depth * 0.2, top - depth * 1.6),
                                 QPointF(left - depth * 0.8, top - depth * 0.3)};
        const QPolygonF rightFlap{QPointF(right, top), QPointF(right - depth * 0.6, top - depth),
                                  QPointF(right + depth * 0.2, top - depth * 1.6),
                                  QPointF(right + depth * 0.8, top - depth * 0.3)};
        p.setPen(outline);
        p.setBrush(kBoxDark);
        p.drawPolygon(leftFlap);
        p.drawPolygon(rightFlap);
    }

    QLinearGradient front(QPointF(0, top), QPointF(0, bottom));
    front.setColorAt(0, kBoxLight);
    front.setColorAt(1, kBoxDark);
    p.setPen(outline);
    p.setBrush(front);
    p.drawRect(QRectF(QPointF(left, top), QPointF(right, bottom)));
    if (!small) {
        // A strip of tape down the middle of the front.
        const double tape = s * 0.10;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xF2, 0xD0, 0x9A));
        p.drawRect(
            QRectF(QPointF(s / 2 - tape / 2, top + half), QPointF(s / 2 + tape / 2, s * 0.64)));
    }

    // The arrow: from above the box down into its opening.
    const double shaft = s * (small ? 0.26 : 0.20);
    const double head = s * (small ? 0.56 : 0.46);
    const double tip = top + depth * (small ? 0.2 : 0.5);
    const double headTop = tip - s * (small ? 0.26 : 0.24);
    const double shaftTop = s * 0.04 + half;
    const QPolygonF arrow{QPointF(s / 2 - shaft / 2, shaftTop),
                          QPointF(s / 2 + shaft / 2, shaftTop),
                          QPointF(s / 2 + shaft / 2, headTop),
                          QPointF(s / 2 + head / 2, headTop),
                          QPointF(s / 2, tip),
                          QPointF(s / 2 - head / 2, headTop),
                          QPointF(s / 2 - shaft / 2, headTop)};
    QLinearGradient blue(QPointF(0, shaftTop), QPointF(0, tip));
    blue.setColorAt(0, kArrow.lighter(115));
    blue.setColorAt(1, kArrow);
    p.setPen(QPen(kArrowDark, line, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(blue);
    p.drawPolygon(arrow);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QByteArray WriteIco(const std::vector<QImage>& images) {
    std::vector<QByteArray> data;
    for (const QImage& image : images)
        data.push_back(image.width() <= 48 ? BitmapImage(image) : PngImage(image));
    QByteArray out;
    PutLe(out, 0, 2);
    PutLe(out, 1, 2);
    PutLe(out, static_cast<std::uint32_t>(images.size()), 2);
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        const int w = images[i].width(), h = images[i].height();
        out.append(static_cast<char>(w >= 256 ? 0 : w));
        out.append(static_cast<char>(h >= 256 ? 0 : h));
        out.append('\0'); // no palette
        out.append('\0');
        PutLe(out, 1, 2);  // planes
        PutLe(out, 32, 2); // bits per pixel
        PutLe(out, static_cast<std::uint32_t>(data[i].size()), 4);
        PutLe(out, offset, 4);
        offset += static_cast<std::uint32_t>(data[i].size());
    }
    for (const QByteArray& bytes : data)
        out.append(bytes);
    return out;
}

} // namespace icongen
