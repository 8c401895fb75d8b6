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

// A run's folder is made under its name and this suffix, locked, then renamed.
inline constexpr std::string_view kPendingFolderSuffix = ".new";
// How old a pending folder must be before a sweep takes it: its run was killed before the
// rename, not merely slowed down between the making and the lock.
inline constexpr int kPendingFolderAgeSeconds = 600;

// Whether `name` is a run's folder name with kPendingFolderSuffix.
bool IsPendingFolderName(std::string_view name);

// Removes the folders in `parent` that have a run folder's name (or a pending one older than
// kPendingFolderAgeSeconds), belong to the current user, are not links and are locked by no run;
// logs each. Returns the names removed.
std::vector<std::string> RemoveStaleFolders(const std::string& parent);

} // namespace sfx
