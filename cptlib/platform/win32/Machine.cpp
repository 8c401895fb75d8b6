#include "cptlib/platform/Machine.h"

#include <windows.h>

#include <bit>

namespace cptlib::platform {

bool IsSixtyFourBitMachine(std::string_view machine) {
    return machine.find("64") != std::string_view::npos;
}

// Looked up at run time: systems without WOW64 lack the function, which counts as false.
bool Is32BitProcessOn64BitKernel() {
    using IsWow64Function = BOOL(WINAPI*)(HANDLE, PBOOL);
    const HMODULE kernel = GetModuleHandleW(L"kernel32");
    if (kernel == nullptr)
        return false;
    const auto isWow64 = reinterpret_cast<IsWow64Function>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
    BOOL wow64 = FALSE;
    return isWow64 != nullptr && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

unsigned UsableProcessorCount() {
    DWORD_PTR process = 0;
    DWORD_PTR system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0)
        return static_cast<unsigned>(std::popcount(static_cast<unsigned long long>(process)));
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? info.dwNumberOfProcessors : 1;
}

} // namespace cptlib::platform
