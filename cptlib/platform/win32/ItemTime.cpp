#include "cptlib/platform/ItemTime.h"

#include <windows.h>

namespace cptlib::platform {

namespace {

HANDLE OpenItself(const std::filesystem::path& path, DWORD access) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

} // namespace

int CopyItemTime(const std::filesystem::path& source, const std::filesystem::path& copy,
                 std::int64_t latest) {
    const HANDLE from = OpenItself(source, FILE_READ_ATTRIBUTES);
    if (from == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    FILETIME written{};
    FILETIME accessed{};
    const BOOL got = GetFileTime(from, nullptr, &accessed, &written);
    const DWORD readError = got ? 0 : GetLastError();
    CloseHandle(from);
    if (!got)
        return static_cast<int>(readError);
    // Seconds since 1970 in the 100-ns ticks since 1601 of FILETIME.
    const std::uint64_t cap =
        static_cast<std::uint64_t>(latest) * 10000000ull + 116444736000000000ull;
    const std::uint64_t ticks =
        (std::uint64_t(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    if (latest >= 0 && ticks >= cap) {
        written.dwLowDateTime = static_cast<DWORD>(cap);
        written.dwHighDateTime = static_cast<DWORD>(cap >> 32);
    }
    accessed = written;
    const HANDLE to = OpenItself(copy, FILE_WRITE_ATTRIBUTES);
    if (to == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    const BOOL set = SetFileTime(to, nullptr, &accessed, &written);
    const DWORD error = set ? 0 : GetLastError();
    CloseHandle(to);
    return static_cast<int>(error);
}

} // namespace cptlib::platform
