#include "cptlib/platform/FolderLock.h"

#include "cptlib/SystemError.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace cptlib::platform {

namespace {

FileDescriptor OpenOwnFolder(const std::string& path, struct stat& status) {
    errno = 0;
    FileDescriptor folder(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!folder || ::fstat(folder.get(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid()) {
        if (errno == 0)
            errno = EACCES;
        return FileDescriptor();
    }
    return folder;
}

int Flock(int fd, int operation) {
    int result;
    do
        result = ::flock(fd, operation);
    while (result != 0 && errno == EINTR);
    return result;
}

} // namespace

std::uint32_t FolderLock::PassToChildren() noexcept {
    if (!folder_)
        return kErrorInvalidHandle;
    // A flock belongs to the open file description: every inherited copy keeps it held.
    return ::fcntl(folder_.get(), F_SETFD, 0) == 0 ? 0 : LastWin32Error();
}

std::uint32_t LockOwnFolder(const std::string& path, FolderLock& lock) {
    lock.Release();
    struct stat opened {};
    FileDescriptor folder = OpenOwnFolder(path, opened);
    if (!folder)
        return errno == ENOENT ? kErrorFileNotFound : kErrorAccessDenied;
    // A later run that found the folder unlocked between its making and this lock may be
    // removing it: wait for that run, then make sure the name still leads here.
    if (Flock(folder.get(), LOCK_EX) != 0)
        return Win32FromErrno(errno);
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino)
        return kErrorFileNotFound;
    lock.folder_ = std::move(folder);
    return 0;
}

bool LockStaleFolder(const std::string& path, FolderLock& lock) {
    lock.Release();
    struct stat opened {};
    FileDescriptor folder = OpenOwnFolder(path, opened);
    if (!folder || Flock(folder.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
        named.st_ino != opened.st_ino)
        return false;
    lock.folder_ = std::move(folder);
    return true;
}

} // namespace cptlib::platform
