#include "cptlib/localization/Placeholders.h"

#include <gtest/gtest.h>

namespace {

using namespace cptlib;

TEST(ExpandPlaceholders, FollowsTheNameGrammar) {
    // Entries for "1", "a-b", "" and "Product Name" show that only the grammar decides what a
    // placeholder is, not the map.
    const PropertyMap properties = {
        {"PersonalFolder", "/home/u/Documents/"},
        {"ProductName", "Tool [TempFolder]"},
        {"TempFolder", "/tmp/"},
        {"WindowsVolume", ""},
        {"a.b", "AB"},
        {"_x", "X"},
        {"1", "one"},
        {"a-b", "dash"},
        {"", "empty"},
        {"Product Name", "spaced"},
    };
    struct Case {
        std::string text;
        bool keepUnknown;
        std::string expected;
    };
    const Case cases[] = {
        {"[PersonalFolder]Setup", true, "/home/u/Documents/Setup"},
        {"[[PersonalFolder]]", true, "[/home/u/Documents/]"},
        {"[1]", true, "[1]"},
        {"[1]", false, "[1]"},
        {"[a-b]", false, "[a-b]"},
        {"[]", false, "[]"},
        {"[Product Name]", false, "[Product Name]"},
        {"[a.b]", true, "AB"},
        {"[_x]", true, "X"},
        {"[_x][_x]", true, "XX"},
        {"[personalfolder]", true, "[personalfolder]"},
        {"[personalfolder]", false, ""},
        {"[ProductName]", true, "Tool [TempFolder]"},
        {"[WindowsVolume]x", true, "x"},
        {"a[ExtractDir]b[_x]c", true, "a[ExtractDir]bXc"},
        {"a[ExtractDir]b[_x]c", false, "abXc"},
        {"ä[_x]ö [ä]", true, "äXö [ä]"},
        {"[_x", true, "[_x"},
        {"", true, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExpandPlaceholders(c.text, properties, PlaceholderPattern(), c.keepUnknown),
                  c.expected)
            << "text: " << c.text << ", keep unknown: " << c.keepUnknown;
}

} // namespace
