// Names from archives and other programs' text, as they are shown on a terminal and in the log.

#include "cptlib/DisplayText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using cptlib::DisplayName;
using cptlib::DisplayText;

TEST(DisplayText, EscapesWhatATerminalWouldObey) {
    struct Case {
        std::string raw;
        std::string name; // as DisplayName shows it
        std::string text; // as DisplayText shows it
    };
    const Case cases[] = {
        {"plain/name.txt", "plain/name.txt", "plain/name.txt"},
        {"\x1b]0;title\x07x", "\\x1b]0;title\\x07x", "\\x1b]0;title\\x07x"},
        {"\x1b[2J", "\\x1b[2J", "\\x1b[2J"},
        {"a\nb\tc\rd", "a\\x0ab\\x09c\\x0dd", "a\nb\tc\\x0dd"},
        {"del\x7f", "del\\x7f", "del\\x7f"},
        {"nul", "nul", "nul"},
        {std::string("n\0l", 3), "n\\x00l", "n\\x00l"},
        // C1 controls, in UTF-8: CSI (U+009B) and NEL (U+0085).
        {"\xc2\x9b"
         "2J",
         "\\u009b2J", "\\u009b2J"},
        {"\xc2\x85", "\\u0085", "\\u0085"},
        // Right-to-left override would show the name reversed.
        {"txt.\xe2\x80\xae"
         "exe",
         "txt.\\u202eexe", "txt.\\u202eexe"},
        // Bytes that are not UTF-8: a lone C1 byte, a cut sequence, an overlong slash, a
        // surrogate.
        {"a\x9b"
         "b",
         "a\\x9bb", "a\\x9bb"},
        {"\xe2\x82", "\\xe2\\x82", "\\xe2\\x82"},
        {"\xc0\xaf", "\\xc0\\xaf", "\\xc0\\xaf"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80", "\\xed\\xa0\\x80"},
        // Printable text of any script stays, backslashes too.
        {"Gr\xc3\xbc\xc3\x9f\x65 \xe6\x97\xa5\xf0\x9f\x98\x80 a\\x1b",
         "Gr\xc3\xbc\xc3\x9f\x65 \xe6\x97\xa5\xf0\x9f\x98\x80 a\\x1b",
         "Gr\xc3\xbc\xc3\x9f\x65 \xe6\x97\xa5\xf0\x9f\x98\x80 a\\x1b"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DisplayName(c.raw), c.name) << c.name;
        EXPECT_EQ(DisplayText(c.raw), c.text) << c.name;
    }
}

} // namespace
