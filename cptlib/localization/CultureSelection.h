#pragma once
// Which of the cultures a launcher offers a run uses: the requested one, else the user's, by
// a fixed list of fallbacks.

#include "cptlib/Utf.h"

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cptlib {

struct CultureDisplayName {
    const char* culture;
    const char* displayName;
};

struct CultureAlias {
    const char* tag;
    const char* culture;
};

// The names the language choice shows, UTF-8.
extern const CultureDisplayName CultureDisplayNames[28];
// Tags that stand for a preferred culture.
extern const CultureAlias CultureAliases[15];

// Culture -> display name, keyed without regard to letter case.
using CultureMap = std::map<std::string, std::string, less_icase>;

struct CultureOffer {
    bool found = false; // false when no "LANG_" section offers a culture
    CultureMap cultures;
    std::string selected;
};

// The display name of a culture (letter case ignored); empty for one outside the table.
std::string GetCultureDisplayName(std::string_view culture);

// The preferred culture for a tag (letter case ignored); empty when the tag has none.
std::string GetCultureAlias(std::string_view tag);

// The cultures offered by the "LANG_<culture>" sections among `sectionNames` (in the
// configuration's order) and the best one for `requested`, or for the system culture when
// `requested` is empty.
CultureOffer FindCultures(const std::vector<std::string>& sectionNames,
                          const std::string& requested);

// The user's culture as language-country ("de-AT"), or empty: the interface language, unless
// it has the same language as the user locale, whose regional variant then wins.
std::string GetSystemCulture();

// The user's cultures, best first (the interface languages in order, each as GetSystemCulture
// treats the first).
std::vector<std::string> GetSystemCultures();

// The names to try for `culture`, best first, ending with the English fallbacks.
std::vector<std::string> GetCultureCandidates(const std::string& culture);

// The first offered culture, as written in `offered`, that a candidate of `culture` matches;
// empty when none does.
std::string MatchCulture(const std::vector<std::string>& offered, const std::string& culture);

// As MatchCulture for a list of preferred cultures: each one's own names in turn, the English
// fallbacks only after all of them.
std::string MatchCultures(const std::vector<std::string>& offered,
                          const std::vector<std::string>& cultures);

} // namespace cptlib
