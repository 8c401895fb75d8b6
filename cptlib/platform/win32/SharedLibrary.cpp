#include "cptlib/platform/SharedLibrary.h"

#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

#include <string>
#include <utility>

namespace cptlib::platform {

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr)
        FreeLibrary(static_cast<HMODULE>(handle_));
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr)
            FreeLibrary(static_cast<HMODULE>(handle_));
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

SharedLibrary SharedLibrary::Load(const std::string& name, std::string& error) {
    SharedLibrary library;
    const std::wstring wide = Widen(name);
    // A bare name comes from the system folder only, never from the current or the program's
    // folder, where anyone who can write a file could put a library of that name.
    const bool bare = wide.find_first_of(L"\\/:") == std::wstring::npos;
    const HMODULE module =
        LoadLibraryExW(wide.c_str(), nullptr, bare ? LOAD_LIBRARY_SEARCH_SYSTEM32 : 0);
    if (module == nullptr) {
        error = name + ": cannot be loaded (error " + std::to_string(GetLastError()) + ")";
        return library;
    }
    // Kept until the process ends, as on Linux: the code may have registered process-wide state.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                       reinterpret_cast<LPCWSTR>(module), &pinned);
    library.handle_ = module;
    return library;
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
    if (handle_ == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), symbol));
}

} // namespace cptlib::platform
