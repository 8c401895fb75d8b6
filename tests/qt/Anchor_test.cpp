#include "cptlib/ui/qt/ResizeDlg.h"
#include "support/QtApp.h"

#include <QApplication>
#include <QLabel>
#include <QSizeGrip>

#include <gtest/gtest.h>

namespace {

using cptlib::AnchorRect;
using cptlib::CResizeDlg;
using cptlib::LayoutRect;

struct AnchorCase {
    const char* name;
    std::uint32_t flags;
    LayoutRect control;
    LayoutRect reference;
    LayoutRect client;
    LayoutRect expected;
};

void PrintTo(const AnchorCase& c, std::ostream* os) {
    *os << c.name;
}

class Anchoring : public ::testing::TestWithParam<AnchorCase> {};

TEST_P(Anchoring, MovesTheEdgesAsTheFlagsSay) {
    const AnchorCase& c = GetParam();
    const LayoutRect r = AnchorRect(c.control, c.flags, c.client, c.reference);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
}

constexpr LayoutRect kControl{10, 20, 50, 40};
constexpr LayoutRect kRef{0, 0, 200, 100};
constexpr LayoutRect kWider{0, 0, 300, 140}; // 100 wider, 40 higher

INSTANTIATE_TEST_SUITE_P(
    Cases, Anchoring,
    ::testing::Values(
        AnchorCase{"stretch", 0xF, kControl, kRef, kWider, {10, 20, 150, 80}},
        AnchorCase{"bottom_right", 0xC, kControl, kRef, kWider, {110, 60, 150, 80}},
        AnchorCase{"centred", 0x0, kControl, kRef, kWider, {60, 40, 100, 60}},
        AnchorCase{"top_left", 0x3, kControl, kRef, kWider, {10, 20, 50, 40}},
        AnchorCase{"left_only_keeps_x_centres_y", 0x2, kControl, kRef, kWider, {10, 40, 50, 60}},
        AnchorCase{"top_and_right", 0x5, kControl, kRef, kWider, {110, 20, 150, 40}},
        AnchorCase{"left_and_bottom", 0xA, kControl, kRef, kWider, {10, 60, 50, 80}},
        AnchorCase{"snap_all_edges", 0xF00, kControl, kRef, kWider, {0, 0, 300, 140}},
        AnchorCase{"snap_right_after_move", 0x403, kControl, kRef, kWider, {10, 20, 300, 40}},
        AnchorCase{"shrinking", 0xF, kControl, kRef, {0, 0, 150, 80}, {10, 20, 0, 20}},
        // Each half is truncated on its own: 301 / 2 - 200 / 2 = 50, 99 / 2 - 100 / 2 = -1.
        AnchorCase{"odd_halves", 0x0, kControl, kRef, {0, 0, 301, 99}, {60, 19, 100, 39}},
        AnchorCase{"odd_halves_shrink",
                   0x0,
                   kControl,
                   {0, 0, 201, 101},
                   {0, 0, 150, 50},
                   {-15, -5, 25, 15}},
        AnchorCase{"offset_client",
                   0xC,
                   kControl,
                   {5, 5, 205, 105},
                   {5, 5, 305, 145},
                   {110, 60, 150, 80}}),
    [](const auto& info) { return std::string(info.param.name); });

class AnchoredDialog : public CResizeDlg {
public:
    AnchoredDialog() {
        for (auto* label : {&stretched, &corner, &centred}) {
            *label = new QLabel("x", this);
            (*label)->setGeometry(20, 20, 60, 30);
        }
        resize(300, 200);
    }
    QLabel* stretched = nullptr;
    QLabel* corner = nullptr;
    QLabel* centred = nullptr;

protected:
    void OnInitDialog() override {
        CResizeDlg::OnInitDialog();
        AnchorControl(stretched, 0xF);
        AnchorControl(corner, 0xC);
        AnchorControl(centred, 0);
    }
};

TEST(ResizeDlg, ControlsFollowTheirAnchorsWhenTheDialogGrows) {
    testsupport::EnsureQApplication();
    AnchoredDialog dialog;
    dialog.show();
    QApplication::processEvents();
    dialog.resize(400, 260);
    QApplication::processEvents();
    EXPECT_EQ(dialog.stretched->geometry(), QRect(20, 20, 160, 90));
    EXPECT_EQ(dialog.corner->geometry(), QRect(120, 80, 60, 30));
    EXPECT_EQ(dialog.centred->geometry(), QRect(70, 50, 60, 30));
    // Back to the start: the layout is relative to the last one.
    dialog.resize(300, 200);
    QApplication::processEvents();
    EXPECT_EQ(dialog.stretched->geometry(), QRect(20, 20, 60, 30));
    EXPECT_EQ(dialog.centred->geometry(), QRect(20, 20, 60, 30));
}

TEST(ResizeDlg, AControlWithoutSizeIsNotAnchored) {
    testsupport::EnsureQApplication();
    CResizeDlg dialog;
    QLabel empty(&dialog);
    empty.setGeometry(0, 0, 0, 0);
    EXPECT_FALSE(dialog.AnchorControl(&empty, 0xF));
    EXPECT_FALSE(dialog.AnchorControl(nullptr, 0xF));
}

TEST(ResizeDlg, GripOnlyWhileResizable) {
    testsupport::EnsureQApplication();
    CResizeDlg dialog;
    dialog.resize(300, 200);
    dialog.show();
    QApplication::processEvents();
    auto* grip = dialog.findChild<QSizeGrip*>();
    ASSERT_NE(grip, nullptr);
    EXPECT_TRUE(dialog.HasGrip());
    EXPECT_TRUE(grip->isVisible());
    EXPECT_EQ(grip->geometry(), dialog.GripRect());
    EXPECT_EQ(dialog.GripRect().bottomRight(), QPoint(299, 199));

    dialog.SetResizable(false);
    EXPECT_FALSE(dialog.HasGrip());
    EXPECT_FALSE(grip->isVisible());
    EXPECT_EQ(dialog.minimumSize(), QSize(300, 200));
    EXPECT_EQ(dialog.maximumSize(), QSize(300, 200));

    dialog.SetResizable(true);
    dialog.SetMinTrackingSize(QSize(250, 150));
    dialog.resize(100, 100);
    QApplication::processEvents();
    EXPECT_EQ(dialog.size(), QSize(250, 150));
    EXPECT_TRUE(grip->isVisible());
    EXPECT_EQ(grip->geometry(), dialog.GripRect());
}

} // namespace
