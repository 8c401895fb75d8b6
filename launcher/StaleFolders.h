#pragma once
// Extract folders left by runs that ended without clean-up (killed, power lost): each run
// locks its own folder while it lives, and a later run of the same user removes the unlocked
// ones it finds in the temporary folder it uses.

#include "cptlib/platform/FolderLock.h"

#include <string>
#include <string_view>
#include <vector>

namespace sfx {

// Whether `name` has the form of a run's folder: "vrn" and 8 of a-z, 0-9.
bool IsRunFolderName(std::string_view name);

// Removes the folders in `parent` that have a run folder's name, belong to the current user, are
// not links and are locked by no run; logs each. Returns the names removed.
std::vector<std::string> RemoveStaleFolders(const std::string& parent);

} // namespace sfx
