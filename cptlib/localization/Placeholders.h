#pragma once
// Placeholders: a name in square brackets ("[ProductName]") replaced from a map of values.

#include <boost/regex.hpp>

#include <map>
#include <string>

namespace cptlib {

// Names compare exactly, letter case significant.
using PropertyMap = std::map<std::string, std::string>;

// "[" name "]": a letter or underscore, then letters, digits, underscores and dots.
inline constexpr const char* kPlaceholderPattern = "\\[([_a-zA-Z][_\\.a-zA-Z0-9]*?)\\]";

// kPlaceholderPattern, compiled once.
const boost::regex& PlaceholderPattern();

// Replaces every match of `pattern` whose first group names an entry of `properties` by its
// value. Values are inserted as they are, never expanded again. Unknown names stay as written
// when `keepUnknown` is true and vanish otherwise.
std::string ExpandPlaceholders(const std::string& text, const PropertyMap& properties,
                               const boost::regex& pattern, bool keepUnknown);

} // namespace cptlib
