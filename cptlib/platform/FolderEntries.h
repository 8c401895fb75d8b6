#pragma once

#include "cptlib/platform/Handles.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cptlib::platform {

// Renames `from` to `to`, both entries of the open `folder`, replacing `to`; 0 or the Win32
// code of the failure.
std::uint32_t RenameInFolder(FileHandle folder, const std::string& from, const std::string& to);

// Removes the file `name` of the open `folder`, if it is there.
void RemoveFileInFolder(FileHandle folder, const std::string& name);

// Marks the open `file` as being written, so that RemoveAbandonedFiles leaves it alone for as
// long as it stays open (in any process, children included).
void MarkBeingWritten(FileHandle file);

// Removes the entries of the open `folder` whose names `matches` accepts and that are left
// over from a writer that died: regular files of the running user with one link, changed more
// than `seconds` ago and not marked by a writer that still has them open. Links are never
// followed and nothing else is opened.
void RemoveAbandonedFiles(FileHandle folder, const std::function<bool(const std::string&)>& matches,
                          std::int64_t seconds);

// The account name of `uid`, or its number where the system knows none.
std::string UserNameOf(UserId uid);

// Whether the entry at `path` (not followed) last changed more than `seconds` ago; the change
// time, which nobody can set back.
bool ChangedLongerAgoThan(const std::string& path, std::int64_t seconds);

} // namespace cptlib::platform
