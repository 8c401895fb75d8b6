#pragma once
// Process-wide facts: own id, own file, current and temporary folders; how a child ended.

#include <cstdint>
#include <filesystem>
#include <string>

namespace cptlib::platform {

std::uint32_t CurrentProcessId();

// The running program's file (/proc/self/exe).
std::filesystem::path GetModulePath();

// The current directory with a trailing "/", or empty when it cannot be read.
std::string CurrentFolderPath();

// $TMPDIR when it is an absolute path naming a directory, else /tmp, with a trailing "/". Returns a
// Win32 error number, 0 on success.
std::uint32_t TempFolderPath(std::string& path);

// How a child process ended, as its wait status tells.
struct ProcessEnd {
    enum class Kind { Exited, Killed, Other };
    Kind kind = Kind::Other;
    int value = 0; // the exit status when Exited, the signal number when Killed
};

ProcessEnd DecodeWaitStatus(int waitStatus);

} // namespace cptlib::platform
