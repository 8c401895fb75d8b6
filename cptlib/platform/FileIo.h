#pragma once
// Plain reads, seeks and flushes on an open descriptor, with the system's error numbers, for
// the file device and for readers that position themselves in a file.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

namespace cptlib::platform {

enum class SeekOrigin { Begin = 0, Current = 1, End = 2 };

// Opens `path` in one attempt, as the system's file creation does (no retries). `access` may
// be 0 (neither read nor write); the file is then opened for reading. A folder is refused with
// access denied. Returns a Win32 error number, 0 on success.
std::uint32_t OpenFile(FileDescriptor& file, const std::filesystem::path& path,
                       std::uint32_t access, CreationDisposition disposition);

// Moves the file position; `position` receives the new one. Returns a Win32 error number.
std::uint32_t SeekFile(const FileDescriptor& file, std::int64_t offset, SeekOrigin origin,
                       std::uint64_t& position);

// Reads up to `count` bytes, fewer only at the end of the file. Returns a Win32 error number.
std::uint32_t ReadFile(const FileDescriptor& file, void* buffer, std::uint32_t count,
                       std::uint32_t& read);

// Reads up to `count` bytes at `offset` without moving the file position, fewer only at the
// end of the file; so readers on other threads may share the descriptor. Returns a Win32 error
// number.
std::uint32_t ReadFileAt(const FileDescriptor& file, std::uint64_t offset, void* buffer,
                         std::size_t count, std::size_t& read);

// Writes the file's data to the disk. Returns a Win32 error number.
std::uint32_t FlushFile(const FileDescriptor& file);

} // namespace cptlib::platform
