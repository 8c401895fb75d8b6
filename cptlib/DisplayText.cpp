#include "cptlib/DisplayText.h"

#include <cstdint>
#include <cstdio>

namespace cptlib {

namespace {

// The length of the valid UTF-8 sequence at the start of `text` and its code point; 0 when
// the first byte does not begin one.
std::size_t DecodeOne(std::string_view text, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    std::size_t length;
    char32_t minimum;
    if (first < 0x80) {
        code = first;
        return 1;
    } else if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        code = first & 0x1F;
        minimum = 0x80;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        code = first & 0x0F;
        minimum = 0x800;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        code = first & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    if (text.size() < length)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return 0;
    return length;
}

bool ReordersText(char32_t code) {
    return code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

std::string Escape(std::string_view text, bool keepLines) {
    std::string shown;
    shown.reserve(text.size());
    char escape[16];
    while (!text.empty()) {
        char32_t code = 0;
        const std::size_t length = DecodeOne(text, code);
        if (length == 0) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned char>(text[0]));
            shown += escape;
            text.remove_prefix(1);
            continue;
        }
        if (keepLines && (code == '\n' || code == '\t')) {
            shown += static_cast<char>(code);
        } else if (code < 0x20 || code == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(code));
            shown += escape;
        } else if ((code >= 0x80 && code < 0xA0) || ReordersText(code)) {
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(code));
            shown += escape;
        } else {
            shown.append(text.data(), length);
        }
        text.remove_prefix(length);
    }
    return shown;
}

} // namespace

std::string DisplayName(std::string_view text) {
    return Escape(text, false);
}

std::string DisplayText(std::string_view text) {
    return Escape(text, true);
}

} // namespace cptlib
