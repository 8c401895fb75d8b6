#include "launcher/Format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace {

TEST(FormatText, FillsDirectivesInOrderAndSurvivesMismatches) {
    struct Case {
        const char* name;
        const char* format;
        std::vector<sfx::FormatArg> args;
        std::string expected;
    };
    const Case cases[] = {
        {"two 64-bit numbers",
         "Expected file size: %I64d\nActual file size: %I64d",
         {std::int64_t{5000000000}, std::int64_t{-1}},
         "Expected file size: 5000000000\nActual file size: -1"},
        {"negative HRESULT", " (%d)", {std::int32_t{-2147024894}}, " (-2147024894)"},
        {"text and percent sign", "%s: %d%% done", {"Copy", 50}, "Copy: 50% done"},
        {"largest unsigned",
         "%I64d",
         {std::numeric_limits<std::uint64_t>::max()},
         "18446744073709551615"},
        {"too few arguments keep the directive", "%s and %s, %I64d", {"a"}, "a and %s, %I64d"},
        {"surplus arguments ignored", "plain", {1, 2}, "plain"},
        {"text for a number directive", "%d|%I64d", {"x", "y"}, "x|y"},
        {"number for a text directive", "%s", {42}, "42"},
        {"unknown and cut directives copied",
         "%x %u %ls %I64 %I64x %",
         {7},
         "%x %u %ls %I64 %I64x %"},
        {"unknown directive takes no argument", "%x %d", {7}, "%x 7"},
        {"percent sign at the end", "100%", {}, "100%"},
        {"arguments are not formatted again", "%s", {"%d%%"}, "%d%%"},
        {"empty format", "", {1}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sfx::FormatTextList(c.format, c.args), c.expected);
    }
}

TEST(FormatText, VariadicFormTakesMixedArguments) {
    EXPECT_EQ(sfx::FormatText("%s=%d (%I64d)", std::string("k"), 7u, std::int64_t{-9}), "k=7 (-9)");
    EXPECT_EQ(sfx::FormatText("no arguments %d"), "no arguments %d");
}

} // namespace
