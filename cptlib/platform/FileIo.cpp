#include "cptlib/platform/FileIo.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

int AccessFlags(std::uint32_t access) {
    const bool read = (access & static_cast<std::uint32_t>(FileAccess::Read)) != 0;
    const bool write = (access & static_cast<std::uint32_t>(FileAccess::Write)) != 0;
    if (read && write)
        return O_RDWR;
    return write ? O_WRONLY : O_RDONLY;
}

int DispositionFlags(CreationDisposition disposition) {
    switch (disposition) {
    case CreationDisposition::CreateNew:
        return O_CREAT | O_EXCL;
    case CreationDisposition::CreateAlways:
        return O_CREAT | O_TRUNC;
    case CreationDisposition::OpenExisting:
        return 0;
    case CreationDisposition::OpenAlways:
        return O_CREAT;
    case CreationDisposition::TruncateExisting:
        return O_TRUNC;
    }
    return 0;
}

} // namespace

std::uint32_t OpenFile(FileDescriptor& file, const std::filesystem::path& path,
                       std::uint32_t access, CreationDisposition disposition) {
    file.reset();
    const int flags = O_CLOEXEC | AccessFlags(access) | DispositionFlags(disposition);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return LastWin32Error();
    FileDescriptor opened(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return LastWin32Error();
    if (S_ISDIR(st.st_mode))
        return kErrorAccessDenied;
    file = std::move(opened);
    return kErrorSuccess;
}

std::uint32_t SeekFile(const FileDescriptor& file, std::int64_t offset, SeekOrigin origin,
                       std::uint64_t& position) {
    int whence = SEEK_SET;
    if (origin == SeekOrigin::Current)
        whence = SEEK_CUR;
    else if (origin == SeekOrigin::End)
        whence = SEEK_END;
    const off_t result = ::lseek(file.get(), static_cast<off_t>(offset), whence);
    if (result < 0)
        return LastWin32Error();
    position = static_cast<std::uint64_t>(result);
    return kErrorSuccess;
}

namespace {

// Reads until `count` bytes are in or the file ends; `readSome(at, room)` reads once.
template <class Count, class ReadSome>
std::uint32_t ReadUntilFullOrEnd(Count count, Count& read, ReadSome readSome) {
    read = 0;
    while (read < count) {
        const ssize_t n = readSome(read, count - read);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return LastWin32Error();
        }
        if (n == 0)
            break;
        read += static_cast<Count>(n);
    }
    return kErrorSuccess;
}

} // namespace

std::uint32_t ReadFile(const FileDescriptor& file, void* buffer, std::uint32_t count,
                       std::uint32_t& read) {
    auto* bytes = static_cast<char*>(buffer);
    return ReadUntilFullOrEnd(count, read, [&](std::uint32_t at, std::uint32_t room) {
        return ::read(file.get(), bytes + at, room);
    });
}

std::uint32_t ReadFileAt(const FileDescriptor& file, std::uint64_t offset, void* buffer,
                         std::size_t count, std::size_t& read) {
    auto* bytes = static_cast<char*>(buffer);
    return ReadUntilFullOrEnd(count, read, [&](std::size_t at, std::size_t room) {
        return ::pread(file.get(), bytes + at, room, static_cast<off_t>(offset + at));
    });
}

std::uint32_t FlushFile(const FileDescriptor& file) {
    if (::fsync(file.get()) != 0)
        return LastWin32Error();
    return kErrorSuccess;
}

} // namespace cptlib::platform
