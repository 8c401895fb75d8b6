#include "cptlib/localization/CultureSelection.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <set>

namespace {

using namespace cptlib;
using Names = std::vector<std::string>;

// Sets the locale variables for one test and puts the old values back afterwards.
class LocaleEnvironment {
public:
    static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LC_CTYPE", "LANG"};

    LocaleEnvironment() {
        Use(nullptr, nullptr, nullptr, nullptr);
        env.Set("LANGUAGE", std::nullopt);
    }
    void UseLanguageList(const char* list) {
        env.Set("LANGUAGE", list ? std::optional<std::string>(list) : std::nullopt);
    }
    // Only the variables given are set; the others stay unset.
    void Use(const char* all, const char* messages, const char* ctype, const char* lang) {
        const char* values[] = {all, messages, ctype, lang};
        for (std::size_t i = 0; i < 4; ++i)
            env.Set(kVariables[i],
                    values[i] ? std::optional<std::string>(values[i]) : std::nullopt);
    }

private:
    testsupport::ScopedEnv env;
};

Names Head(const Names& names, std::size_t count) {
    return Names(names.begin(), names.begin() + std::min(count, names.size()));
}

TEST(CultureSelection, MatchCultureExamples) {
    struct Case {
        Names offered;
        std::string culture;
        Names firstCandidates;
        std::string selected; // of FindCultures, which falls back to the first offered
    };
    const Case cases[] = {
        {{"en-US", "de-DE", "fr-FR"}, "de-AT", {"de-AT", "de-DE"}, "de-DE"},
        {{"en-US", "de-DE"}, "fr-CA", {"fr-CA", "fr-FR", "fr", "en-II", "en-GB", "en-US"}, "en-US"},
        {{"en-GB", "zh-Hant"}, "zh-HK", {"zh-HK", "zh-TW", "zh-Hant"}, "zh-Hant"},
        {{"de-DE", "fr-FR"}, "ja-JP", {"ja-JP", "ja", "en-II", "en-GB", "en-US", "en"}, "de-DE"},
        {{"de-AT", "en-US"}, "de", {"de"}, "de-AT"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Head(GetCultureCandidates(c.culture), c.firstCandidates.size()),
                  c.firstCandidates)
            << c.culture;
        Names sections;
        for (const auto& culture : c.offered)
            sections.push_back("LANG_" + culture);
        EXPECT_EQ(FindCultures(sections, c.culture).selected, c.selected) << c.culture;
    }
    EXPECT_EQ(MatchCulture({"de-DE", "fr-FR"}, "ja-JP"), "");
}

TEST(CultureSelection, CandidateLists) {
    struct Case {
        std::string culture;
        Names candidates;
    };
    const Case cases[] = {
        {"", {"en-II", "en-GB", "en-US", "en"}},
        {"en-GB", {"en-GB", "en-II", "en-US", "en"}},
        {"EN-us", {"EN-us", "en-II", "en-GB", "en"}},
        {"en", {"en", "en-II", "en-GB", "en-US"}},
        // The alias of the whole tag wins over that of its language; one equal to the tag is
        // not repeated.
        {"zh-SG", {"zh-SG", "zh-CN", "zh-Hans", "zh", "en-II", "en-GB", "en-US", "en"}},
        {"zh-tw", {"zh-tw", "zh-Hant", "zh", "en-II", "en-GB", "en-US", "en"}},
        {"zh-Hant", {"zh-Hant", "zh", "en-II", "en-GB", "en-US", "en"}},
        {"no-NO", {"no-NO", "nb-NO", "no", "en-II", "en-GB", "en-US", "en"}},
        {"de", {"de", "de-DE", "de", "en-II", "en-GB", "en-US", "en"}},
        // The language part loses surrounding blanks and its case.
        {" DE -CH", {" DE -CH", "de-DE", "de", "en-II", "en-GB", "en-US", "en"}},
        {"xx-YY", {"xx-YY", "xx", "en-II", "en-GB", "en-US", "en"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetCultureCandidates(c.culture), c.candidates) << "'" << c.culture << "'";
}

TEST(CultureSelection, MatchingRules) {
    struct Case {
        Names offered;
        std::string culture;
        std::string expected;
    };
    const Case cases[] = {
        // A bare language never matches a bare offered language, only regional ones.
        {{"de", "de-CH"}, "de-AT", "de-CH"},
        {{"de"}, "de-AT", ""},
        // Letter case is ignored; the offered spelling is returned.
        {{"DE-de"}, "de-at", "DE-de"},
        {{"en-gb", "EN-US"}, "", "en-gb"},
        // Candidates decide before list order.
        {{"en-US", "en-GB"}, "", "en-GB"},
        {{"en-US", "en-II", "en-GB"}, "fr-FR", "en-II"},
        {{"zh-CN", "en-US"}, "zh-HK", "zh-CN"},
        {{"zh-Hant", "zh-CN"}, "zh-HK", "zh-Hant"},
        {{"zh-Hans", "zh-TW"}, "zh-SG", "zh-Hans"},
        {{"pt-BR", "pt-PT"}, "pt-AO", "pt-PT"},
        {{"nb-NO"}, "no", "nb-NO"},
        {{"de-"}, "de", "de-"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchCulture(c.offered, c.culture), c.expected) << c.culture;
}

TEST(CultureSelection, DisplayNamesAndAliases) {
    EXPECT_EQ(GetCultureDisplayName("DE-de"), "Deutsch (Deutschland)");
    EXPECT_EQ(GetCultureDisplayName("zh-tw"), "中文(繁體)");
    EXPECT_EQ(GetCultureDisplayName("xx-YY"), "");
    EXPECT_EQ(GetCultureDisplayName("de"), "");
    // The Russian name starts with the Latin capital P, then Cyrillic.
    EXPECT_EQ(GetCultureDisplayName("ru-RU"), "P\xD1\x83\xD1\x81\xD1\x81\xD0\xBA\xD0\xB8\xD0\xB9 "
                                              "(\xD0\xA0\xD0\xBE\xD1\x81\xD1\x81\xD0\xB8\xD1\x8F)");

    std::set<std::string, less_icase> cultures;
    for (const auto& row : CultureDisplayNames) {
        EXPECT_TRUE(IsValidUtf8(row.displayName)) << row.culture;
        EXPECT_TRUE(cultures.insert(row.culture).second) << row.culture;
    }
    EXPECT_EQ(GetCultureAlias("ZH-hk"), "zh-TW");
    EXPECT_EQ(GetCultureAlias("no"), "nb-NO");
    EXPECT_EQ(GetCultureAlias("ja"), "");
}

TEST(CultureSelection, FindCulturesCollectsTheLangSections) {
    LocaleEnvironment locale;
    locale.Use(nullptr, nullptr, nullptr, "ja_JP.UTF-8");
    const Names sections = {"main",      "lang_fr-FR", "LANG_xx-YY", "LANG_en-us",
                            "LANGde-DE", "LANG_EN-US", "Lang_de-DE", "LANG_FR-fr"};
    const CultureOffer offer = FindCultures(sections, "");
    ASSERT_TRUE(offer.found);
    const std::vector<std::pair<std::string, std::string>> entries(offer.cultures.begin(),
                                                                   offer.cultures.end());
    // Keyed by the first spelling, ordered without regard to case.
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"de-DE", "Deutsch (Deutschland)"},
        {"en-us", "English (United States)"},
        {"fr-FR", "Français (France)"},
        {"xx-YY", ""},
    };
    EXPECT_EQ(entries, expected);
    // A Japanese user, no Japanese section: the English fallbacks pick en-us.
    EXPECT_EQ(offer.selected, "en-us");
    EXPECT_EQ(offer.cultures.count("EN-US"), 1u);
}

TEST(CultureSelection, FindCulturesFallbacks) {
    LocaleEnvironment locale;
    locale.Use(nullptr, nullptr, nullptr, "ja_JP.UTF-8");

    EXPECT_FALSE(FindCultures({"main", "LANGUAGE", "LANG"}, "fr-FR").found);
    EXPECT_TRUE(FindCultures({"main", "LANGUAGE", "LANG"}, "fr-FR").cultures.empty());

    const CultureOffer onlyGerman = FindCultures({"LANG_de-DE"}, "");
    EXPECT_TRUE(onlyGerman.found);
    EXPECT_EQ(onlyGerman.selected, "de-DE");

    // Nothing matches: the first section, duplicates included in the order.
    EXPECT_EQ(FindCultures({"LANG_xx-YY", "LANG_de-DE"}, "").selected, "xx-YY");
    // The request wins over the user's language.
    locale.Use(nullptr, nullptr, nullptr, "de_AT.UTF-8");
    EXPECT_EQ(FindCultures({"LANG_de-DE", "LANG_en-US"}, "en-US").selected, "en-US");
    EXPECT_EQ(FindCultures({"LANG_de-DE", "LANG_en-US"}, "").selected, "de-DE");
}

TEST(CultureSelection, SystemCultureFromTheLocaleEnvironment) {
    struct Case {
        const char* all;
        const char* messages;
        const char* ctype;
        const char* lang;
        std::string expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, "de_AT.UTF-8", "de-AT"},
        {nullptr, nullptr, nullptr, nullptr, ""},
        {"C", nullptr, nullptr, "de_AT.UTF-8", ""},
        {"fr_CA.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "fr-CA"},
        // Interface language differs from the locale's: the interface language.
        {nullptr, "en_US.UTF-8", nullptr, "de_AT.UTF-8", "en-US"},
        // Same language: the user locale's regional variant.
        {nullptr, "de_DE.UTF-8", "de_CH.UTF-8", nullptr, "de-CH"},
        {nullptr, "DE_DE.UTF-8", "de_CH.UTF-8", nullptr, "de-CH"},
        // Interface messages untranslated: no language, only the English fallbacks.
        {nullptr, "C", "de_AT.UTF-8", nullptr, ""},
        {nullptr, nullptr, nullptr, "de.UTF-8", ""},
    };
    LocaleEnvironment locale;
    for (const auto& c : cases) {
        locale.Use(c.all, c.messages, c.ctype, c.lang);
        EXPECT_EQ(GetSystemCulture(), c.expected)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.ctype ? c.ctype : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST(CultureSelection, ChineseHongKongUser) {
    LocaleEnvironment locale;
    locale.Use(nullptr, nullptr, nullptr, "zh_HK.UTF-8");
    EXPECT_EQ(FindCultures({"LANG_en-US", "LANG_zh-CN", "LANG_zh-Hant"}, "").selected, "zh-Hant");
    EXPECT_EQ(FindCultures({"LANG_en-US", "LANG_zh-CN"}, "").selected, "zh-CN");
}

// LANGUAGE lists the interface languages in order, as GNU programs read it: each entry's own
// cultures come before the next entry, English fallbacks only after all of them.
TEST(CultureSelection, LanguageListChoosesTheSection) {
    struct Case {
        const char* language; // LANGUAGE
        const char* lang;     // LANG
        Names sections;
        std::string expected;
    };
    const Case cases[] = {
        {"fr:de", "de_DE.UTF-8", {"LANG_en-US", "LANG_de-DE"}, "de-DE"},
        {"fr:de", "de_DE.UTF-8", {"LANG_en-US", "LANG_de-DE", "LANG_fr-FR"}, "fr-FR"},
        {"pt_BR:en", "en_US.UTF-8", {"LANG_pt-PT", "LANG_en-GB", "LANG_pt-BR"}, "pt-BR"},
        {"eo", "de_DE.UTF-8", {"LANG_en-US", "LANG_de-DE"}, "de-DE"},
        {"zh_HK", "en_US.UTF-8", {"LANG_zh-Hans", "LANG_zh-Hant", "LANG_en-US"}, "zh-Hant"},
        {"zh_MO:en", "en_US.UTF-8", {"LANG_en-US", "LANG_zh-CN", "LANG_zh-TW"}, "zh-TW"},
        {"zh_SG", "en_US.UTF-8", {"LANG_zh-Hant", "LANG_zh-Hans", "LANG_en-US"}, "zh-Hans"},
        // An English entry reaches any English before the next entry.
        {"en_AU:de", "de_DE.UTF-8", {"LANG_de-DE", "LANG_en-US"}, "en-US"},
        {"en_AU:de", "de_DE.UTF-8", {"LANG_de-DE", "LANG_en-US", "LANG_en-GB"}, "en-GB"},
        {"en_GB:fr", "de_DE.UTF-8", {"LANG_fr-FR", "LANG_en-US", "LANG_de-DE"}, "en-US"},
        {"en:de", "de_DE.UTF-8", {"LANG_de-DE", "LANG_en-CA"}, "en-CA"},
        {"en_US:de", "de_DE.UTF-8", {"LANG_de-DE", "LANG_en-GB"}, "en-GB"},
        // ... but not before an earlier one, and a list without English keeps its order.
        {"de:en_AU", "en_US.UTF-8", {"LANG_en-US", "LANG_de-DE"}, "de-DE"},
        {"fr:de", "de_DE.UTF-8", {"LANG_en-GB", "LANG_de-DE"}, "de-DE"},
        // The C locale: untranslated, whatever LANGUAGE says.
        {"fr:de", "C", {"LANG_de-DE", "LANG_en-US", "LANG_fr-FR"}, "en-US"},
        {"fr:de", nullptr, {"LANG_de-DE", "LANG_en-US", "LANG_fr-FR"}, "en-US"},
    };
    LocaleEnvironment locale;
    for (const auto& c : cases) {
        locale.Use(nullptr, nullptr, nullptr, c.lang);
        locale.UseLanguageList(c.language);
        EXPECT_EQ(FindCultures(c.sections, "").selected, c.expected)
            << c.language << " / " << (c.lang ? c.lang : "-");
    }
}

TEST(CultureSelection, ChineseRegionsReachTheirScriptsSection) {
    EXPECT_EQ(MatchCulture({"zh-CN", "zh-TW"}, "zh-HK"), "zh-TW");
    EXPECT_EQ(MatchCulture({"zh-CN", "zh-TW"}, "zh-MO"), "zh-TW");
    EXPECT_EQ(MatchCulture({"zh-TW", "zh-CN"}, "zh-SG"), "zh-CN");
}

} // namespace
