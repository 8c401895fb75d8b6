#pragma once
// Culture names (RFC 1766 tags such as de-AT) and the 16-bit language ids of resources.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cptlib {

constexpr std::uint16_t LANG_EN_US = 1033;

// The language id of a culture, without regard to case; nullopt for an unknown culture.
std::optional<std::uint16_t> Rfc1766ToLcid(std::string_view culture);

// The culture of a language id, as written in the table ("de-AT"); empty when unknown.
std::string LcidToRfc1766(std::uint16_t lcid);

// The neutral sub-language of the same primary language (1031 -> 7).
constexpr std::uint16_t PrimaryLanguageId(std::uint16_t lcid) {
    return lcid & 0x3FF;
}

} // namespace cptlib
