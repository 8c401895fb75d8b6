#include "cptlib/ui/qt/DialogUnits.h"
#include "cptlib/ui/qt/FlashWindow.h"
#include "cptlib/ui/qt/VistaDialog.h"
#include "support/QtApp.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace cptlib;

struct SeparatorCase {
    const char* name;
    QColor body;
    QColor footer;
    QColor expected;
};

void PrintTo(const SeparatorCase& c, std::ostream* os) {
    *os << c.name;
}

class Separator : public ::testing::TestWithParam<SeparatorCase> {};

TEST_P(Separator, FollowsTheColourRule) {
    const SeparatorCase& c = GetParam();
    EXPECT_EQ(SeparatorColorFor(c.body, c.footer).name().toStdString(),
              c.expected.name().toStdString());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Separator,
    ::testing::Values(
        // Close colours: the lower value less 0.08 (0.9412 - 0.08 = 0.8612 → 219).
        SeparatorCase{"light_scheme", QColor(255, 255, 255), QColor(240, 240, 240),
                      QColor(219, 219, 219)},
        // Far apart: the separator disappears into the body.
        SeparatorCase{"distinct", QColor(255, 255, 255), QColor(0, 0, 128), QColor(255, 255, 255)},
        SeparatorCase{"distinct_hue", QColor(255, 0, 0), QColor(0, 255, 255), QColor(255, 0, 0)},
        // Equal colours of a high-contrast scheme: a darker or a lighter line.
        SeparatorCase{"equal_white", QColor(255, 255, 255), QColor(255, 255, 255),
                      QColor(234, 234, 234)},
        SeparatorCase{"equal_black", QColor(0, 0, 0), QColor(0, 0, 0), QColor(22, 22, 22)},
        // Hue and saturation of the body: blue at value 0.502 - 0.08.
        SeparatorCase{"equal_blue", QColor(0, 0, 128), QColor(0, 0, 128), QColor(0, 0, 107)},
        SeparatorCase{"dark_scheme", QColor(30, 30, 30), QColor(45, 45, 45),
                      QColor(67, 67, 67)}), // 0.1765 + 0.09 = 0.2665, × 255 truncated
    [](const auto& info) { return std::string(info.param.name); });

class TwoLabelDialog : public CVistaDialog {
public:
    TwoLabelDialog() {
        resize(300, 200);
        body = new QLabel("body", this);
        footer = new QLabel("footer", this);
        button = new QPushButton("OK", this);
    }
    QLabel* body;
    QLabel* footer;
    QPushButton* button;

protected:
    void OnInitDialog() override {
        CVistaDialog::OnInitDialog();
        body->setGeometry(10, 10, 100, 20);
        footer->setGeometry(10, height() - DluToPixelsY(29) + 2, 100, 20);
        button->setGeometry(200, height() - DluToPixelsY(29) + 4, 80, 24);
        UpdateControlColors();
    }
};

TEST(VistaDialog, ControlsTakeTheColourOfTheirArea) {
    testsupport::EnsureQApplication();
    TwoLabelDialog dialog;
    dialog.SetBodyColor(QColor(250, 250, 250));
    dialog.SetFooterColor(QColor(200, 210, 220));
    dialog.show();
    QApplication::processEvents();
    QRect body, footer;
    dialog.GetContentRects(body, footer);
    EXPECT_EQ(footer.height(), DialogUnitsToPixelsY(dialog.font(), 29));
    EXPECT_EQ(body.height() + footer.height(), 200);
    EXPECT_EQ(dialog.body->palette().color(QPalette::Window), QColor(250, 250, 250));
    EXPECT_EQ(dialog.footer->palette().color(QPalette::Window), QColor(200, 210, 220));
    EXPECT_EQ(dialog.button->palette().color(QPalette::Window), QColor(200, 210, 220));

    // Painted: body, one separator row, footer.
    dialog.SetSeparatorColor(QColor(255, 0, 0));
    const QImage image = dialog.grab().toImage();
    // The middle of a pixel of the window, in the picture's own pixels.
    const auto at = [&](int x, int y) {
        const qreal ratio = image.devicePixelRatio();
        return image.pixelColor(static_cast<int>(std::floor((x + 0.5) * ratio)),
                                static_cast<int>(std::floor((y + 0.5) * ratio)));
    };
    EXPECT_EQ(at(150, body.bottom() - 1), QColor(250, 250, 250));
    EXPECT_EQ(at(150, footer.top()), QColor(255, 0, 0));
    EXPECT_EQ(at(150, footer.top() + 1), QColor(200, 210, 220));
    EXPECT_EQ(at(150, 199), QColor(200, 210, 220));
}

TEST(VistaDialog, FooterHeightInPixelsOverridesTheDialogUnits) {
    testsupport::EnsureQApplication();
    CVistaDialog dialog;
    dialog.resize(200, 150);
    EXPECT_EQ(dialog.FooterHeight(), DialogUnitsToPixelsY(dialog.font(), 29));
    dialog.SetFooterHeight(40);
    QRect body, footer;
    dialog.GetContentRects(body, footer);
    EXPECT_EQ(body, QRect(0, 0, 200, 110));
    EXPECT_EQ(footer, QRect(0, 110, 200, 40));
    dialog.SetFooterHeight(-1);
    EXPECT_EQ(dialog.FooterHeight(), DialogUnitsToPixelsY(dialog.font(), 29));
}

TEST(VistaDialog, ColoursStillAtTheirDefaultsFollowATheme) {
    testsupport::EnsureQApplication();
    CVistaDialog dialog;
    dialog.SetFooterColor(QColor(1, 2, 3)); // chosen by the dialog: kept
    QPalette dark = dialog.palette();
    dark.setColor(QPalette::Base, QColor(20, 20, 20));
    dark.setColor(QPalette::Window, QColor(20, 20, 20));
    dialog.setPalette(dark);
    EXPECT_EQ(dialog.BodyColor(), QColor(20, 20, 20));
    EXPECT_EQ(dialog.FooterColor(), QColor(1, 2, 3));
    EXPECT_EQ(dialog.SeparatorColor(), SeparatorColorFor(QColor(20, 20, 20), QColor(20, 20, 20)));
}

TEST(DialogUnits, ScaleByTheFontsAverageLetterAndHeight) {
    testsupport::EnsureQApplication();
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    const DialogBaseUnits small = GetDialogBaseUnits(font);
    font.setPixelSize(24);
    const DialogBaseUnits large = GetDialogBaseUnits(font);
    EXPECT_GT(small.cx, 0);
    EXPECT_NEAR(large.cx, 2 * small.cx, 1);
    EXPECT_NEAR(large.cy, 2 * small.cy, 1);
    EXPECT_EQ(MapDialogRect(font, QRect(0, 0, 4, 8)), QRect(0, 0, large.cx, large.cy));
}

TEST(DialogUnits, MulDivRoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(5, 3, 2), 8);
    EXPECT_EQ(MulDiv(-5, 3, 2), -8);
    EXPECT_EQ(MulDiv(5, -3, 2), -8);
    EXPECT_EQ(MulDiv(7, 1, 4), 2);
    EXPECT_EQ(MulDiv(1, 1, 0), -1);
    EXPECT_EQ(MulDiv(2000000000, 3, 4), 1500000000);
}

TEST(FlashIfNotForeground, OnlyAVisibleWindowThatIsNotActive) {
    testsupport::EnsureQApplication();
    EXPECT_FALSE(FlashIfNotForeground(nullptr));
    QWidget hidden;
    EXPECT_FALSE(FlashIfNotForeground(&hidden));
    QWidget first;
    QWidget second;
    first.show();
    second.show();
    first.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&first));
    EXPECT_FALSE(FlashIfNotForeground(&first));
    EXPECT_TRUE(FlashIfNotForeground(&second, FLASHW_ALL, 0, 0));
    QLabel child(&second);
    EXPECT_TRUE(FlashIfNotForeground(&child)); // the top-level window is the one flashed
}

} // namespace
