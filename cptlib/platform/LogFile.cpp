#include "cptlib/platform/LogFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

std::uint32_t OpenLogFile(FileDescriptor& file, const std::filesystem::path& path) {
    // Not blocking, so that a pipe without a reader fails instead of holding the run.
    const int fd = ::open(path.c_str(),
                          O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
    if (fd < 0)
        return Win32FromErrno(errno);
    FileDescriptor opened(fd);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return Win32FromErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Win32FromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return kErrorAccessDenied;
    file = std::move(opened);
    return kErrorSuccess;
}

std::uint32_t AppendToFile(const FileDescriptor& file, const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(file.get(), bytes, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return Win32FromErrno(errno);
        }
        if (written == 0)
            return Win32FromErrno(EIO);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return kErrorSuccess;
}

} // namespace cptlib::platform
