#include "cptlib/platform/FolderSafety.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <deque>

namespace cptlib::platform {

namespace {

bool IsOtherUser(uid_t owner) {
    return owner != 0 && owner != ::geteuid();
}

// A group other than root's that may write counts as other users.
bool OpenToOthers(const struct stat& status) {
    return (status.st_mode & S_IWOTH) != 0 ||
           ((status.st_mode & S_IWGRP) != 0 && status.st_gid != 0);
}

FolderRefusal::Reason Changeable(const struct stat& status) {
    if (IsOtherUser(status.st_uid))
        return FolderRefusal::Reason::OtherOwner;
    if (OpenToOthers(status) && (status.st_mode & S_ISVTX) == 0)
        return FolderRefusal::Reason::OthersMayWrite;
    return FolderRefusal::Reason::None;
}

void PushParts(std::deque<std::string>& pending, const std::string& path) {
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path, start, end - start);
        start = end + 1;
    }
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

std::string Join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string Above(const std::string& folder) {
    const auto cut = folder.rfind('/');
    return cut == 0 || cut == std::string::npos ? "/" : folder.substr(0, cut);
}

} // namespace

bool OthersMayReplaceEntries(const std::string& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0)
        return false;
    if (IsOtherUser(status.st_uid))
        return true;
    return (status.st_mode & S_IWOTH) != 0 && (status.st_mode & S_ISVTX) == 0;
}

bool OpenFolderSafely(const std::string& path, FolderHandle& folder, FolderRefusal& refusal) {
    using Reason = FolderRefusal::Reason;
    folder.Close();
    refusal = {};
    const auto refuse = [&](Reason reason, const std::string& where, std::uint32_t owner,
                            std::uint32_t error) {
        refusal = {reason, where, owner, error};
        return false;
    };
    if (path.empty() || path.front() != '/')
        return refuse(Reason::Failed, path, 0, kErrorInvalidParameter);

    std::string shown = "/";
    FileDescriptor current(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!current || ::fstat(current.get(), &status) != 0)
        return refuse(Reason::Failed, shown, 0, LastWin32Error());
    if (const Reason reason = Changeable(status); reason != Reason::None)
        return refuse(reason, shown, status.st_uid, 0);

    std::deque<std::string> pending;
    PushParts(pending, path);
    int links = 0;
    int retries = 0;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == ".")
            continue;
        const std::string where = name == ".." ? Above(shown) : Join(shown, name);
        struct stat entry {};
        if (name != ".." &&
            ::fstatat(current.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return refuse(Reason::Failed, where, 0, LastWin32Error());
            // Made in a folder nobody else can change: the new entry stays this one.
            if (::mkdirat(current.get(), name.c_str(), 0777) != 0 && errno != EEXIST)
                return refuse(Reason::Failed, where, 0, LastWin32Error());
            if (::fstatat(current.get(), name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0)
                return refuse(Reason::Failed, where, 0, LastWin32Error());
        }
        if (name != ".." && S_ISLNK(entry.st_mode)) {
            // In a sticky folder open to others the link's owner may replace it at will.
            if ((status.st_mode & S_ISVTX) != 0 && OpenToOthers(status) &&
                IsOtherUser(entry.st_uid))
                return refuse(Reason::OthersLink, where, entry.st_uid, 0);
            if (++links > 40)
                return refuse(Reason::Failed, where, 0, Win32FromErrno(ELOOP));
            char target[PATH_MAX];
            const ssize_t size = ::readlinkat(current.get(), name.c_str(), target, sizeof target);
            if (size < 0 || static_cast<std::size_t>(size) >= sizeof target)
                return refuse(Reason::Failed, where, 0,
                              size < 0 ? LastWin32Error() : Win32FromErrno(ENAMETOOLONG));
            const std::string text(target, static_cast<std::size_t>(size));
            PushParts(pending, text);
            if (!text.empty() && text.front() == '/') {
                current.reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (!current || ::fstat(current.get(), &status) != 0)
                    return refuse(Reason::Failed, "/", 0, LastWin32Error());
                shown = "/";
            }
            continue;
        }
        if (name != ".." && !S_ISDIR(entry.st_mode))
            return refuse(Reason::Failed, where, 0, Win32FromErrno(ENOTDIR));
        FileDescriptor next(
            ::openat(current.get(), name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat opened {};
        if (next && ::fstat(next.get(), &opened) != 0)
            return refuse(Reason::Failed, where, 0, LastWin32Error());
        // Replaced between the look and the open (by this user or root): look again.
        if ((!next && (errno == ELOOP || errno == ENOTDIR || errno == ENOENT)) ||
            (next && name != ".." &&
             (opened.st_dev != entry.st_dev || opened.st_ino != entry.st_ino))) {
            if (++retries > 100)
                return refuse(Reason::Failed, where, 0, kErrorAccessDenied);
            pending.push_front(name);
            continue;
        }
        if (!next)
            return refuse(Reason::Failed, where, 0, LastWin32Error());
        if (const Reason reason = Changeable(opened); reason != Reason::None)
            return refuse(reason, where, opened.st_uid, 0);
        current = std::move(next);
        status = opened;
        shown = where;
    }
    folder.fd_ = ::openat(current.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return folder.IsOpen() || refuse(Reason::Failed, shown, 0, LastWin32Error());
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

} // namespace cptlib::platform
