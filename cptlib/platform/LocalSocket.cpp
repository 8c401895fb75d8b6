#include "cptlib/platform/LocalSocket.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

namespace cptlib::platform {

std::uint32_t ProbeLocalSocket(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return kErrorFilenameExcedRange;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const FileDescriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd)
        return LastWin32Error();
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return LastWin32Error();
    return kErrorSuccess;
}

} // namespace cptlib::platform
