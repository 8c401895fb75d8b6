#include "cptlib/platform/Locale.h"

#include <cstdlib>
#include <initializer_list>

namespace cptlib::platform {

std::string CultureFromLocaleName(std::string_view name) {
    const auto end = name.find_first_of(".@");
    name = name.substr(0, end);
    if (name.empty() || name == "C" || name == "POSIX")
        return {};
    const auto sep = name.find('_');
    if (sep == std::string_view::npos || sep == 0 || sep + 1 >= name.size())
        return {};
    std::string culture(name);
    culture[sep] = '-';
    return culture;
}

namespace {

std::string FirstSet(std::initializer_list<const char*> variables) {
    for (const char* variable : variables) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return CultureFromLocaleName(value);
    }
    return {};
}

} // namespace

std::string GetUserUiCulture() { return FirstSet({"LC_ALL", "LC_MESSAGES", "LANG"}); }

std::string GetUserLocaleCulture() { return FirstSet({"LC_ALL", "LC_CTYPE", "LANG"}); }

} // namespace cptlib::platform
