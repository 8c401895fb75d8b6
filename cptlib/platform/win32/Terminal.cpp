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

// The C runtime here has no wcwidth: the ranges a console shows two columns wide, and the
// combining marks and zero-width characters it draws onto the one before.
} // namespace

namespace detail {
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

} // namespace detail

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

} // namespace cptlib::platform
