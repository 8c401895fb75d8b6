#include "cptlib/platform/Terminal.h"

#include "cptlib/platform/win32/Console.h"

#include <cstdio>
#include <mutex>

namespace cptlib::platform {

namespace detail {

namespace {

bool Handed(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE;
}

} // namespace

// Only the streams nobody handed over join the console: a redirection stays what it was.
void UseStartersConsole() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (GetConsoleWindow() != nullptr)
            return;
        const bool in = Handed(STD_INPUT_HANDLE);
        const bool out = Handed(STD_OUTPUT_HANDLE);
        const bool err = Handed(STD_ERROR_HANDLE);
        if ((in && out && err) || !AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        // The C runtime's streams follow, so that std::cerr and std::cin reach the console.
        if (!in) {
            const HANDLE input =
                CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            SetStdHandle(STD_INPUT_HANDLE, input);
            [[maybe_unused]] auto* reopened = std::freopen("CONIN$", "r", stdin);
        }
        if (!out || !err) {
            const HANDLE output =
                CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            if (!out) {
                SetStdHandle(STD_OUTPUT_HANDLE, output);
                [[maybe_unused]] auto* reopened = std::freopen("CONOUT$", "w", stdout);
            }
            if (!err) {
                SetStdHandle(STD_ERROR_HANDLE, output);
                [[maybe_unused]] auto* reopened = std::freopen("CONOUT$", "w", stderr);
            }
        }
    });
}

} // namespace detail

namespace {

bool IsConsole(DWORD which) {
    detail::UseStartersConsole();
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

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

// The C runtime here has no wcwidth: the ranges a console shows two columns wide, and the
// combining marks and zero-width characters it draws onto the one before.
int CodePointColumns(char32_t code) {
    if (code < 0x80)
        return 1;
    if ((code >= 0x0300 && code <= 0x036F) || (code >= 0x1AB0 && code <= 0x1AFF) ||
        (code >= 0x1DC0 && code <= 0x1DFF) || (code >= 0x20D0 && code <= 0x20FF) ||
        (code >= 0xFE20 && code <= 0xFE2F) || (code >= 0x200B && code <= 0x200F))
        return 0;
    if ((code >= 0x1100 && code <= 0x115F) || (code >= 0x2E80 && code <= 0xA4CF) ||
        (code >= 0xAC00 && code <= 0xD7A3) || (code >= 0xF900 && code <= 0xFAFF) ||
        (code >= 0xFE30 && code <= 0xFE4F) || (code >= 0xFF00 && code <= 0xFF60) ||
        (code >= 0xFFE0 && code <= 0xFFE6) || (code >= 0x20000 && code <= 0x3FFFD))
        return 2;
    return 1;
}

} // namespace

bool StdinIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool StderrIsTerminal() {
    return IsConsole(STD_ERROR_HANDLE);
}

int StderrColumns() {
    detail::UseStartersConsole();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The launcher writes UTF-8: a console shows it as such only on that code page.
bool LocaleIsUtf8() {
    DWORD mode = 0;
    if (GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode))
        return GetConsoleOutputCP() == CP_UTF8;
    return GetACP() == CP_UTF8;
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
