#include "cptlib/platform/FileIo.h"

#include "cptlib/platform/win32/Disposition.h"

#include <windows.h>

namespace cptlib::platform {

namespace {

HANDLE Native(const FileDescriptor& file) {
    return static_cast<HANDLE>(file.get());
}

} // namespace

void FileDescriptor::reset(FileHandle fd) noexcept {
    if (IsValidHandle(fd_) && fd_ != fd)
        CloseHandle(static_cast<HANDLE>(fd_));
    fd_ = fd;
}

std::uint32_t OpenFile(FileDescriptor& file, const std::filesystem::path& path,
                       std::uint32_t access, CreationDisposition disposition) {
    file.reset();
    DWORD desired = 0;
    if ((access & static_cast<std::uint32_t>(FileAccess::Read)) != 0 || access == 0)
        desired |= GENERIC_READ;
    if ((access & static_cast<std::uint32_t>(FileAccess::Write)) != 0)
        desired |= GENERIC_WRITE;
    // Others may read and write beside us, as the POSIX side allows.
    const HANDLE handle =
        CreateFileW(path.c_str(), desired, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, NativeDisposition(disposition), FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    file.reset(handle);
    return kErrorSuccess;
}

std::uint32_t SeekFile(const FileDescriptor& file, std::int64_t offset, SeekOrigin origin,
                       std::uint64_t& position) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER moved;
    if (!SetFilePointerEx(Native(file), distance, &moved, static_cast<DWORD>(origin)))
        return GetLastError();
    position = static_cast<std::uint64_t>(moved.QuadPart);
    return kErrorSuccess;
}

std::uint32_t ReadFile(const FileDescriptor& file, void* buffer, std::uint32_t count,
                       std::uint32_t& read) {
    read = 0;
    auto* out = static_cast<char*>(buffer);
    while (read < count) {
        DWORD got = 0;
        if (!::ReadFile(Native(file), out + read, count - read, &got, nullptr))
            return GetLastError();
        if (got == 0)
            break;
        read += got;
    }
    return kErrorSuccess;
}

std::uint32_t ReadFileAt(const FileDescriptor& file, std::uint64_t offset, void* buffer,
                         std::size_t count, std::size_t& read) {
    read = 0;
    auto* out = static_cast<char*>(buffer);
    while (read < count) {
        // On a handle opened without overlapping the read also moves its position: readers
        // sharing it must all read by offset, as the archive readers do.
        OVERLAPPED at{};
        const std::uint64_t where = offset + read;
        at.Offset = static_cast<DWORD>(where);
        at.OffsetHigh = static_cast<DWORD>(where >> 32);
        const std::size_t left = count - read;
        const DWORD chunk = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!::ReadFile(Native(file), out + read, chunk, &got, &at)) {
            const DWORD error = GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            return error;
        }
        if (got == 0)
            break;
        read += got;
    }
    return kErrorSuccess;
}

std::uint32_t FlushFile(const FileDescriptor& file) {
    return FlushFileBuffers(Native(file)) ? kErrorSuccess : GetLastError();
}

} // namespace cptlib::platform
