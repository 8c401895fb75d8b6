#include "cptlib/platform/FolderTree.h"

#include "cptlib/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

FileHandle DescriptorOf(const FolderHandle* folder) {
    return folder ? folder->fd_ : AT_FDCWD;
}

namespace {

std::uint32_t Result(int rc) {
    return rc == 0 ? 0 : LastWin32Error();
}

} // namespace

FolderHandle::~FolderHandle() {
    Close();
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void FolderHandle::Close() noexcept {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::uint32_t GetEntryStatus(const FolderHandle* parent, const std::string& name,
                             EntryStatus& status) {
    struct stat st {};
    if (::fstatat(DescriptorOf(parent), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return LastWin32Error();
    status = {};
    status.device = st.st_dev;
    status.inode = st.st_ino;
    if (S_ISLNK(st.st_mode)) {
        status.kind = EntryKind::Link;
        return 0;
    }
    status.kind = S_ISDIR(st.st_mode) ? EntryKind::Folder : EntryKind::Other;
    status.readOnly = (st.st_mode & S_IWUSR) == 0;
    status.ownerRestricted = status.kind == EntryKind::Folder && (st.st_mode & S_IRWXU) != S_IRWXU;
    return 0;
}

std::uint32_t OpenFolder(const FolderHandle* parent, const std::string& name,
                         FolderHandle& folder) {
    folder.Close();
    const int fd = ::openat(DescriptorOf(parent), name.c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return LastWin32Error();
    folder.fd_ = fd;
    return 0;
}

// The folder that holds the last component of `path` (an absolute path), and that component.
std::uint32_t OpenParentOf(const std::string& path, FolderHandle& parent, std::string& name) {
    const auto cut = path.rfind('/');
    if (cut == std::string::npos || cut + 1 == path.size())
        return kErrorInvalidParameter;
    name = path.substr(cut + 1);
    const int fd =
        ::open(cut == 0 ? "/" : path.substr(0, cut).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return LastWin32Error();
    parent.fd_ = fd;
    return 0;
}

std::uint32_t CreateOwnFolder(const std::string& path, FolderHandle& folder) {
    folder.Close();
    std::string name;
    FolderHandle parent;
    if (const std::uint32_t error = OpenParentOf(path, parent, name); error != 0)
        return error;
    const int parentFd = DescriptorOf(&parent);
    if (::mkdirat(parentFd, name.c_str(), 0700) != 0)
        return errno == EEXIST ? kErrorAlreadyExists : LastWin32Error();
    const int fd =
        ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int failure = errno;
        if (failure == ENOENT)
            return kErrorAlreadyExists;
        if (failure == ELOOP || failure == ENOTDIR)
            return kErrorAccessDenied;
        // Made but not opened (no descriptor to spare): not left behind, if it is still the
        // empty private folder just made.
        struct stat made {};
        if (::fstatat(parentFd, name.c_str(), &made, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(made.st_mode) && made.st_uid == ::geteuid() && (made.st_mode & 077) == 0)
            ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR);
        errno = failure;
        return LastWin32Error();
    }
    folder.fd_ = fd;
    struct stat st {};
    // Another user may have put their own folder in place of the new one in between.
    if (::fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0) {
        folder.Close();
        return kErrorAccessDenied;
    }
    return 0;
}

std::uint32_t RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno == EEXIST)
        return kErrorAlreadyExists;
    if (errno != EINVAL && errno != ENOSYS)
        return LastWin32Error();
    // A file system without the flag: the names are random, a clash between the check and the
    // rename is one of this user's own runs.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0)
        return kErrorAlreadyExists;
    return Result(::rename(from.c_str(), to.c_str()));
}

std::uint32_t DuplicateFolder(const FolderHandle& folder, FolderHandle& copy) {
    copy.Close();
    const int fd = ::fcntl(folder.fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return LastWin32Error();
    copy.fd_ = fd;
    return 0;
}

std::uint32_t RemoveFolderIfSame(const std::string& path, const FolderHandle& folder) {
    std::string name;
    FolderHandle parent;
    if (const std::uint32_t error = OpenParentOf(path, parent, name); error != 0) {
        // Out of descriptors the name serves where no other user can change what it names: a
        // run that failed for want of descriptors still removes its folder.
        if (error == Win32FromErrno(EMFILE) && NameIsStable(path, folder))
            return Result(::rmdir(path.c_str()));
        return error;
    }
    const int parentFd = DescriptorOf(&parent);
    struct stat own {};
    struct stat named {};
    if (::fstat(DescriptorOf(&folder), &own) != 0)
        return LastWin32Error();
    if (::fstatat(parentFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return LastWin32Error();
    if (named.st_dev != own.st_dev || named.st_ino != own.st_ino)
        return kErrorAccessDenied;
    return Result(::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR));
}

bool NameIsStable(const std::string& path, const FolderHandle& folder) {
    struct stat own {};
    struct stat named {};
    if (path.empty() || path.front() != '/' || ::fstat(DescriptorOf(&folder), &own) != 0 ||
        ::lstat(path.c_str(), &named) != 0 || named.st_dev != own.st_dev ||
        named.st_ino != own.st_ino)
        return false;
    const uid_t self = ::geteuid();
    std::string prefix = path;
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    for (;;) {
        const auto cut = prefix.rfind('/');
        if (cut == std::string::npos)
            return false;
        prefix.resize(cut);
        const std::string above = prefix.empty() ? "/" : prefix;
        struct stat st {};
        if (::lstat(above.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
            (st.st_uid != self && st.st_uid != 0) ||
            ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (st.st_mode & S_ISVTX) == 0))
            return false;
        if (prefix.empty())
            return true;
    }
}

std::string PathThrough(const FolderHandle& folder, const std::string& name) {
    std::string path = "/proc/self/fd/" + std::to_string(DescriptorOf(&folder));
    if (!name.empty())
        path += "/" + name;
    return path;
}

std::uint32_t ListFolder(const FolderHandle& folder, std::vector<std::string>& names) {
    names.clear();
    // Read through the handle's own descriptor, from its start: a listing costs no descriptor
    // more, so that a run out of descriptors can still empty its folder.
    const int fd = DescriptorOf(&folder);
    if (::lseek(fd, 0, SEEK_SET) < 0)
        return LastWin32Error();
    alignas(8) char buffer[8192];
    for (;;) {
        const ssize_t got = ::getdents64(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return LastWin32Error();
        if (got == 0)
            return 0;
        for (ssize_t at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
            at += entry->d_reclen;
        }
    }
}

std::uint32_t MakeWritable(const FolderHandle* parent, const std::string& name) {
    struct stat st {};
    const int at = DescriptorOf(parent);
    if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return LastWin32Error();
    mode_t mode = (st.st_mode & 07777) | S_IWUSR;
    if (S_ISDIR(st.st_mode))
        mode |= S_IRWXU;
    // Refuses a link rather than changing what it points to.
    return Result(::fchmodat(at, name.c_str(), mode, AT_SYMLINK_NOFOLLOW));
}

std::uint32_t DeleteEntry(const FolderHandle* parent, const std::string& name) {
    return Result(::unlinkat(DescriptorOf(parent), name.c_str(), 0));
}

std::uint32_t RemoveFolder(const FolderHandle* parent, const std::string& name) {
    return Result(::unlinkat(DescriptorOf(parent), name.c_str(), AT_REMOVEDIR));
}

} // namespace cptlib::platform
