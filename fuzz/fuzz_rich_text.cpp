// The message box's texts: link markers, then the rich-text reader that turns them into the
// HTML the window shows.
#include "cptlib/ui/LinkMarkers.h"
#include "cptlib/ui/qt/RtfReader.h"

#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    cptlib::IsRichText(text);
    cptlib::RtfToQtHtml(text);
    cptlib::RtfToQtHtml(cptlib::ConvertLinkMarkers(text));
    return 0;
}
