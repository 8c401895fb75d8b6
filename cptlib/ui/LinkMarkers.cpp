#include "cptlib/ui/LinkMarkers.h"

#include <boost/regex.hpp>

namespace cptlib {

std::string ConvertLinkMarkers(const std::string& rtf) {
    // Backslashes doubled: the replacement format reads escapes of its own.
    static const std::string kField =
        "{\\\\field{\\\\*\\\\fldinst{HYPERLINK \"$2\"}}{\\\\fldrslt{$1}}}{\\\\v *ZQLINKEND}";
    std::string text = rtf;
    try {
        static const boost::regex hashForm("#LINK#(.*?)#(.*?)##");
        static const boost::regex angleForm("<LINK\\s+(.*?)\\|(.*?)>");
        text = boost::regex_replace(text, hashForm, kField);
        text = boost::regex_replace(text, angleForm, kField);
    } catch (const std::exception&) {
        // The pattern engine gave up (too complex a text): keep what was converted.
    }
    return text;
}

} // namespace cptlib
