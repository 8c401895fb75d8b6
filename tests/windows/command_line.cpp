// Writes its command line as the system gave it, UTF-8, into the file named by the environment
// variable COMMAND_LINE_FILE.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t path[MAX_PATH];
    if (GetEnvironmentVariableW(L"COMMAND_LINE_FILE", path, MAX_PATH) == 0)
        return 2;
    const wchar_t* line = GetCommandLineW();
    const int wide = static_cast<int>(std::wcslen(line));
    std::string utf8(static_cast<std::size_t>(wide) * 4, '\0');
    utf8.resize(static_cast<std::size_t>(WideCharToMultiByte(
        CP_UTF8, 0, line, wide, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
    std::FILE* out = _wfopen(path, L"wb");
    if (out == nullptr)
        return 3;
    std::fwrite(utf8.data(), 1, utf8.size(), out);
    return std::fclose(out) == 0 ? 0 : 4;
}
