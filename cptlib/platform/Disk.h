#pragma once
// Volumes and folders as the extract-folder choice needs them: local mount points, free space,
// write access and the private creation of a new folder. Results are Win32 error numbers.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cptlib::platform {

struct MountEntry {
    std::string device;
    std::string mountPoint;
    std::string type;
    bool readOnly = false;
};

#ifndef _WIN32 // Linux mount tables; Windows lists its fixed drives instead
// The entries of a /proc/self/mounts text, octal escapes ("\040") decoded; malformed lines are
// skipped.
std::vector<MountEntry> ParseMountTable(std::string_view text);

// A file system type that keeps its data on a local disk (not network, not pseudo, not memory).
bool IsLocalDiskFileSystem(std::string_view type);
#endif

// Mount points of local disk file systems that are not on removable media, not read-only and
// writable by the caller, in the order of /proc/self/mounts.
std::vector<std::string> LocalWritableMountPoints();

// The bytes free to the caller on the volume of `path` (statvfs f_bavail * f_frsize).
std::uint32_t GetFreeBytes(const std::string& path, std::uint64_t& freeBytes);

// Whether programs may be started from the file system of `path` (not mounted noexec).
// Returns a Win32 error number, 0 on success.
std::uint32_t QueryAllowsExecution(const std::string& path, bool& allowed);

// Whether the caller may create entries in the folder.
bool CanWriteFolder(const std::string& path);

// Creates one folder with mode 0700 that must not exist yet (no parents, no reuse of an existing
// entry of any kind): kErrorAlreadyExists when something has that name.
std::uint32_t CreatePrivateFolder(const std::string& path);

} // namespace cptlib::platform
