#pragma once
// Text helpers: the program keeps text as UTF-8 in std::string; where the file formats or the
// command-line protocol count UTF-16 code units, convert explicitly with these.

#include <compare>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace cptlib {

// Decodes UTF-8 strictly (no overlongs, no surrogates, nothing above U+10FFFF).
std::optional<std::u32string> DecodeUtf8(std::string_view text);
bool IsValidUtf8(std::string_view text);
std::string EncodeUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t cp);

// UTF-8 <-> UTF-16; invalid input gives std::nullopt.
std::optional<std::u16string> Utf8ToUtf16(std::string_view text);
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

// The code point at text[i]; returns its length in bytes, 0 when the bytes there are not valid
// UTF-8 (cp is then unspecified).
std::size_t DecodeUtf8At(std::string_view text, std::size_t i, char32_t& cp);

// The 8-bit text a UTF-16 string gives when each code unit is cut to its low byte, as the
// command-line protocol narrows text. Bytes that are not valid UTF-8 are kept as they are.
std::string LowBytesOfUtf16(std::string_view text);

// 8-bit text widened character by character: each byte becomes the code point of its value.
std::string WidenBytesToUtf8(std::string_view bytes);

// Lower-cases per code point (towlower of the global C locale). Invalid UTF-8 is lower-cased
// bytewise for ASCII and otherwise kept.
std::string ToLowerUtf8(std::string_view text);
char32_t ToLowerCodePoint(char32_t cp);

// Case-insensitive comparison on code points.
int CompareNoCase(std::string_view a, std::string_view b);
inline bool EqualsNoCase(std::string_view a, std::string_view b) {
    return CompareNoCase(a, b) == 0;
}

struct less_icase {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const { return CompareNoCase(a, b) < 0; }
};

} // namespace cptlib
