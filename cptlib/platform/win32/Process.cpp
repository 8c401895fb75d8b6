#include "cptlib/platform/Process.h"

#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

namespace cptlib::platform {

std::uint32_t CurrentProcessId() {
    return GetCurrentProcessId();
}

std::filesystem::path GetModulePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string CurrentFolderPath() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    if (size == 0)
        return {};
    std::wstring buffer(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, buffer.data());
    if (length == 0 || length >= size)
        return {};
    buffer.resize(length);
    if (buffer.back() != L'\\')
        buffer += L'\\';
    return Narrow(buffer);
}

// The short 8.3 form that GetTempPathW may give becomes the long one, the names a user sees.
std::uint32_t TempFolderPath(std::string& path) {
    std::wstring buffer(MAX_PATH + 1, L'\0');
    DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (length == 0)
        return GetLastError();
    buffer.resize(length);
    std::wstring longer(MAX_PATH + 1, L'\0');
    length = GetLongPathNameW(buffer.c_str(), longer.data(), static_cast<DWORD>(longer.size()));
    if (length > longer.size()) {
        longer.resize(length);
        length = GetLongPathNameW(buffer.c_str(), longer.data(), length);
    }
    if (length == 0 || length > longer.size())
        return GetLastError() != 0 ? GetLastError() : ERROR_PATH_NOT_FOUND;
    longer.resize(length);
    if (longer.back() != L'\\')
        longer += L'\\';
    path = Narrow(longer);
    return path.empty() ? ERROR_NO_UNICODE_TRANSLATION : 0;
}

// A Windows process ends with a 32-bit code and no signal.
ProcessEnd DecodeWaitStatus(int waitStatus) {
    return {ProcessEnd::Kind::Exited, waitStatus};
}

} // namespace cptlib::platform
