// The terminal's columns from each system's character widths: no system call here, so both
// systems build this file.

#include "cptlib/platform/Terminal.h"

namespace cptlib::platform {

namespace {

// The code point at `text[i]`, advancing `i`; a byte that starts no valid sequence counts as
// one character.
char32_t NextCodePoint(std::string_view text, std::size_t& i) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 1;
    if (i + length > text.size())
        length = 1;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            length = 1;
            code = lead;
            break;
        }
        code = (code << 6) | (next & 0x3F);
    }
    i += length;
    return code;
}

} // namespace

int DisplayColumns(std::string_view text) {
    int columns = 0;
    for (std::size_t i = 0; i < text.size();)
        columns += detail::CodePointColumns(NextCodePoint(text, i));
    return columns;
}

std::string FitToColumns(std::string_view text, int columns) {
    if (columns <= 0 || DisplayColumns(text) <= columns)
        return std::string(text);
    const std::string_view ellipsis = LocaleIsUtf8() ? "\u2026" : "...";
    const int room = columns - DisplayColumns(ellipsis);
    if (room < 0)
        return {};
    int used = 0;
    std::size_t end = 0;
    for (std::size_t i = 0; i < text.size();) {
        const int width = detail::CodePointColumns(NextCodePoint(text, i));
        if (used + width > room)
            break;
        used += width;
        end = i;
    }
    // Combining marks after the last character kept belong to it.
    for (std::size_t i = end; i < text.size();) {
        if (detail::CodePointColumns(NextCodePoint(text, i)) != 0)
            break;
        end = i;
    }
    return std::string(text.substr(0, end)) + std::string(ellipsis);
}

} // namespace cptlib::platform
