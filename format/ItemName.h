#pragma once
// Which stored item names and link targets stay inside the folder they are extracted into: the
// launcher refuses the others, and the build tool refuses to ship them.

#include <string>
#include <vector>

namespace sfx {

// Splits a stored item name into its parts. False for a name that could leave the folder it is
// extracted into: absolute, with a ".." part, or naming nothing but the folder itself.
bool SplitItemName(const std::string& name, std::vector<std::string>& parts);

// Whether a symbolic link at `link` (the parts of its name) with this target stays inside the
// extract folder. Only leading ".." parts are accepted, and no more of them than the link has
// folders above it; a ".." after a name could climb out through another link.
bool LinkStaysInside(const std::vector<std::string>& link, const std::string& target);

} // namespace sfx
