#pragma once
// UTF-8 to and from the UTF-16 of the wide Win32 calls.

#include "cptlib/Utf.h"

#include <string>
#include <string_view>

namespace cptlib::platform {

// Text that is not valid gives the empty string, like a call that failed.
inline std::string Narrow(std::wstring_view text) {
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text.data()), text.size());
    return Utf16ToUtf8(units).value_or(std::string());
}

inline std::wstring Widen(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text).value_or(std::u16string());
    return std::wstring(units.begin(), units.end());
}

} // namespace cptlib::platform
