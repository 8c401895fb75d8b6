// Writes the arguments the C runtime split from its command line into the file named by the
// first one, each as UTF-8 followed by a zero byte.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    std::FILE* out = _wfopen(argv[1], L"wb");
    if (out == nullptr)
        return 3;
    for (int i = 2; i < argc; ++i) {
        const int wide = static_cast<int>(std::wcslen(argv[i]));
        std::string utf8(static_cast<std::size_t>(wide) * 4, '\0');
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], wide, utf8.data(),
                                          static_cast<int>(utf8.size()), nullptr, nullptr);
        utf8.resize(static_cast<std::size_t>(n));
        std::fwrite(utf8.data(), 1, utf8.size() + 1, out);
    }
    return std::fclose(out) == 0 ? 0 : 4;
}
