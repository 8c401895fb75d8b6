// Quoting arguments into one parameter string and splitting it back.

#include "cptlib/sys/CommandLineSplit.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using cptlib::QuoteArgument;
using cptlib::SplitCommandLine;
using Args = std::vector<std::string>;

TEST(QuoteArgument, Table) {
    struct Case {
        std::string argument;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"plain", "plain"},
        {R"(C:\dir\)", R"(C:\dir\)"}, // no quoting needed: backslashes stay as they are
        {"cr\ronly", "cr\ronly"},     // a carriage return alone does not cause quoting
        {"two words", R"("two words")"},
        {"tab\there", "\"tab\there\""},
        {"line\nfeed", "\"line\nfeed\""},
        {"vertical\vtab", "\"vertical\vtab\""},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(/my dir/\)", R"("/my dir/\\")"}, // a run ending the argument is doubled
        {R"(a\\"b)", R"("a\\\\\"b")"},       // a run before a quote: doubled plus one
        {R"(a\\b c)", R"("a\\b c")"},        // a run before anything else stays
        {"\"", R"("\"")"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(QuoteArgument(c.argument), c.expected) << c.argument;
}

TEST(SplitCommandLine, Table) {
    struct Case {
        std::string parameters;
        Args expected;
    };
    const Case cases[] = {
        {"", {}},
        {" \t ", {}},
        {"a  b\tc", {"a", "b", "c"}},
        {"\t\"x\"\t", {"x"}},
        {R"("a b" c)", {"a b", "c"}},
        {R"("")", {""}},
        {R"(a "" b)", {"a", "", "b"}},
        {R"(a"b"c)", {"abc"}},
        {R"(a\\b)", {R"(a\\b)"}},       // backslashes not before a quote are literal
        {R"(a\\"b c")", {R"(a\b c)"}},  // 2n backslashes: n, and the quote opens
        {R"(a\\\"b)", {R"(a\"b)"}},     // 2n+1: n and a literal quote
        {R"("a\\" b)", {R"(a\)", "b"}}, // the doubled run before the closing quote
        {R"("a""b c")", {R"(a"b c)"}},  // "" inside quotes: a quote, quoting goes on
        {R"("""")", {"\""}},
        {R"("unterminated arg)", {"unterminated arg"}},
        {"a\nb\rc", {"a\nb\rc"}}, // only space and tab separate
        {"caf\xC3\xA9 \"\xE2\x82\xAC x\"", {"caf\xC3\xA9", "\xE2\x82\xAC x"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SplitCommandLine(c.parameters), c.expected) << c.parameters;
}

// Random argument lists made of the pieces that matter to the rules: separators, quotes,
// runs of backslashes (also before quotes and at the end), empty arguments and UTF-8.
TEST(SplitCommandLine, IsTheInverseOfQuoteArgument) {
    const std::vector<std::string> pieces = {"a",
                                             "Z",
                                             " ",
                                             "  ",
                                             "\t",
                                             "\"",
                                             "\"\"",
                                             "\\",
                                             "\\\\",
                                             "\\\\\\",
                                             "\n",
                                             "\v",
                                             "\r",
                                             "/",
                                             "-x",
                                             "=",
                                             "\xC3\xA9",
                                             "\xE2\x82\xAC",
                                             "\xF0\x9F\x98\x80",
                                             "\xE3\x80\x80"};
    const std::vector<std::string> separators = {" ", "  ", "\t", " \t "};
    std::mt19937 random(20240611);
    auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(random);
    };
    for (int round = 0; round < 5000; ++round) {
        Args arguments(below(7));
        for (std::string& argument : arguments) {
            const std::size_t count = below(9); // 0 gives an empty argument
            for (std::size_t k = 0; k < count; ++k)
                argument += pieces[below(pieces.size())];
        }
        std::string parameters = below(4) == 0 ? " " : "";
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            if (i > 0)
                parameters += separators[below(separators.size())];
            parameters += QuoteArgument(arguments[i]);
        }
        ASSERT_EQ(SplitCommandLine(parameters), arguments) << "parameters: [" << parameters << "]";
    }
}

} // namespace
