// A setup program for the launcher tests: writes what it was started with into the file that
// SFX_TEST_RECORD names (its command line, each argument, the values file that -m names, its
// folder, its process id, when it started), then ends with the code of `--exit N` (decimal or 0x
// hexadecimal).
// `--wait` keeps it running after the record is written, until it is ended.

#include <windows.h>

#include <shellapi.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// The bytes of a file as lowercase hexadecimal, or "missing".
std::string FileHex(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "missing";
    std::string hex;
    char buffer[4096];
    DWORD done = 0;
    while (ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done > 0)
        for (DWORD i = 0; i < done; ++i) {
            static const char digits[] = "0123456789abcdef";
            hex += digits[static_cast<unsigned char>(buffer[i]) >> 4];
            hex += digits[static_cast<unsigned char>(buffer[i]) & 15];
        }
    CloseHandle(file);
    return hex;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // When it started, on the clock that every process shares (for the start-up benchmark).
    LARGE_INTEGER started;
    QueryPerformanceCounter(&started);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string record = "cmdline=" + Utf8(GetCommandLineW()) + "\n";
    UINT code = 0;
    bool wait = false;
    for (int i = 1; i < count; ++i) {
        const std::wstring arg = argv[i];
        record += "arg=" + Utf8(arg) + "\n";
        if (arg == L"--exit" && i + 1 < count)
            code = static_cast<UINT>(std::wcstoul(argv[i + 1], nullptr, 0));
        else if (arg == L"--wait")
            wait = true;
        else if (arg == L"-m" && i + 1 < count)
            record += "values=" + FileHex(argv[i + 1]) + "\n";
    }
    wchar_t self[MAX_PATH * 4];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
    std::wstring folder(self, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    record += "folder=" + Utf8(folder) + "\n";
    record += "pid=" + std::to_string(GetCurrentProcessId()) + "\n";
    record += "qpc=" + std::to_string(started.QuadPart) + "\n";

    wchar_t target[MAX_PATH * 4];
    if (GetEnvironmentVariableW(L"SFX_TEST_RECORD", target, MAX_PATH * 4) > 0) {
        // Written under another name and renamed, so that a waiting test never reads half.
        const std::wstring partial = std::wstring(target) + L".part";
        const HANDLE file =
            CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &done, nullptr);
            CloseHandle(file);
            MoveFileExW(partial.c_str(), target, MOVEFILE_REPLACE_EXISTING);
        }
    }
    if (wait)
        Sleep(120000);
    return static_cast<int>(code);
}
