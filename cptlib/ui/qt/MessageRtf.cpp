#include "cptlib/ui/qt/MessageRtf.h"

#include "cptlib/Utf.h"
#include "cptlib/ui/qt/RtfReader.h"

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

} // namespace cptlib
