#include "cptlib/ui/qt/MessageRtf.h"

#include <gtest/gtest.h>

namespace {

using cptlib::ComposeMessageRtf;
using cptlib::ConvertLinkMarkers;
using cptlib::EscapeRtf;

TEST(MessageRtf, PlainTextIsEscapedAndFramed) {
    EXPECT_EQ(ComposeMessageRtf("", "a\\b{c}\td\r\ne"),
              "{\\urtf a\\\\b\\{c\\}\\tab d\\par e\\par  }");
    EXPECT_EQ(ComposeMessageRtf("Main {x}", "text"),
              "{\\urtf{\\b Main \\{x\\}}\\par\\par text\\par  }");
}

TEST(MessageRtf, RichTextIsKeptAndShowsNoMainInstruction) {
    EXPECT_EQ(ComposeMessageRtf("Main", "{\\rtf1 {\\b x}}"), "{\\rtf1 {\\b x}}");
    EXPECT_EQ(ComposeMessageRtf("Main", "{\\urtf y}"), "{\\urtf y}");
    // Only at the very start.
    EXPECT_EQ(ComposeMessageRtf("", " {\\rtf1 z}"), "{\\urtf  \\{\\\\rtf1 z\\}\\par  }");
}

TEST(MessageRtf, TextThatIsNotUtf8BecomesEmpty) {
    EXPECT_EQ(EscapeRtf("ok\xff"), "");
    EXPECT_EQ(ComposeMessageRtf("", "bad\xc3"), "{\\urtf \\par  }");
    EXPECT_EQ(ComposeMessageRtf("", "{\\rtf1 bad\xc3}"), "");
}

TEST(MessageRtf, BothLinkMarkersBecomeHyperlinkFields) {
    const std::string field = "{\\field{\\*\\fldinst{HYPERLINK \"https://e.org/a\"}}"
                              "{\\fldrslt{our site}}}{\\v *ZQLINKEND}";
    EXPECT_EQ(ConvertLinkMarkers("see #LINK#our site#https://e.org/a## now"),
              "see " + field + " now");
    EXPECT_EQ(ConvertLinkMarkers("see <LINK  our site|https://e.org/a> now"),
              "see " + field + " now");
    // Lazy groups: two links in one text stay two links.
    EXPECT_EQ(ConvertLinkMarkers("<LINK a|u1> and <LINK b|u2>"),
              "{\\field{\\*\\fldinst{HYPERLINK \"u1\"}}{\\fldrslt{a}}}{\\v *ZQLINKEND} and "
              "{\\field{\\*\\fldinst{HYPERLINK \"u2\"}}{\\fldrslt{b}}}{\\v *ZQLINKEND}");
    // Without white space after LINK the marker is plain text.
    EXPECT_EQ(ConvertLinkMarkers("<LINKa|u>"), "<LINKa|u>");
    // Dollar signs and backslashes in the marker are copied, not read as a format.
    EXPECT_EQ(ConvertLinkMarkers("#LINK#$1 \\\\x#u$2##"),
              "{\\field{\\*\\fldinst{HYPERLINK \"u$2\"}}{\\fldrslt{$1 \\\\x}}}{\\v *ZQLINKEND}");
}

} // namespace
