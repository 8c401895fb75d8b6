#include "cptlib/ui/qt/ResizeDlg.h"

#include <gtest/gtest.h>

namespace {

using cptlib::AnchorRect;
using cptlib::LayoutRect;

TEST(AnchorRect, Placeholder) {
    EXPECT_EQ(AnchorRect({0, 0, 10, 10}, 0x3, {0, 0, 100, 100}, {0, 0, 50, 50}),
              (LayoutRect{0, 0, 10, 10}));
}

} // namespace
