#include "cptlib/platform/OwnImage.h"

#include "cptlib/platform/Process.h"

#include <windows.h>

namespace cptlib::platform {

namespace {

HRESULT LastError() {
    return HResultFromWin32(GetLastError());
}

} // namespace

// Shared for reading only: nobody may change the file while the run reads it.
HRESULT OpenRunningImage(SharedFile& file) {
    const std::filesystem::path path = GetModulePath();
    if (path.empty())
        return LastError();
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    FileDescriptor opened(handle);
    if (GetFileType(handle) != FILE_TYPE_DISK)
        return HResultFromWin32(kErrorAccessDenied);
    file = std::make_shared<const FileDescriptor>(std::move(opened));
    return kHrOk;
}

HRESULT ReopenFile(const FileDescriptor& file, FileDescriptor& copy) {
    // A handle of its own to the same open file, whatever its name is now.
    const HANDLE handle = ReOpenFile(file.get(), GENERIC_READ, FILE_SHARE_READ, 0);
    if (handle == INVALID_HANDLE_VALUE)
        return LastError();
    copy.reset(handle);
    return kHrOk;
}

} // namespace cptlib::platform
