#include "format/SettingsStore.h"

#include <gtest/gtest.h>

#include <clocale>
#include <optional>
#include <string>
#include <vector>

namespace {

using sfx::SettingsStore;

constexpr const char* kMissing = "<missing>";

struct Lookup {
    std::string section;
    std::string key;
    std::string expected; // kMissing when the default must come back
};

struct GrammarCase {
    const char* name;
    std::string text;
    std::vector<Lookup> lookups;
    std::vector<std::string> sections;
};

void Check(const GrammarCase& c) {
    SCOPED_TRACE(c.name);
    SettingsStore store;
    EXPECT_TRUE(store.Parse(c.text));
    for (const Lookup& lookup : c.lookups)
        EXPECT_EQ(store.GetString(lookup.section, lookup.key, kMissing), lookup.expected)
            << "[" << lookup.section << "] " << lookup.key;
    EXPECT_EQ(store.GetSectionNames(), c.sections);
}

TEST(SettingsStore, Grammar) {
    const GrammarCase cases[] = {
        {"plain section and entry",
         "[main]\r\nProductName=Foo\r\n",
         {{"main", "ProductName", "Foo"}},
         {"main"}},
        {"every kind of line break, last line without one",
         "a=1\rb=2\nc=3\r\nd=4\n\re=5\r\rf=6\n\ng=7",
         {{"", "a", "1"},
          {"", "b", "2"},
          {"", "c", "3"},
          {"", "d", "4"},
          {"", "e", "5"},
          {"", "f", "6"},
          {"", "g", "7"}},
         {""}},
        {"comments only at the first character",
         ";k=v\n ;x=y\n ;just text\n[s]\n;[t]\nz=1",
         {{"", "k", kMissing}, {"", ";k", kMissing}, {"", ";x", "y"}, {"s", "z", "1"}},
         {"", "s"}},
        {"key and value trimmed, inner blanks kept",
         "  Key \t=  value with  two  \t\x0B\f\n",
         {{"", "Key", "value with  two"}},
         {""}},
        {"split at the first equals sign",
         "k=a=b\n=empty key\nnone=\n",
         {{"", "k", "a=b"}, {"", "", "empty key"}, {"", "none", ""}},
         {""}},
        {"one pair of enclosing quotes removed, the rest kept",
         "a = \"  spaced  \" \nb=\"\nc=\"\"\nd=\"open\ne=close\"\nf=\"x\"y\"\ng='q'\nh=\"\"\"\"",
         {{"", "a", "  spaced  "},
          {"", "b", ""},
          {"", "c", ""},
          {"", "d", "\"open"},
          {"", "e", "close\""},
          {"", "f", "x\"y"},
          {"", "g", "'q'"},
          {"", "h", "\"\""}},
         {""}},
        {"section header forms",
         "junk [ Name ] tail\na=1\n[a]b]\nb=2\n[noclose\nc=3\n]x[\nd=4\n[]\ne=5",
         {{"Name", "a", "1"},
          {"a]b", "b", "2"},
          {"a]b", "c", "3"},
          {"a]b", "d", "4"},
          {"", "e", "5"}},
         {"Name", "a]b", ""}},
        {"an equals sign makes an entry, even in brackets",
         "[a=b]\nk=v",
         {{"", "[a", "b]"}, {"", "k", "v"}, {"a=b", "k", kMissing}},
         {""}},
        {"entries before the first header belong to the empty name",
         "top=1\n[main]\nk=2",
         {{"", "top", "1"}, {"main", "top", kMissing}, {"main", "k", "2"}},
         {"", "main"}},
        {"names without regard to case, repeated header continues, later key wins",
         "[Main]\nsetupfilename=a.exe\nOther=1\n[x]\ny=1\n[MAIN]\nSetupFileName=b.exe",
         {{"main", "SetupFileName", "b.exe"}, {"mAiN", "OTHER", "1"}},
         {"Main", "x"}},
        {"a header without entries creates no section",
         "[LANG_fr-FR]\n[main]\nk=v\n[LANG_de-DE]\n\n",
         {{"main", "k", "v"}},
         {"main"}},
        {"sections in the order of their first entry",
         "[z]\n[b]\nk=1\n[z]\nk=1\n[B]\nk=2",
         {{"b", "k", "2"}, {"z", "k", "1"}},
         {"b", "z"}},
        {"empty text", "", {{"main", "k", kMissing}}, {}},
        {"blank and unrecognised lines are skipped",
         "   \n\t\njust words\n[s]\nk=v\n",
         {{"s", "k", "v"}},
         {"s"}},
        {"a byte-order mark before the first header is ignored like other text",
         "\xEF\xBB\xBF[main]\nk=v",
         {{"main", "k", "v"}},
         {"main"}},
        {"multi-byte characters at the ends are not trimmed",
         "k=\xC3\xA9t\xC3\xA9\n\xE2\x82\xAC=x",
         {{"", "k", "\xC3\xA9t\xC3\xA9"}, {"", "\xE2\x82\xAC", "x"}},
         {""}},
    };
    for (const GrammarCase& c : cases)
        Check(c);
}

TEST(SettingsStore, ParseReplacesTheContent) {
    SettingsStore store;
    store.Parse("[a]\nk=1");
    store.Parse("[b]\nk=2");
    EXPECT_EQ(store.GetString("a", "k", kMissing), kMissing);
    EXPECT_EQ(store.GetString("b", "k", kMissing), "2");
    EXPECT_EQ(store.GetSectionNames(), std::vector<std::string>{"b"});
}

// Wide white space and case beyond ASCII follow the C library's locale.
TEST(SettingsStore, UsesTheLocaleForSpaceAndCase) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale";
    SettingsStore store;
    // U+3000 (ideographic space) and U+2003 (em space) around key and value.
    store.Parse("[\xC3\x84rger]\n\xE3\x80\x80key\xE2\x80\x83=\xE3\x80\x80value\xE3\x80\x80");
    const std::string value = store.GetString("\xC3\xA4RGER", "key", kMissing);
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_EQ(value, "value");
}

TEST(SettingsStore, GetIntReadsLikePercentD) {
    struct Case {
        const char* line; // the entry for key k, or "" for none
        std::int32_t expected;
    };
    const Case cases[] = {
        {"", 77},       // missing key: default
        {"k=", 77},     // empty value: default
        {"k=\"\"", 77}, // empty after quotes: default
        {"k=12", 12},
        {"k=12abc", 12}, // digits up to the first other character
        {"k=abc", 0},    // no number: 0, not the default
        {"k=-5", -5},
        {"k=+7", 7},
        {"k=\" \t8 \"", 8}, // leading white space skipped
        {"k=-", 0},
        {"k=+-1", 0},
        {"k=0x1F", 0},
        {"k=1 2", 1},
        {"k=007", 7},
        {"k=2147483647", 2147483647},
        {"k=-2147483648", -2147483647 - 1},
        {"k=2147483648", 2147483647}, // beyond the range: clamped
        {"k=-99999999999999999999", -2147483647 - 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        SettingsStore store;
        store.Parse(std::string("[main]\n") + c.line);
        EXPECT_EQ(store.GetInt("MAIN", "K", 77), c.expected);
    }
}

} // namespace
