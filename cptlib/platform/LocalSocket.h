#pragma once
// Local (Unix domain) sockets, as far as the program needs them: to find out whether a server
// such as a display server listens.

#include <cstdint>
#include <string>

namespace cptlib::platform {

// Connects to the stream socket at `path` and lets the connection go again. Returns a Win32
// error number, 0 when a server accepted; kErrorFilenameExcedRange when the path does not fit
// a socket address.
std::uint32_t ProbeLocalSocket(const std::string& path);

} // namespace cptlib::platform
