#include "cptlib/ui/qt/MessageRtf.h"
#include "cptlib/ui/qt/RtfReader.h"
#include "support/QtApp.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using cptlib::RtfToQtHtml;

// What a reader sees of the converted text.
struct Rendered {
    std::string plain;
    std::string bold;
    std::string italic;
    std::string underline;                                  // outside links
    std::vector<std::pair<std::string, std::string>> links; // address, text
};

Rendered Render(const std::string& rtf) {
    testsupport::EnsureQApplication();
    QTextDocument doc;
    doc.setHtml(QString::fromStdString(RtfToQtHtml(rtf)));
    Rendered r;
    r.plain = doc.toPlainText().toStdString();
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QTextCharFormat f = fragment.charFormat();
            const std::string text = fragment.text().toStdString();
            if (f.fontWeight() >= QFont::Bold)
                r.bold += text;
            if (f.fontItalic())
                r.italic += text;
            if (f.isAnchor()) {
                if (!r.links.empty() && r.links.back().first == f.anchorHref().toStdString())
                    r.links.back().second += text;
                else
                    r.links.emplace_back(f.anchorHref().toStdString(), text);
            } else if (f.fontUnderline()) {
                r.underline += text;
            }
        }
    }
    return r;
}

struct Case {
    const char* name;
    std::string rtf;
    std::string plain;
    std::string bold;
    std::string italic;
    std::string underline;
    std::vector<std::pair<std::string, std::string>> links;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class RtfReaderTable : public ::testing::TestWithParam<Case> {};

TEST_P(RtfReaderTable, RendersAsWritten) {
    const Case& c = GetParam();
    const Rendered r = Render(c.rtf);
    EXPECT_EQ(r.plain, c.plain);
    EXPECT_EQ(r.bold, c.bold);
    EXPECT_EQ(r.italic, c.italic);
    EXPECT_EQ(r.underline, c.underline);
    EXPECT_EQ(r.links, c.links);
}

// A line break reads as a line feed in the plain text.
const std::string kLine = "\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, RtfReaderTable,
    ::testing::Values(
        Case{"composed_box",
             "{\\urtf{\\b Main}\\par\\par Line1\\par Line2\\par  }",
             "Main\n\nLine1\nLine2",
             "Main",
             "",
             "",
             {}},
        Case{"escapes", "{\\rtf1 a\\\\b\\{c\\}}", "a\\b{c}", "", "", "", {}},
        Case{"html_specials_are_text", "{\\urtf <b>&amp;</b>}", "<b>&amp;</b>", "", "", "", {}},
        Case{"spaces_kept", "{\\urtf a   b}", "a   b", "", "", "", {}},
        Case{"unicode_with_fallback", "{\\rtf1 \\u228?x}", "\u00e4x", "", "", "", {}},
        Case{"unicode_skip_count", "{\\rtf1\\uc2 \\u8364ab c}", "\u20ac c", "", "", "", {}},
        Case{"unicode_skip_zero", "{\\rtf1\\uc0 \\u8364 x}", "\u20acx", "", "", "", {}},
        Case{"surrogate_pair", "{\\rtf1 \\u-10179?\\u-8704?}", "\U0001F600", "", "", "", {}},
        Case{"hex_cp1252",
             "{\\rtf1\\ansi\\ansicpg1252 caf\\'e9 \\'80}",
             "caf\u00e9 \u20ac",
             "",
             "",
             "",
             {}},
        Case{"hex_utf8", "{\\urtf caf\\'c3\\'a9}", "caf\u00e9", "", "", "", {}},
        Case{"raw_utf8",
             "{\\urtf Gr\u00fc\u00dfe \u65e5\u672c}",
             "Gr\u00fc\u00dfe \u65e5\u672c",
             "",
             "",
             "",
             {}},
        Case{"tab_and_line", "{\\rtf1 a\\tab b\\line c}", "a\tb" + kLine + "c", "", "", "", {}},
        Case{"hidden_text",
             "{\\rtf1 shown{\\v hidden}after\\v  gone\\v0 !}",
             "shownafter!",
             "",
             "",
             "",
             {}},
        Case{"unknown_words_and_tables",
             "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0;}\\f0\\fs20\\foo123 "
             "text{\\*\\unknowndest junk}\\qc!}",
             "text!",
             "",
             "",
             "",
             {}},
        Case{"hyperlink_field",
             "{\\urtf see {\\field{\\*\\fldinst{HYPERLINK \"https://x.example/a?b=1&c\"}}"
             "{\\fldrslt{our site}}}{\\v *ZQLINKEND} now}",
             "see our site now",
             "",
             "",
             "",
             {{"https://x.example/a?b=1&c", "our site"}}},
        Case{"field_without_link",
             "{\\rtf1{\\field{\\*\\fldinst{PAGE}}{\\fldrslt{3}}}}",
             "3",
             "",
             "",
             "",
             {}},
        Case{"toggles",
             "{\\rtf1 \\b B\\b0 n\\i I\\i0 \\ul U\\ulnone u\\ul0}",
             "BnIUu",
             "B",
             "I",
             "U",
             {}},
        Case{"group_scope", "{\\rtf1 {\\b x}y{\\i\\ul z}\\plain w}", "xyzw", "x", "z", "z", {}},
        Case{"plain_resets", "{\\rtf1 \\b\\i a\\plain b}", "ab", "a", "a", "", {}},
        // Malformed input: read what can be read, never crash.
        Case{"unclosed_groups", "{\\rtf1 {\\b abc", "abc", "abc", "", "", {}},
        Case{"text_after_end", "{\\rtf1 a}}}b", "a", "", "", "", {}},
        Case{"cut_hex", "{\\rtf1 a\\'", "a", "", "", "", {}},
        Case{"one_hex_digit", "{\\rtf1 a\\'4", "a", "", "", "", {}},
        Case{"cut_control", "{\\rtf1 x\\", "x", "", "", "", {}},
        Case{"cut_unicode", "{\\rtf1 x\\u", "x", "", "", "", {}},
        Case{"huge_numbers",
             "{\\rtf1 \\u99999999999999999999?\\uc999999999 a\\fs-99999999999 b}",
             "\ufffdab",
             "",
             "",
             "",
             {}},
        Case{"lone_surrogates", "{\\rtf1 a\\u-8704?b\\u-10179?c}", "abc", "", "", "", {}},
        Case{"invalid_utf8", "{\\urtf a\xff b\xc3}", "a\ufffd b\ufffd", "", "", "", {}},
        Case{"control_bytes", std::string("{\\rtf1 a\x01\x02\0b}", 16), "ab", "", "", "", {}},
        Case{"overlong_word", "{\\rtf1 \\" + std::string(5000, 'x') + " y}", "y", "", "", "", {}},
        Case{"link_cut_off",
             "{\\urtf {\\field{\\*\\fldinst{HYPERLINK \"u\"}}{\\fldrslt{t",
             "t",
             "",
             "",
             "",
             {{"u", "t"}}},
        Case{"quote_unclosed_in_field",
             "{\\urtf{\\field{\\*\\fldinst{HYPERLINK \"abc}}{\\fldrslt{t}}}}",
             "t",
             "",
             "",
             "",
             {{"abc", "t"}}},
        Case{"not_rich_text_at_all", "plain words", "plain words", "", "", "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtfReader, DeepNestingIsReadWithoutExhaustingTheStack) {
    const std::string rtf =
        "{\\rtf1 " + std::string(200000, '{') + "deep" + std::string(200000, '}') + "}";
    EXPECT_EQ(Render(rtf).plain, "deep");
}

TEST(RtfReader, EveryPrefixOfAComposedMessageIsReadable) {
    const std::string rtf = cptlib::ConvertLinkMarkers(
        cptlib::ComposeMessageRtf("Title", "Text with <LINK a link|https://example.org/> and "
                                           "\\u\\'ff{braces}\n\u00e4"));
    for (std::size_t n = 0; n <= rtf.size(); ++n)
        EXPECT_NO_THROW(RtfToQtHtml(rtf.substr(0, n))) << n;
}

} // namespace
