// The product icon as the windows get it: from the program's icon resource 128, every size the
// drawing program makes, image for image.

#include "icongen/IconPainter.h"
#include "launcher/gui/ProductIcon.h"
#include "support/QtApp.h"

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The largest difference of one channel over all pixels.
int MaxDifference(const QImage& a, const QImage& b) {
    const QImage x = a.convertToFormat(QImage::Format_ARGB32);
    const QImage y = b.convertToFormat(QImage::Format_ARGB32);
    int worst = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int column = 0; column < x.width(); ++column) {
            const QRgb p = x.pixel(column, row), q = y.pixel(column, row);
            // Colour under a transparent pixel does not count.
            if (qAlpha(p) == 0 && qAlpha(q) == 0)
                continue;
            worst = std::max({worst, std::abs(qAlpha(p) - qAlpha(q)), std::abs(qRed(p) - qRed(q)),
                              std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}

TEST(ProductIcon, CarriesTheDrawnImagesAtEverySize) {
    testsupport::EnsureQApplication();
    const QIcon icon = sfx::ProductIcon();
    QList<QSize> expected;
    for (int size : icongen::IconSizes())
        expected.push_back(QSize(size, size));
    ASSERT_EQ(icon.availableSizes(), expected);

    QDir().mkpath(QStringLiteral(SFX_SCREENSHOT_DIR));
    for (int size : icongen::IconSizes()) {
        // At a ratio of one: the drawn image itself, not one scaled for the screen.
        const QImage shown = icon.pixmap(QSize(size, size), 1.0).toImage();
        ASSERT_EQ(shown.size(), QSize(size, size));
        // Same picture as the drawing program makes now: rows in order, colours in place, the
        // icon in the tree redrawn after a change to the drawing.
        EXPECT_LE(MaxDifference(shown, icongen::PaintIcon(size)), 2) << size;
        shown.save(QStringLiteral(SFX_SCREENSHOT_DIR "/icon-%1.png").arg(size));
    }
}

TEST(ProductIcon, IcoFileHoldsBitmapsForSmallSizesAndPngAbove) {
    std::vector<QImage> images;
    for (int size : icongen::IconSizes())
        images.push_back(icongen::PaintIcon(size));
    const QByteArray ico = icongen::WriteIco(images);
    const auto u32 = [&](int at) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(ico[at])) |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(ico[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(ico[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<std::uint8_t>(ico[at + 3])) << 24;
    };
    ASSERT_EQ(static_cast<int>(ico[4]), 5);
    std::uint32_t end = 6 + 16 * 5;
    for (int i = 0; i < 5; ++i) {
        const int entry = 6 + 16 * i;
        const int size = icongen::IconSizes()[static_cast<std::size_t>(i)];
        EXPECT_EQ(static_cast<std::uint8_t>(ico[entry]), size);
        const std::uint32_t bytes = u32(entry + 8), offset = u32(entry + 12);
        EXPECT_EQ(offset, end) << "images follow each other";
        end = offset + bytes;
        const QByteArray data = ico.mid(offset, bytes);
        if (size <= 48) {
            EXPECT_EQ(u32(offset), 40u) << "bitmap header";
            EXPECT_EQ(u32(offset + 8), 2u * size) << "colour and mask rows";
            const int maskStride = ((size + 31) / 32) * 4;
            EXPECT_EQ(bytes, 40u + 4u * size * size + maskStride * size);
        } else {
            EXPECT_TRUE(data.startsWith("\x89PNG")) << size;
        }
    }
    EXPECT_EQ(end, static_cast<std::uint32_t>(ico.size()));
}

} // namespace
