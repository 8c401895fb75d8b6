#include "cptlib/ui/qt/RtfReader.h"

namespace cptlib {

bool IsRichText(std::string_view text) {
    return text.starts_with("{\\rtf1") || text.starts_with("{\\urtf");
}

std::string RtfToQtHtml(std::string_view rtf) {
    return std::string(rtf);
}

} // namespace cptlib
