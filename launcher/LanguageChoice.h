#pragma once
// The language choice of start-up: the user confirms or changes the automatically chosen
// culture.

#include "cptlib/localization/CultureSelection.h"
#include "cptlib/localization/StringResources.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace sfx {

// The display names in the order of the sorted list: alphabetical as in a dictionary (an
// accented letter with its base letter), letter case ignored.
std::vector<std::string> SortedDisplayNames(const cptlib::CultureMap& cultures);

// Asks at the terminal when stdin and stderr are terminals; without one the automatic choice
// stands and the result is kIdOk. Returns kIdOk (selectedCulture holds the choice) or kIdCancel.
int RunLanguageDialog(const cptlib::CultureMap& cultures, std::string& selectedCulture,
                      const cptlib::IStringResources& strings);

// The prompt itself: lists the display names sorted alphabetically with selectedCulture's as
// the default, reads the number of a line from `in`. Enter keeps the default; "q" or the end
// of the input cancels. As in the dialog, a chosen line stands for the first culture in map
// order with that display name.
int PromptForLanguage(const cptlib::CultureMap& cultures, std::string& selectedCulture,
                      const cptlib::IStringResources& strings, std::istream& in, std::ostream& out);

} // namespace sfx
