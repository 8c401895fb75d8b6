#include "cptlib/platform/FolderEntries.h"

#include "cptlib/SystemError.h"

#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

namespace cptlib::platform {

std::uint32_t RenameInFolder(FileHandle folder, const std::string& from, const std::string& to) {
    return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : LastWin32Error();
}

void RemoveFileInFolder(FileHandle folder, const std::string& name) {
    ::unlinkat(folder, name.c_str(), 0);
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
