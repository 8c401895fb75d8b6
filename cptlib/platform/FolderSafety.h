#pragma once
// Whether a folder can be trusted with what a run puts into it, when other local users may
// have prepared it.

#include <string>

namespace cptlib::platform {

// True when a user other than this one and root may rename or remove entries in `folder`
// (following links): it belongs to such a user, or others may write to it without the sticky
// bit. Entries made there could be swapped after their making.
bool OthersMayReplaceEntries(const std::string& folder);

enum class FolderTrust {
    Trusted,
    Link,       // the folder itself, or a way to it that another user owns, is a symbolic link
    OtherOwner, // the folder exists and belongs to a user other than this one and root
};

// How far an absolute path that this process is about to fill can be trusted, judged by what
// exists of it.
FolderTrust QueryFolderTrust(const std::string& path);

// Whether this process runs with the rights of root.
bool RunningAsRoot();

} // namespace cptlib::platform
