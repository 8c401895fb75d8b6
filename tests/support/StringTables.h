#pragma once
// The project's own string tables for tests.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace testsupport {

// One file of resources/strings in the source tree, such as "en-US.xml".
inline std::filesystem::path StringTableFile(const std::string& file) {
    return std::filesystem::path(SFX_SOURCE_DIR) / "resources/strings" / file;
}

// The texts of one file of resources/strings.
inline cptlib::StringMap LoadStringMap(const std::string& file) {
    std::ifstream in(StringTableFile(file), std::ios::binary);
    cptlib::StringMap map;
    cptlib::LoadXmlStringResources(&map, in, "");
    return map;
}

// The string table of one file of resources/strings.
inline std::unique_ptr<zqmsi::InstallStringResources> LoadStringTable(const std::string& file) {
    auto table = std::make_unique<zqmsi::InstallStringResources>();
    for (const auto& [id, text] : LoadStringMap(file))
        table->SetText(id, text);
    return table;
}

} // namespace testsupport
