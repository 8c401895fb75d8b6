#include "cptlib/platform/OwnImage.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace cptlib::platform {

HRESULT OpenRunningImage(SharedFile& file) {
    FileDescriptor opened(::open("/proc/self/exe", O_RDONLY | O_CLOEXEC));
    if (!opened)
        return HResultFromErrno(errno);
    struct stat status {};
    if (::fstat(opened.get(), &status) != 0)
        return HResultFromErrno(errno);
    if (!S_ISREG(status.st_mode))
        return HResultFromWin32(kErrorAccessDenied);
    file = std::make_shared<const FileDescriptor>(std::move(opened));
    return kHrOk;
}

HRESULT ReopenFile(const FileDescriptor& file, FileDescriptor& copy) {
    // The descriptor's entry leads to the open file itself, whatever its name is now.
    const std::string entry = "/proc/self/fd/" + std::to_string(file.get());
    FileDescriptor duplicate(::open(entry.c_str(), O_RDONLY | O_CLOEXEC));
    if (!duplicate)
        return HResultFromErrno(errno);
    copy = std::move(duplicate);
    return kHrOk;
}

} // namespace cptlib::platform
