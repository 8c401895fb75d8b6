#pragma once
// The user's cultures as the locale environment gives them.

#include <string>
#include <string_view>

namespace cptlib::platform {

// "de_AT.UTF-8@euro" -> "de-AT"; C, POSIX, an empty value or one without a country -> "".
std::string CultureFromLocaleName(std::string_view name);

// The interface language: LC_ALL, then LC_MESSAGES, then LANG.
std::string GetUserUiCulture();

// The user locale: LC_ALL, then LC_CTYPE, then LANG.
std::string GetUserLocaleCulture();

} // namespace cptlib::platform
