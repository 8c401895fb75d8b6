#include "cptlib/localization/CultureSelection.h"

#include "cptlib/platform/Locale.h"

#include <algorithm>

namespace cptlib {

const CultureDisplayName CultureDisplayNames[28] = {
    {"cs-CZ", "Čeština (Česká republika)"},
    {"da-DK", "Dansk (Danmark)"},
    {"de-DE", "Deutsch (Deutschland)"},
    {"en-GB", "English (United Kingdom)"},
    {"en-US", "English (United States)"},
    {"en-CA", "English (Canada)"},
    {"en-II", "English (international)"},
    {"es-ES", "Español (España)"},
    {"es-US", "Español (Estados Unidos)"},
    {"el-GR", "Ελληνικά (Ελλάδα)"},
    {"fr-FR", "Français (France)"},
    {"fr-CA", "Français (Canada)"},
    {"it-IT", "Italiano (Italia)"},
    {"hu-HU", "Magyar (Magyarország)"},
    {"nl-NL", "Nederlands (Nederland)"},
    {"nb-NO", "Norsk, bokmål (Norge)"},
    {"pl-PL", "Polski (Polska)"},
    {"pt-PT", "Português (Portugal)"},
    {"pt-BR", "Português (Brasil)"},
    // The first letter is the Latin capital P, as the name has always been shown.
    {"ru-RU", "Pусский (Россия)"},
    {"sl-SI", "Slovenski (Slovenija)"},
    {"fi-FI", "Suomi (Suomi)"},
    {"sv-SE", "Svenska (Sverige)"},
    {"tr-TR", "Türkçe (Türkiye)"},
    {"ja-JP", "日本語 (日本)"},
    {"ko-KR", "한국어 (대한민국)"},
    {"zh-CN", "中文(简体)"},
    {"zh-TW", "中文(繁體)"},
};

const CultureAlias CultureAliases[15] = {
    {"de", "de-DE"},    {"da", "da-DK"},    {"en", "en-GB"},    {"es", "es-ES"},
    {"fr", "fr-FR"},    {"it", "it-IT"},    {"nl", "nl-NL"},    {"no", "nb-NO"},
    {"pt", "pt-PT"},    {"sv", "sv-SE"},    {"zh-TW", "zh-TW"}, {"zh-HK", "zh-TW"},
    {"zh-MO", "zh-TW"}, {"zh-CN", "zh-CN"}, {"zh-SG", "zh-CN"},
};

namespace {

constexpr std::string_view kSectionPrefix = "LANG_";

bool HasSectionPrefix(std::string_view name) {
    return name.size() >= kSectionPrefix.size() &&
           EqualsNoCase(name.substr(0, kSectionPrefix.size()), kSectionPrefix);
}

// The text before the first hyphen (or all of it), without surrounding white space, lower-cased.
std::string LanguagePart(std::string_view culture) {
    std::string_view language = culture.substr(0, culture.find('-'));
    constexpr std::string_view blanks = " \t\r\n\f\v";
    const auto first = language.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    language = language.substr(first, language.find_last_not_of(blanks) - first + 1);
    return ToLowerUtf8(language);
}

bool Matches(std::string_view offered, std::string_view candidate) {
    if (candidate.find('-', 1) != std::string_view::npos)
        return EqualsNoCase(offered, candidate);
    // A bare language matches its regional cultures, not an offered bare language.
    return offered.size() > candidate.size() && offered[candidate.size()] == '-' &&
           EqualsNoCase(offered.substr(0, candidate.size()), candidate);
}

} // namespace

std::string GetCultureDisplayName(std::string_view culture) {
    for (const auto& row : CultureDisplayNames)
        if (EqualsNoCase(row.culture, culture))
            return row.displayName;
    return {};
}

std::string GetCultureAlias(std::string_view tag) {
    for (const auto& row : CultureAliases)
        if (EqualsNoCase(row.tag, tag))
            return row.culture;
    return {};
}

CultureOffer FindCultures(const std::vector<std::string>& sectionNames,
                          const std::string& requested) {
    CultureOffer offer;
    std::vector<std::string> offered;
    for (const auto& name : sectionNames) {
        if (!HasSectionPrefix(name))
            continue;
        std::string culture = name.substr(kSectionPrefix.size());
        // The first spelling keys the entry; the display name does not depend on the case.
        offer.cultures.try_emplace(culture, GetCultureDisplayName(culture));
        offered.push_back(std::move(culture));
    }
    if (offered.empty())
        return offer;

    offer.found = true;
    offer.selected = requested.empty() ? MatchCultures(offered, GetSystemCultures())
                                       : MatchCulture(offered, requested);
    if (offer.selected.empty())
        offer.selected = offered.front();
    return offer;
}

std::string GetSystemCulture() {
    const auto cultures = GetSystemCultures();
    return cultures.empty() ? std::string() : cultures.front();
}

std::vector<std::string> GetSystemCultures() {
    const std::string user = platform::GetUserLocaleCulture();
    std::vector<std::string> cultures;
    for (const std::string& ui : platform::GetUserUiCultures()) {
        std::string culture = LanguagePart(ui) != LanguagePart(user) ? ui : user;
        if (std::find(cultures.begin(), cultures.end(), culture) == cultures.end())
            cultures.push_back(std::move(culture));
    }
    return cultures;
}

namespace {

// The candidates of `culture` before the English fallbacks.
std::vector<std::string> OwnCandidates(const std::string& culture) {
    std::vector<std::string> candidates;
    if (!culture.empty()) {
        candidates.push_back(culture);
        const std::string language = LanguagePart(culture);
        if (language != "en") {
            std::string alias = GetCultureAlias(culture);
            if (alias.empty())
                alias = GetCultureAlias(language);
            if (!alias.empty() && !EqualsNoCase(alias, culture))
                candidates.push_back(alias);
            if (EqualsNoCase(alias, "zh-tw"))
                candidates.emplace_back("zh-Hant");
            else if (EqualsNoCase(alias, "zh-cn"))
                candidates.emplace_back("zh-Hans");
            candidates.push_back(language);
        } else {
            // An English entry takes any English before the next entry of the user's list
            // (LANGUAGE=en_AU:de is English).
            for (const char* english : {"en-II", "en-GB", "en-US", "en"})
                if (!EqualsNoCase(culture, english))
                    candidates.emplace_back(english);
        }
    }
    return candidates;
}

} // namespace

std::vector<std::string> GetCultureCandidates(const std::string& culture) {
    std::vector<std::string> candidates = OwnCandidates(culture);
    // An English culture has its fallbacks among its own candidates already.
    if (LanguagePart(culture) == "en")
        return candidates;
    candidates.emplace_back("en-II");
    candidates.emplace_back("en-GB");
    candidates.emplace_back("en-US");
    candidates.emplace_back("en");
    return candidates;
}

std::string MatchCulture(const std::vector<std::string>& offered, const std::string& culture) {
    for (const auto& candidate : GetCultureCandidates(culture))
        for (const auto& name : offered)
            if (Matches(name, candidate))
                return name;
    return {};
}

std::string MatchCultures(const std::vector<std::string>& offered,
                          const std::vector<std::string>& cultures) {
    for (const auto& culture : cultures)
        for (const auto& candidate : OwnCandidates(culture))
            for (const auto& name : offered)
                if (Matches(name, candidate))
                    return name;
    return MatchCulture(offered, cultures.empty() ? std::string() : cultures.front());
}

} // namespace cptlib
