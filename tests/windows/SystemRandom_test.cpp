#include "cptlib/platform/SystemRandom.h"

#include <gtest/gtest.h>

#include <set>

namespace {

// A source that gave a constant, a counter or only low bits would show here.
TEST(WindowsSystemRandom, DrawsAreDistinctAndUseAllBits) {
    std::set<std::uint32_t> seen;
    std::uint32_t all = 0;
    std::uint32_t none = ~0u;
    for (int i = 0; i < 64; ++i) {
        const std::uint32_t value = cptlib::platform::SystemRandomSeed();
        seen.insert(value);
        all |= value;
        none &= value;
    }
    EXPECT_GE(seen.size(), 63u);
    EXPECT_EQ(all, ~0u);
    EXPECT_EQ(none, 0u);
}

} // namespace
