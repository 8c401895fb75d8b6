#pragma once
// The user's cultures as the locale environment gives them.

#include <string>
#include <string_view>
#include <vector>

namespace cptlib::platform {

// "de_AT.UTF-8@euro" -> "de-AT"; C, POSIX, an empty value or one without a country -> "".
std::string CultureFromLocaleName(std::string_view name);

// The interface languages, best first: the entries of LANGUAGE (a colon-separated list, bare
// languages allowed; ignored under the C locale as GNU programs do), then LC_ALL, LC_MESSAGES or
// LANG. Each once.
std::vector<std::string> GetUserUiCultures();

// The first of GetUserUiCultures(), or empty.
std::string GetUserUiCulture();

// The user locale: LC_ALL, then LC_CTYPE, then LANG.
std::string GetUserLocaleCulture();

// The decimal separator of the locale named `name` ("" = the user's, from LC_ALL, LC_NUMERIC or
// LANG), read without touching the process locale; "." when that locale is not available.
std::string DecimalSeparatorOf(const std::string& name);

// The user's decimal separator, for numbers shown to the user.
std::string UserDecimalSeparator();

} // namespace cptlib::platform
