#include "cptlib/platform/TargetFolder.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/XdgFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace cptlib::platform {

namespace {

constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool IsLinkAt(int folder, const std::string& name) {
    struct stat st {};
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

// The error for an entry that cannot be opened as a folder: a link is named as such.
std::uint32_t NotAFolder(int folder, const std::string& name, int error) {
    if ((error == ELOOP || error == ENOTDIR) && IsLinkAt(folder, name))
        return kErrorStoppedOnSymlink;
    return Win32FromErrno(error);
}

std::uint32_t CopyFileAt(int fromFolder, const std::string& from, int toFolder,
                         const std::string& to) {
    FileDescriptor source(::openat(fromFolder, from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!source)
        return NotAFolder(fromFolder, from, errno);
    struct stat st {};
    if (::fstat(source.get(), &st) != 0)
        return LastWin32Error();
    FileDescriptor target(
        ::openat(toFolder, to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!target)
        return LastWin32Error();
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        const ssize_t n = ::read(source.get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LastWin32Error();
        if (n == 0)
            break;
        if (const std::uint32_t error =
                WriteFully(target, buffer.data(), static_cast<std::size_t>(n)))
            return error;
    }
    return FinishFile(target, st.st_mode & 0777);
}

} // namespace

std::uint32_t TargetFolder::Open(const std::string& folder) {
    cachedParent_.clear();
    cached_.reset();
    root_.reset(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    return root_ ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::Open(const FolderHandle& folder) {
    cachedParent_.clear();
    cached_.reset();
    root_.reset(::fcntl(DescriptorOf(&folder), F_DUPFD_CLOEXEC, 0));
    return root_ ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::Walk(NameParts folders, bool create, FileDescriptor& folder,
                                 FileHandle start) const {
    FileDescriptor current(::fcntl(start >= 0 ? start : root_.get(), F_DUPFD_CLOEXEC, 0));
    if (!current)
        return LastWin32Error();
    for (const std::string& part : folders) {
        int fd = ::openat(current.get(), part.c_str(), kWalkFlags);
        if (fd < 0 && errno == ENOENT && create) {
            if (::mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                return LastWin32Error();
            fd = ::openat(current.get(), part.c_str(), kWalkFlags);
        }
        if (fd < 0)
            return NotAFolder(current.get(), part, errno);
        current.reset(fd);
    }
    folder = std::move(current);
    return 0;
}

std::uint32_t TargetFolder::Lookup(NameParts name, TargetEntry& entry) {
    entry = TargetEntry::None;
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return error == kErrorFileNotFound ? 0 : error;
    struct stat st {};
    if (::fstatat(folder, name.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : LastWin32Error();
    entry = S_ISDIR(st.st_mode)   ? TargetEntry::Folder
            : S_ISREG(st.st_mode) ? TargetEntry::File
            : S_ISLNK(st.st_mode) ? TargetEntry::Link
                                  : TargetEntry::Other;
    return 0;
}

std::uint32_t TargetFolder::MakeFolder(NameParts name, std::uint32_t mode) {
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    const std::string& last = name.back();
    if (::mkdirat(folder, last.c_str(), static_cast<mode_t>(mode)) == 0)
        return 0;
    if (errno != EEXIST)
        return LastWin32Error();
    struct stat st {};
    if (::fstatat(folder, last.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return LastWin32Error();
    if (S_ISDIR(st.st_mode))
        return 0;
    return S_ISLNK(st.st_mode) ? kErrorStoppedOnSymlink : kErrorAlreadyExists;
}

std::uint32_t TargetFolder::CreateNewFile(NameParts name, std::uint32_t mode,
                                          FileDescriptor& file) {
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    file.reset(::openat(folder, name.back().c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        static_cast<mode_t>(mode)));
    return file ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::Remove(NameParts name) {
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return error;
    return ::unlinkat(folder, name.back().c_str(), 0) == 0 ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::OpenParentFolder(NameParts name, FileDescriptor& folder) {
    int parent = -1;
    if (const std::uint32_t error = OpenParent(name, false, parent))
        return error;
    folder.reset(::fcntl(parent, F_DUPFD_CLOEXEC, 0));
    return folder ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::MakeSymlink(NameParts name, const std::string& target) {
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    return ::symlinkat(target.c_str(), folder, name.back().c_str()) == 0 ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::MakeHardLink(NameParts name, NameParts existing) {
    if (existing.empty())
        return kErrorInvalidParameter;
    FileDescriptor from;
    if (const std::uint32_t error = Walk(existing.first(existing.size() - 1), false, from))
        return error;
    int to = -1;
    if (const std::uint32_t error = OpenParent(name, true, to))
        return error;
    if (::linkat(from.get(), existing.back().c_str(), to, name.back().c_str(), 0) == 0)
        return 0;
    const int error = errno;
    if (error != EPERM && error != EXDEV && error != EMLINK && error != ENOTSUP)
        return Win32FromErrno(error);
    return CopyFileAt(from.get(), existing.back(), to, name.back());
}

std::uint32_t TargetFolder::SetFolderMode(NameParts name, std::uint32_t mode) {
    int parent = -1;
    if (const std::uint32_t error = OpenParent(name, false, parent))
        return error;
    FileDescriptor folder(
        ::openat(parent, name.back().c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder)
        return NotAFolder(parent, name.back(), errno);
    return ::fchmod(folder.get(), static_cast<mode_t>(mode)) == 0 ? 0 : LastWin32Error();
}

std::uint32_t TargetFolder::TouchNow(NameParts name) {
    int folder = -1;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return error;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    return ::utimensat(folder, name.back().c_str(), times, AT_SYMLINK_NOFOLLOW) == 0
               ? 0
               : LastWin32Error();
}

std::uint32_t CreateFolderTree(const std::string& path) {
    std::vector<std::size_t> ends; // where each part of the path ends
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '/' && (i + 1 == path.size() || path[i + 1] == '/'))
            ends.push_back(i + 1);
    }
    if (ends.empty())
        return kErrorPathNotFound;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::string prefix = path.substr(0, ends[k]);
        if (::mkdir(prefix.c_str(), 0777) == 0)
            continue;
        const int error = errno;
        if (error != EEXIST)
            return Win32FromErrno(error);
        if (!IsDirectory(prefix))
            return k + 1 == ends.size() ? kErrorFileExists : kErrorPathNotFound;
    }
    return 0;
}

std::uint32_t CurrentUmask() {
    // umask() can only be read by setting it, which would race with other threads.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<std::uint32_t>(std::stoul(line.substr(6), nullptr, 8)) & 0777;
    }
    return 022;
}

std::uint32_t WriteFully(const FileDescriptor& file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(file.get(), data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LastWin32Error();
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

std::uint32_t FinishFile(FileDescriptor& file, std::optional<std::uint32_t> mode) {
    if (mode)
        ::fchmod(file.get(), static_cast<mode_t>(*mode));
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::futimens(file.get(), times);
    if (::close(file.release()) != 0 && errno != EINTR)
        return LastWin32Error();
    return 0;
}

} // namespace cptlib::platform
