#pragma once
// Process-wide facts: own id, own file, current and temporary folders.

#include <cstdint>
#include <filesystem>
#include <string>

namespace cptlib::platform {

std::uint32_t CurrentProcessId();

// The running program's file (/proc/self/exe).
std::filesystem::path GetModulePath();

// The current directory with a trailing "/", or empty when it cannot be read.
std::string GetCurrentDirectory();

// $TMPDIR when it names a directory, else /tmp, with a trailing "/". Returns a Win32 error
// number, 0 on success.
std::uint32_t GetTempPath(std::string& path);

} // namespace cptlib::platform
