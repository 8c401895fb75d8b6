#pragma once
// Link markers in message texts. This lives with the stub rather than the GUI module, so
// that the pattern engine is linked once, into the stub.

#include <string>

namespace cptlib {

// "#LINK#T#U##" and "<LINK T|U>" become {\field{\*\fldinst{HYPERLINK "U"}}{\fldrslt{T}}}
// followed by the hidden end marker.
std::string ConvertLinkMarkers(const std::string& rtf);

} // namespace cptlib
