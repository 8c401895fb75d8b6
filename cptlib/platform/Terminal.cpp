#include "cptlib/platform/Terminal.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>

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

// East Asian wide ranges, for a locale that cannot classify them: a terminal shows them two
// columns wide all the same.
bool IsWide(char32_t code) {
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

int CodePointColumns(char32_t code) {
    if (code < 0x80)
        return 1;
    const int width = ::wcwidth(static_cast<wchar_t>(code));
    if (width >= 0)
        return width;
    return IsWide(code) ? 2 : 1;
}

} // namespace

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}
bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

int StderrColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

bool LocaleIsUtf8() {
    const char* codeset = ::nl_langinfo(CODESET);
    return codeset != nullptr &&
           (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

int DisplayColumns(std::string_view text) {
    int columns = 0;
    for (std::size_t i = 0; i < text.size();)
        columns += CodePointColumns(NextCodePoint(text, i));
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
        const int width = CodePointColumns(NextCodePoint(text, i));
        if (used + width > room)
            break;
        used += width;
        end = i;
    }
    // Combining marks after the last character kept belong to it.
    for (std::size_t i = end; i < text.size();) {
        if (CodePointColumns(NextCodePoint(text, i)) != 0)
            break;
        end = i;
    }
    return std::string(text.substr(0, end)) + std::string(ellipsis);
}

} // namespace cptlib::platform
