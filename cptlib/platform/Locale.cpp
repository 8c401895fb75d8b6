#include "cptlib/platform/Locale.h"

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <initializer_list>
#include <langinfo.h>
#include <locale.h>
#include <memory>

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

std::string FirstSetValue(std::initializer_list<const char*> variables) {
    for (const char* variable : variables) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0')
            return value;
    }
    return {};
}

std::string FirstSet(std::initializer_list<const char*> variables) {
    return CultureFromLocaleName(FirstSetValue(variables));
}

// One entry of LANGUAGE: "de_AT.UTF-8" -> "de-AT", "de" -> "de", "sr@latin" -> "sr".
std::string CultureFromLanguageEntry(std::string_view entry) {
    std::string culture = CultureFromLocaleName(entry);
    if (!culture.empty())
        return culture;
    entry = entry.substr(0, entry.find_first_of(".@"));
    if (entry.empty() || entry == "C" || entry == "POSIX" || entry.find('_') != entry.npos)
        return {};
    return std::string(entry);
}

struct LocaleDeleter {
    void operator()(locale_t locale) const { ::freelocale(locale); }
};
using LocaleHandle = std::unique_ptr<std::remove_pointer_t<locale_t>, LocaleDeleter>;

} // namespace

std::vector<std::string> GetUserUiCultures() {
    std::vector<std::string> cultures;
    const auto add = [&cultures](std::string culture) {
        if (!culture.empty() &&
            std::find(cultures.begin(), cultures.end(), culture) == cultures.end())
            cultures.push_back(std::move(culture));
    };
    const std::string messages = FirstSetValue({"LC_ALL", "LC_MESSAGES", "LANG"});
    // The C locale promises untranslated messages, whatever LANGUAGE asks for.
    const char* language = std::getenv("LANGUAGE");
    if (language != nullptr && !messages.empty() && messages != "C" && messages != "POSIX") {
        std::string_view list(language);
        while (!list.empty()) {
            const auto colon = list.find(':');
            add(CultureFromLanguageEntry(list.substr(0, colon)));
            list = colon == list.npos ? std::string_view() : list.substr(colon + 1);
        }
    }
    add(CultureFromLocaleName(messages));
    return cultures;
}

std::string GetUserUiCulture() {
    const auto cultures = GetUserUiCultures();
    return cultures.empty() ? std::string() : cultures.front();
}

std::string GetUserLocaleCulture() {
    return FirstSet({"LC_ALL", "LC_CTYPE", "LANG"});
}

std::string DecimalSeparatorOf(const std::string& name) {
    // A locale object of its own: setlocale would change how the whole process reads numbers.
    const LocaleHandle locale(::newlocale(LC_NUMERIC_MASK, name.c_str(), locale_t{}));
    if (!locale)
        return ".";
    const char* radix = ::nl_langinfo_l(RADIXCHAR, locale.get());
    return radix != nullptr && *radix != '\0' ? std::string(radix) : std::string(".");
}

std::string UserDecimalSeparator() {
    return DecimalSeparatorOf("");
}

} // namespace cptlib::platform
