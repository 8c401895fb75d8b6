#include "cptlib/Utf.h"

#include <cwctype>

namespace cptlib {

namespace {

// Decodes one code point at text[i]; returns the number of bytes or 0 when invalid.
std::size_t DecodeOne(std::string_view text, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > text.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(text[i + k]);
        if ((b & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}

} // namespace

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::size_t DecodeUtf8At(std::string_view text, std::size_t i, char32_t& cp) {
    return i < text.size() ? DecodeOne(text, i, cp) : 0;
}

std::string LowBytesOfUtf16(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t n = DecodeOne(text, i, cp);
        if (n == 0) {
            out += text[i++];
            continue;
        }
        if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            out += static_cast<char>((0xD800 + (v >> 10)) & 0xFF);
            out += static_cast<char>((0xDC00 + (v & 0x3FF)) & 0xFF);
        } else {
            out += static_cast<char>(cp & 0xFF);
        }
        i += n;
    }
    return out;
}

std::string WidenBytesToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes)
        AppendUtf8(out, static_cast<unsigned char>(c));
    return out;
}

std::optional<std::u32string> DecodeUtf8(std::string_view text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t n = DecodeOne(text, i, cp);
        if (n == 0)
            return std::nullopt;
        out += cp;
        i += n;
    }
    return out;
}

bool IsValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t n = DecodeOne(text, i, cp);
        if (n == 0)
            return false;
        i += n;
    }
    return true;
}

std::string EncodeUtf8(std::u32string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char32_t cp : text)
        AppendUtf8(out, cp);
    return out;
}

std::optional<std::u16string> Utf8ToUtf16(std::string_view text) {
    auto decoded = DecodeUtf8(text);
    if (!decoded)
        return std::nullopt;
    std::u16string out;
    out.reserve(decoded->size());
    for (char32_t cp : *decoded) {
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return std::nullopt;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return std::nullopt;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

char32_t ToLowerCodePoint(char32_t cp) {
    if (cp < 0x80)
        return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return static_cast<char32_t>(std::towlower(static_cast<wint_t>(cp)));
}

std::string ToLowerUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        const std::size_t n = DecodeOne(text, i, cp);
        if (n == 0) {
            out += text[i];
            ++i;
            continue;
        }
        AppendUtf8(out, ToLowerCodePoint(cp));
        i += n;
    }
    return out;
}

int CompareNoCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        char32_t ca = 0, cb = 0;
        std::size_t na = DecodeOne(a, i, ca), nb = DecodeOne(b, j, cb);
        // Undecodable bytes compare as themselves, above every code point.
        if (na == 0) {
            ca = 0x110000 + static_cast<unsigned char>(a[i]);
            na = 1;
        }
        if (nb == 0) {
            cb = 0x110000 + static_cast<unsigned char>(b[j]);
            nb = 1;
        }
        ca = ToLowerCodePoint(ca);
        cb = ToLowerCodePoint(cb);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        i += na;
        j += nb;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace cptlib
