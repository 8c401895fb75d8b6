#pragma once
// Whether a folder can be trusted with what a run puts into it, when other local users may
// have prepared it.

#include "cptlib/platform/FolderTree.h"

#include <cstdint>
#include <string>

namespace cptlib::platform {

// True when a user other than this one and root may rename or remove entries in `folder`
// (following links): it belongs to such a user, or others may write to it without the sticky
// bit. Entries made there could be swapped after their making.
bool OthersMayReplaceEntries(const std::string& folder);

// Why a folder was not opened: which folder or link on the way another user could change.
struct FolderRefusal {
    enum class Reason {
        None,
        OtherOwner,     // `where` belongs to `owner`
        OthersMayWrite, // `where` is writable by other users and not sticky
        OthersLink,     // `where` is a link of `owner` in a sticky folder open to others
        Failed,         // `where` could not be made or opened: `error`
    };
    Reason reason = Reason::None;
    std::string where;
    std::uint32_t owner = 0;
    std::uint32_t error = 0; // a Win32 error number
};

// Opens the absolute folder `path`, making the folders that are missing, by walking it from
// "/" one name at a time through open folders, so that nothing can be swapped between a check
// and its use. Every folder passed through, and the folder itself, must be one that no other
// user can change (this user's or root's, writable by no one else unless sticky); a symbolic
// link is followed the same way, unless its owner is another user who could replace it in a
// sticky folder. False with `refusal` filled otherwise.
bool OpenFolderSafely(const std::string& path, FolderHandle& folder, FolderRefusal& refusal);

// Whether this process runs with the rights of root.
bool RunningAsRoot();

} // namespace cptlib::platform
