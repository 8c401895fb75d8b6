#include "cptlib/platform/File.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(250);

int OpenFlags(FileAccess access, CreationDisposition disposition) {
    int flags = O_CLOEXEC;
    switch (access) {
    case FileAccess::Read:
        flags |= O_RDONLY;
        break;
    case FileAccess::Write:
        flags |= O_WRONLY;
        break;
    case FileAccess::ReadWrite:
        flags |= O_RDWR;
        break;
    }
    switch (disposition) {
    case CreationDisposition::CreateNew:
        flags |= O_CREAT | O_EXCL;
        break;
    case CreationDisposition::CreateAlways:
        flags |= O_CREAT | O_TRUNC;
        break;
    case CreationDisposition::OpenExisting:
        break;
    case CreationDisposition::OpenAlways:
        flags |= O_CREAT;
        break;
    case CreationDisposition::TruncateExisting:
        flags |= O_TRUNC;
        break;
    }
    return flags;
}

HRESULT OpenOnce(FileDescriptor& file, const std::filesystem::path& path, int flags) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return HResultFromErrno(errno);
    FileDescriptor opened(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return HResultFromErrno(errno);
    if (S_ISDIR(st.st_mode))
        return HResultFromWin32(kErrorAccessDenied);
    file = std::move(opened);
    return kHrOk;
}

} // namespace

void FileDescriptor::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd)
        ::close(fd_);
    fd_ = fd;
}

HRESULT OpenFileForRead(FileDescriptor& file, const std::filesystem::path& path, FileAccess access,
                        FileShare /*share*/, CreationDisposition disposition) {
    file.reset();
    const int flags = OpenFlags(access, disposition);
    return RetryOnSharingViolation([&] { return OpenOnce(file, path, flags); },
                                   [] { std::this_thread::sleep_for(kRetryPause); });
}

HRESULT OpenRegularFileForRead(FileDescriptor& file, const std::filesystem::path& path) {
    file.reset();
    FileDescriptor opened;
    if (const HRESULT hr = OpenOnce(opened, path, O_RDONLY | O_CLOEXEC | O_NONBLOCK); Failed(hr))
        return hr;
    struct stat st {};
    if (::fstat(opened.get(), &st) != 0)
        return HResultFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return HRESULT_INVALID_DATA;
    file = std::move(opened);
    return kHrOk;
}

std::uint64_t MaxLinkTargetSize() {
    // PATH_MAX counts the closing zero.
    return PATH_MAX - 1;
}

HRESULT QueryFileSize(const FileDescriptor& file, std::uint64_t& size) {
    size = 0;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        return HResultFromErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    return kHrOk;
}

HRESULT QueryFileSize(const std::filesystem::path& path, std::uint64_t& size) {
    size = 0;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return HResultFromErrno(errno);
    size = static_cast<std::uint64_t>(st.st_size);
    return kHrOk;
}

std::uint32_t QueryIsFolder(const std::filesystem::path& path, bool& isFolder) {
    isFolder = false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return LastWin32Error();
    isFolder = S_ISDIR(st.st_mode);
    return kErrorSuccess;
}

} // namespace cptlib::platform
