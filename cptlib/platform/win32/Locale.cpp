#include "cptlib/platform/Locale.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

namespace cptlib::platform {

// Windows names its locales "de-AT" already; the POSIX spelling is still read, for names that
// came from elsewhere.
std::string CultureFromLocaleName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    const std::size_t separator = name.find_first_of("_-");
    if (separator == std::string_view::npos || separator == 0 || separator + 1 >= name.size())
        return {};
    std::string culture(name);
    culture[separator] = '-';
    return culture;
}

std::vector<std::string> GetUserUiCultures() {
    ULONG count = 0;
    ULONG length = 0;
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, nullptr, &length) || length == 0)
        return {};
    std::wstring buffer(length, L'\0');
    if (!GetUserPreferredUILanguages(MUI_LANGUAGE_NAME, &count, buffer.data(), &length))
        return {};
    // A double-NUL-terminated list.
    std::vector<std::string> cultures;
    for (std::size_t start = 0; start < buffer.size() && buffer[start] != L'\0';) {
        const std::size_t end = buffer.find(L'\0', start);
        std::string culture = Narrow(std::wstring_view(buffer.data() + start, end - start));
        bool seen = false;
        for (const std::string& earlier : cultures)
            seen = seen || EqualsNoCase(earlier, culture);
        if (!culture.empty() && !seen)
            cultures.push_back(std::move(culture));
        start = end + 1;
    }
    return cultures;
}

std::string GetUserUiCulture() {
    std::vector<std::string> cultures = GetUserUiCultures();
    return cultures.empty() ? std::string() : std::move(cultures.front());
}

std::string GetUserLocaleCulture() {
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    const int length = GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH);
    return length > 1 ? CultureFromLocaleName(
                            Narrow(std::wstring_view(name, static_cast<std::size_t>(length - 1))))
                      : std::string();
}

std::string DecimalSeparatorOf(const std::string& name) {
    const std::wstring locale = Widen(name);
    wchar_t separator[8] = {};
    const int length = GetLocaleInfoEx(name.empty() ? LOCALE_NAME_USER_DEFAULT : locale.c_str(),
                                       LOCALE_SDECIMAL, separator, 8);
    if (length <= 1)
        return ".";
    return Narrow(std::wstring_view(separator, static_cast<std::size_t>(length - 1)));
}

std::string UserDecimalSeparator() {
    return DecimalSeparatorOf(std::string());
}

} // namespace cptlib::platform
