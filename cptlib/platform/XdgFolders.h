#pragma once
// The user's folders as the XDG base-directory and user-directory conventions name them.

#include <map>
#include <string>
#include <string_view>

namespace cptlib::platform {

// $HOME, else the home folder of the user's account entry; without a trailing "/" (except for
// "/" itself); empty when neither is known.
std::string GetHomeDirectory();

#ifndef _WIN32 // Windows names these folders through its known folders
// A base directory such as XDG_CONFIG_HOME: the variable when it holds an absolute path (the
// convention ignores relative ones), else the home folder joined with `belowHome`; empty when
// there is no home folder either.
std::string GetXdgBaseDirectory(const char* variable, std::string_view belowHome);

// The entries of a user-dirs.dirs text, keyed by the part between "XDG_" and "_DIR"
// ("DOCUMENTS"). Values are `"$HOME/..."` or `"/..."` with backslash escapes; other forms are
// skipped, a later line wins. An entry that names the home folder itself is how xdg-user-dirs
// records a removed folder: it is kept with an empty value, so it is not replaced by a default.
std::map<std::string, std::string> ParseUserDirs(std::string_view text, std::string_view home);

// ParseUserDirs of $XDG_CONFIG_HOME/user-dirs.dirs; empty when the file cannot be read.
std::map<std::string, std::string> ReadUserDirs();
#endif

bool IsDirectory(const std::string& path);

// Creates the folder with its missing parents; true when it is a folder afterwards.
bool CreateFolderPath(const std::string& path);

} // namespace cptlib::platform
