#pragma once
// The system's handle and id types as the seam headers carry them; each system's side of a
// seam fills them with its own, and the core only passes them on.

#include <cstdint>
#ifndef _WIN32
#include <sys/types.h>
#endif

namespace cptlib::platform {

#ifdef _WIN32
using FileHandle = void*;     // a HANDLE
using ProcessHandle = void*;  // a process HANDLE, which the waiter owns
using UserId = std::uint32_t; // not used: a process runs as another user by its token
using GroupId = std::uint32_t;
inline bool IsValidHandle(FileHandle handle) noexcept {
    return handle != nullptr && handle != reinterpret_cast<FileHandle>(-1);
}
// The handle as a number, for error reports.
inline std::int64_t HandleNumber(FileHandle handle) noexcept {
    return reinterpret_cast<std::intptr_t>(handle);
}
#else
using FileHandle = int; // a file descriptor
using ProcessHandle = pid_t;
using UserId = uid_t;
using GroupId = gid_t;
inline bool IsValidHandle(FileHandle handle) noexcept {
    return handle >= 0;
}
inline std::int64_t HandleNumber(FileHandle handle) noexcept {
    return handle;
}
#endif

} // namespace cptlib::platform
