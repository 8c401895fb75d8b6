#pragma once
// The one program search of the launcher, the build tool and the tests.

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

} // namespace cptlib::platform
