// Ends with the 32-bit exit code given as its argument (decimal or 0x hexadecimal).
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2)
        return 2;
    ExitProcess(static_cast<UINT>(std::wcstoul(argv[1], nullptr, 0)));
}
