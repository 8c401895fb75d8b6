#include "cptlib/ui/qt/MessageRtf.h"

#include "cptlib/Utf.h"
#include "cptlib/ui/qt/RtfReader.h"

#include <boost/regex.hpp>

namespace cptlib {

std::string EscapeRtf(const std::string& text) {
    if (!IsValidUtf8(text))
        return {};
    std::string out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
        case '\\':
        case '{':
        case '}':
            out += '\\';
            out += c;
            break;
        case '\t':
            out += "\\tab ";
            break;
        case '\n':
            out += "\\par ";
            break;
        case '\r':
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string ComposeMessageRtf(const std::string& mainInstruction, const std::string& content) {
    if (IsRichText(content))
        return IsValidUtf8(content) ? content : std::string();
    std::string rtf = "{\\urtf";
    if (!mainInstruction.empty())
        rtf += "{\\b " + EscapeRtf(mainInstruction) + "}\\par\\par";
    rtf += " " + EscapeRtf(content) + "\\par  }";
    return rtf;
}

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
