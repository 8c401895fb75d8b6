#include "cptlib/platform/ItemTime.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace cptlib::platform {

int CopyItemTime(const std::filesystem::path& source, const std::filesystem::path& copy,
                 std::int64_t latest) {
    struct stat status {};
    if (::lstat(source.c_str(), &status) != 0)
        return errno;
    timespec time = status.st_mtim;
    if (time.tv_sec >= latest)
        time = {static_cast<time_t>(latest), 0};
    const timespec times[2] = {time, time};
    return ::utimensat(AT_FDCWD, copy.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
}

} // namespace cptlib::platform
