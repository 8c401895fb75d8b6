#include "cptlib/platform/StdioFile.h"

#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>
#include <sys/stat.h>

namespace cptlib::platform {

std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode) {
    // The system's C runtime may not know "x": exclusive creation by the descriptor instead.
    if (std::strchr(mode, 'x') != nullptr) {
        const int fd =
            _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (fd < 0)
            return nullptr;
        std::FILE* file = _fdopen(fd, "wb");
        if (file == nullptr)
            _close(fd);
        return file;
    }
    const std::wstring wide(mode, mode + std::strlen(mode));
    return _wfopen(path.c_str(), wide.c_str());
}

} // namespace cptlib::platform
