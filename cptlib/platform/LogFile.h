#pragma once
// The file a program's log records are appended to: opened without creating folders, kept
// from child processes, written whole or not at all.

#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace cptlib::platform {

// Opens (creating when missing, never a folder) `path` for appending; the descriptor is not
// inherited by programs started later. Returns a Win32 error number, 0 on success.
std::uint32_t OpenLogFile(FileDescriptor& file, const std::filesystem::path& path);

// Appends `size` bytes, retrying short writes. Returns a Win32 error number, 0 on success.
std::uint32_t AppendToFile(const FileDescriptor& file, const void* data, std::size_t size);

} // namespace cptlib::platform
