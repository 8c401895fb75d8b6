#pragma once
// Folder properties: the installer's folder names ("[PersonalFolder]") resolved to folders of
// the running system.

#include "cptlib/localization/Placeholders.h"

#include <map>
#include <string>

namespace cptlib {

enum class FolderKind {
    None,     // no equivalent here: the empty value
    UserDir,  // an XDG user directory (user-dirs.dirs key and its default below $HOME)
    BaseDir,  // an XDG base directory variable, its default below $HOME, an optional subfolder
    Home,     // the home folder
    Fixed,    // a fixed system folder
    TempPath, // the temporary folder
    Special,  // a folder the system numbers (Windows: its CSIDL)
};

struct FolderSource {
    FolderKind kind = FolderKind::None;
    const char* key = nullptr;       // user-dirs key, variable name or fixed path
    const char* belowHome = nullptr; // default below the home folder
    const char* subfolder = nullptr; // appended to a base directory
    int special = -1;                // the number of a Special folder
};

using FolderSourceTable = std::map<std::string, FolderSource>;

// The table with the decision for the 64-bit rows given: they have a source only for a 32-bit
// process on a 64-bit system; the 6432 rows copy the 64-bit row there and the plain row
// otherwise.
FolderSourceTable BuildFolderPropertyTable(bool is32BitOn64Bit);

// Built once, with the decision of the running process.
const FolderSourceTable& FolderPropertyTable();

// The folder of a source with a trailing "/", or empty. With `create`, a folder that does not
// exist is made, and one that cannot be made gives the empty value.
std::string ResolveFolderSource(const FolderSource& source, bool create);

// The folder of a property with a trailing "/"; empty for an unknown name or a folder that this
// system does not have.
std::string ResolveFolderProperty(const std::string& name, bool create);

// Every name of FolderPropertyTable with its value, resolved afresh (create = false).
PropertyMap GetFolderProperties();

// Appends "/" to a non-empty path that does not end with one.
std::string AddTrailingSlash(std::string path);

} // namespace cptlib
