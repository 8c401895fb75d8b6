#include "cptlib/platform/ThreadLocale.h"

#include <locale.h>

namespace cptlib::platform {

namespace {

constexpr locale_t kNoLocale = static_cast<locale_t>(nullptr);

locale_t Handle(void* locale) {
    return static_cast<locale_t>(locale);
}

} // namespace

Utf8CharacterLocale::Utf8CharacterLocale()
    : locale_(::newlocale(LC_CTYPE_MASK, "C.UTF-8", kNoLocale)) {}

Utf8CharacterLocale::~Utf8CharacterLocale() {
    if (Handle(locale_) != kNoLocale)
        ::freelocale(Handle(locale_));
}

Utf8CharacterLocale::Use::Use(const Utf8CharacterLocale& locale)
    : previous_(Handle(locale.locale_) != kNoLocale ? ::uselocale(Handle(locale.locale_))
                                                    : kNoLocale) {}

Utf8CharacterLocale::Use::~Use() {
    if (Handle(previous_) != kNoLocale)
        ::uselocale(Handle(previous_));
}

} // namespace cptlib::platform
