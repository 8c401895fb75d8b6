#pragma once
// C streams on a path: the path goes to the system in its own encoding (bytes here, UTF-16 on
// Windows), never through the ANSI code page.

#include <cstdio>
#include <filesystem>

namespace cptlib::platform {

// std::fopen's modes; "x" creates the file only when it does not exist yet. errno tells why a
// null result failed.
std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode);

} // namespace cptlib::platform
