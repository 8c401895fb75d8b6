#include "cptlib/platform/FolderEntries.h"

#include "cptlib/SystemError.h"

#include "cptlib/platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace cptlib::platform {

std::uint32_t RenameInFolder(FileHandle folder, const std::string& from, const std::string& to) {
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : LastWin32Error();
}

void RemoveFileInFolder(FileHandle folder, const std::string& name) {
    ::unlinkat(folder, name.c_str(), 0);
}

void MarkBeingWritten(FileHandle file) {
    // A lock of the open file description: it goes only when the last copy is closed, so a
    // writer killed outright leaves the file unmarked.
    ::flock(file, LOCK_EX | LOCK_NB);
}

void RemoveAbandonedFiles(FileHandle folder, const std::function<bool(const std::string&)>& matches,
                          std::int64_t seconds) {
    std::vector<std::string> names;
    {
        const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (copy < 0)
            return;
        DIR* entries = ::fdopendir(copy);
        if (entries == nullptr) {
            ::close(copy);
            return;
        }
        while (const dirent* entry = ::readdir(entries)) {
            if (matches(entry->d_name))
                names.emplace_back(entry->d_name);
        }
        ::closedir(entries);
    }
    const uid_t user = ::geteuid();
    const auto leftOver = [&](const struct stat& status) {
        // The change time: nobody can set it back to make a fresh file look old.
        return S_ISREG(status.st_mode) && status.st_uid == user && status.st_nlink == 1 &&
               status.st_ctime + seconds < std::time(nullptr);
    };
    for (const std::string& name : names) {
        struct stat before {};
        // Checked before it is opened: a device or a pipe of that name is never opened.
        if (::fstatat(folder, name.c_str(), &before, AT_SYMLINK_NOFOLLOW) != 0 || !leftOver(before))
            continue;
        const FileDescriptor file(::openat(
            folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat opened {};
        if (!file || ::fstat(file.get(), &opened) != 0 || opened.st_dev != before.st_dev ||
            opened.st_ino != before.st_ino || !leftOver(opened))
            continue;
        if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue; // a live writer's
        // Still the same file under that name, then gone.
        struct stat now {};
        if (::fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == opened.st_dev && now.st_ino == opened.st_ino)
            ::unlinkat(folder, name.c_str(), 0);
    }
}

std::string UserNameOf(UserId uid) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_name != nullptr)
        return found->pw_name;
    return std::to_string(uid);
}

bool ChangedLongerAgoThan(const std::string& path, std::int64_t seconds) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && status.st_ctime + seconds < std::time(nullptr);
}

} // namespace cptlib::platform
