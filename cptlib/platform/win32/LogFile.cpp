#include "cptlib/platform/LogFile.h"

#include <windows.h>

namespace cptlib::platform {

std::uint32_t OpenLogFile(FileDescriptor& file, const std::filesystem::path& path) {
    // Appending access only: every write lands at the end, also beside another writer. Not
    // inheritable, as handles are unless asked for.
    const HANDLE handle = CreateFileW(path.c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    file.reset(handle);
    return kErrorSuccess;
}

std::uint32_t AppendToFile(const FileDescriptor& file, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(file.get()), bytes, chunk, &written, nullptr))
            return GetLastError();
        bytes += written;
        size -= written;
    }
    return kErrorSuccess;
}

} // namespace cptlib::platform
