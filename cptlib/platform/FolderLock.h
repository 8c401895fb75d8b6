#pragma once
// A run's claim on its extract folder: an advisory lock on the folder, held while the run
// lives and released by the system when the process ends in any way, so that a folder without a
// lock is known to be left over.

#include "cptlib/platform/File.h"

#include <cstdint>
#include <string>

namespace cptlib::platform {

class FolderLock {
public:
    bool Held() const noexcept { return static_cast<bool>(folder_); }
    void Release() noexcept { folder_.reset(); }
    // Lets programs started from now on hold the lock too, so that a setup (and the helpers it
    // leaves) keeps its folder claimed when this process is killed before it. Returns a Win32
    // error number, 0 on success.
    std::uint32_t PassToChildren() noexcept;

private:
    friend std::uint32_t LockOwnFolder(const std::string& path, FolderLock& lock);
    friend bool LockStaleFolder(const std::string& path, FolderLock& lock);

    FileDescriptor folder_;
};

// Locks the folder `path` that this process has just made, waiting while another process holds
// it, and then checks that `path` still names that folder (the current user's own, not a
// link). Returns a Win32 error number, 0 on success; kErrorFileNotFound when the folder went
// away meanwhile.
std::uint32_t LockOwnFolder(const std::string& path, FolderLock& lock);

// True when `path` is a folder (not a link) of the current user that nobody holds a lock on;
// `lock` then holds it, so that no run can claim it while it is removed.
bool LockStaleFolder(const std::string& path, FolderLock& lock);

} // namespace cptlib::platform
