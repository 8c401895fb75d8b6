#include "cptlib/platform/FolderTree.h"

#include "cptlib/SystemError.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

int DescriptorOf(const FolderHandle* folder) {
    return folder ? folder->fd_ : AT_FDCWD;
}

namespace {

struct DirCloser {
    void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

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

std::uint32_t ListFolder(const FolderHandle& folder, std::vector<std::string>& names) {
    names.clear();
    // fdopendir takes the descriptor over; the handle keeps its own.
    const int fd = ::fcntl(DescriptorOf(&folder), F_DUPFD_CLOEXEC, 0);
    if (fd < 0)
        return LastWin32Error();
    std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
    if (!dir) {
        const auto code = LastWin32Error();
        ::close(fd);
        return code;
    }
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (entry == nullptr)
            return errno == 0 ? 0 : LastWin32Error();
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
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
