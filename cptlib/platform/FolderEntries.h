#pragma once

#include "cptlib/platform/Handles.h"

#include <cstdint>
#include <string>

namespace cptlib::platform {

// Renames `from` to `to`, both entries of the open `folder`, replacing `to`; 0 or the Win32
// code of the failure.
std::uint32_t RenameInFolder(FileHandle folder, const std::string& from, const std::string& to);

// Removes the file `name` of the open `folder`, if it is there.
void RemoveFileInFolder(FileHandle folder, const std::string& name);

// The account name of `uid`, or its number where the system knows none.
std::string UserNameOf(UserId uid);

// Whether the entry at `path` (not followed) last changed more than `seconds` ago; the change
// time, which nobody can set back.
bool ChangedLongerAgoThan(const std::string& path, std::int64_t seconds);

} // namespace cptlib::platform
