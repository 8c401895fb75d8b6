// The XML string tables: a damaged table yields an exception, never a crash or bad bytes.
#include "cptlib/Utf.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>

namespace {

void Load(const std::string& text, const std::string& root) {
    cptlib::StringMap strings;
    std::istringstream xml(text);
    try {
        cptlib::LoadXmlStringResources(&strings, xml, root);
    } catch (const std::exception&) {
    }
    // Whatever was read goes to windows and logs as it is.
    for (const auto& [id, value] : strings) {
        if (!cptlib::IsValidUtf8(id) || !cptlib::IsValidUtf8(value))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    Load(text, "");
    Load(text, "VrnSetupLocalization");
    return 0;
}
