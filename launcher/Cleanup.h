#pragma once
// Removes the extract folder and what is in it once it is no longer needed.

#include <cstdint>
#include <string>

namespace sfx {

enum DeleteTreeMode : std::uint32_t {
    kDeleteRemoveRoot = 1,    // remove the given folder itself at the end
    kDeleteRecurse = 2,       // descend into subfolders; without it they are left alone
    kDeleteForce = 4,         // make read-only files and folders writable, then delete them
    kDeleteStopOnFailure = 8, // give up at the first item that cannot be deleted
};

// What the workers use for the temporary extract folder: everything, going on after failures.
constexpr std::uint32_t kDeleteTempFolder = kDeleteRemoveRoot | kDeleteRecurse | kDeleteForce;

// Deletes the contents of an absolute folder path, depth first, and with kDeleteRemoveRoot the
// folder itself. Symbolic links are removed as links, never followed. A file or folder without
// the owner's write permission is read-only. True when everything asked for was deleted;
// `lastError` (when given) receives the Win32 code of the first failure, or 0. A relative path,
// or one that names the root folder, is refused with ERROR_INVALID_PARAMETER and nothing is
// touched.
bool DeleteFolderTree(const std::string& folder, std::uint32_t mode,
                      std::uint32_t* lastError = nullptr);

} // namespace sfx
