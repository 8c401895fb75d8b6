#pragma once
// The one program search of the launcher, the build tool and the tests.

#include <filesystem>
#include <string>
#include <string_view>

namespace cptlib::platform {

// The full path of the first executable regular file named `name` in the folders of
// `searchPath` (a PATH value). Only absolute folders count: empty and relative entries are
// skipped, so that a bare name never resolves against the current folder. Empty when there is
// none, and for a name that is empty or holds a "/".
std::string FindProgram(std::string_view name, std::string_view searchPath);

// The same in this process's PATH; empty without one.
std::string FindProgram(std::string_view name);

// The path this program was started under, from its argument 0 as the shell found it: a name
// with a "/" against the current folder, a bare name in PATH (FindProgram). A symbolic link
// keeps its own name. When that path is not this program's file (argument 0 was set freely,
// or the file was replaced), the module path instead.
std::filesystem::path StartedAsPath(std::string_view argument0);

} // namespace cptlib::platform
