#pragma once
// The project's own string tables for tests.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace sfxtest {

// The string table of one file of resources/strings, such as "en-US.xml".
inline std::unique_ptr<zqmsi::InstallStringResources> LoadStringTable(const std::string& file) {
    auto table = std::make_unique<zqmsi::InstallStringResources>();
    std::ifstream in(std::filesystem::path(SFX_SOURCE_DIR) / "resources/strings" / file,
                     std::ios::binary);
    cptlib::StringMap map;
    cptlib::LoadXmlStringResources(&map, in, "");
    for (const auto& [id, text] : map)
        table->SetText(id, text);
    return table;
}

} // namespace sfxtest
