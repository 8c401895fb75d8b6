#include "cptlib/platform/File.h"

#include "cptlib/platform/win32/Disposition.h"

#include <windows.h>

#include <chrono>
#include <thread>

namespace cptlib::platform {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(250);

DWORD Access(FileAccess access) {
    switch (access) {
    case FileAccess::Read:
        return GENERIC_READ;
    case FileAccess::Write:
        return GENERIC_WRITE;
    case FileAccess::ReadWrite:
        return GENERIC_READ | GENERIC_WRITE;
    }
    return GENERIC_READ;
}

DWORD Share(FileShare share) {
    const auto bits = static_cast<std::uint32_t>(share);
    return ((bits & 1) != 0 ? FILE_SHARE_READ : 0) | ((bits & 2) != 0 ? FILE_SHARE_WRITE : 0) |
           ((bits & 4) != 0 ? FILE_SHARE_DELETE : 0);
}

HRESULT LastError() {
    return HResultFromWin32(GetLastError());
}

// A folder opens only with FILE_FLAG_BACKUP_SEMANTICS, so CreateFileW already refuses one with
// access denied.
HRESULT OpenOnce(FileDescriptor& file, const std::filesystem::path& path, DWORD access, DWORD share,
                 DWORD disposition) {
    const HANDLE handle = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    file.reset(handle);
    return kHrOk;
}

} // namespace

HRESULT OpenFileForRead(FileDescriptor& file, const std::filesystem::path& path, FileAccess access,
                        FileShare share, CreationDisposition disposition) {
    file.reset();
    return RetryOnSharingViolation(
        [&] {
            return OpenOnce(file, path, Access(access), Share(share),
                            NativeDisposition(disposition));
        },
        [] { std::this_thread::sleep_for(kRetryPause); });
}

HRESULT OpenRegularFileForRead(FileDescriptor& file, const std::filesystem::path& path) {
    file.reset();
    FileDescriptor opened;
    if (const HRESULT hr = OpenOnce(opened, path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                    OPEN_EXISTING);
        Failed(hr))
        return hr;
    // Pipes, consoles and devices open too; only a disk file is data.
    if (GetFileType(static_cast<HANDLE>(opened.get())) != FILE_TYPE_DISK)
        return HRESULT_INVALID_DATA;
    file = std::move(opened);
    return kHrOk;
}

std::uint64_t MaxLinkTargetSize() {
    // The reparse buffer's limit, in UTF-16 units of the substitute name.
    return 16 * 1024;
}

HRESULT QueryFileSize(const FileDescriptor& file, std::uint64_t& size) {
    size = 0;
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(static_cast<HANDLE>(file.get()), &value))
        return LastError();
    size = static_cast<std::uint64_t>(value.QuadPart);
    return kHrOk;
}

HRESULT QueryFileSize(const std::filesystem::path& path, std::uint64_t& size) {
    size = 0;
    FileDescriptor file;
    // Attributes only: a file that others hold open for writing still has a size.
    const HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    file.reset(handle);
    return QueryFileSize(file, size);
}

std::uint32_t QueryIsFolder(const std::filesystem::path& path, bool& isFolder) {
    isFolder = false;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return kErrorSuccess;
}

} // namespace cptlib::platform
