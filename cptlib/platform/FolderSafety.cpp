#include "cptlib/platform/FolderSafety.h"

#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

bool IsOtherUser(uid_t owner) {
    return owner != 0 && owner != ::geteuid();
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

FolderTrust QueryFolderTrust(const std::string& path) {
    // A relative path starts at the current folder.
    std::string prefix = !path.empty() && path.front() == '/' ? "" : ".";
    std::size_t start = 0;
    uid_t parentOwner = 0;
    while (start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            prefix += '/';
            prefix.append(path, start, end - start);
            const bool last = path.find_first_not_of('/', end) == std::string::npos;
            struct stat status {};
            if (::lstat(prefix.c_str(), &status) != 0)
                // The rest is made by this process, in a folder whose owner could swap it.
                return IsOtherUser(parentOwner) ? FolderTrust::OtherOwner : FolderTrust::Trusted;
            if (S_ISLNK(status.st_mode) && (last || IsOtherUser(status.st_uid)))
                return FolderTrust::Link;
            if (last && IsOtherUser(status.st_uid))
                return FolderTrust::OtherOwner;
            parentOwner = status.st_uid;
        }
        start = end + 1;
    }
    return FolderTrust::Trusted;
}

bool RunningAsRoot() {
    return ::geteuid() == 0;
}

} // namespace cptlib::platform
