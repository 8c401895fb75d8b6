#include "cptlib/platform/Terminal.h"

#include <langinfo.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <cwchar>

namespace cptlib::platform {

namespace {

// East Asian wide ranges, for a locale that cannot classify them: a terminal shows them two
// columns wide all the same.
bool IsWide(char32_t code) {
    return (code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
           (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
           (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
           (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD);
}

} // namespace

namespace detail {
int CodePointColumns(char32_t code) {
    if (code < 0x80)
        return 1;
    const int width = ::wcwidth(static_cast<wchar_t>(code));
    if (width >= 0)
        return width;
    return IsWide(code) ? 2 : 1;
}

} // namespace detail

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

} // namespace cptlib::platform
