#pragma once
// Where the installer's folder properties and the temporary folder's fallbacks are on this
// system.

#include "cptlib/localization/FolderProperties.h"

#include <map>
#include <string>
#include <vector>

namespace cptlib::platform {

// The rows of FolderPropertyTable for this system (see BuildFolderPropertyTable).
FolderSourceTable BuildFolderSourceTable(bool is32BitOn64Bit);

// What many resolutions share, read once (the user-dirs entries on Linux).
using FolderSnapshot = std::map<std::string, std::string>;
FolderSnapshot ReadFolderSnapshot();

// The folder of a source with a trailing separator, or empty (see cptlib::ResolveFolderSource).
// Without a snapshot, what the source needs is read now.
std::string ResolveFolderSource(const FolderSource& source, bool create,
                                const FolderSnapshot* snapshot);

// Absolute parents for a temporary folder when the temporary folder itself cannot serve, best
// first.
std::vector<std::string> FallbackTempFolders();

} // namespace cptlib::platform
