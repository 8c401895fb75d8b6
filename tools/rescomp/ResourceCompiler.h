#pragma once
// Builds PE resource directory trees (the format of a .rsrc section) from a list of resources.

#include "cptlib/resources/ResourceUtils.h"

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace rescomp {

struct Resource {
    cptlib::ResourceId type;
    cptlib::ResourceId name;
    std::uint16_t language = 0;
    std::string data;
};

class CompileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Lays the resources out as type -> name -> language directories (named entries before numbered
// ones; names ordered by UTF-16 code units, numbers ascending), then the name strings, the data
// entries and the data (8-byte aligned). A data entry's address is `baseRva` plus the data's
// offset in the tree, so 0 gives offsets relative to the tree. Names are stored upper-cased, as
// the platform compares them. Throws CompileError for a duplicate or an unstorable resource.
std::string BuildResourceTree(const std::vector<Resource>& resources, std::uint32_t baseRva = 0);

// Splits an .ico file into one kRtIcon resource per image, numbered from `firstIconId`, and the
// kRtGroupIcon directory `groupName` that lists them. Throws CompileError for a damaged file.
std::vector<Resource> IconResources(std::string_view ico, const cptlib::ResourceId& groupName,
                                    std::uint16_t language, std::uint16_t firstIconId);

// Reads a resource manifest (format: see resources/resources.manifest). Files are read relative
// to the manifest's folder; `inputs` receives every file read, the manifest included. Throws
// CompileError naming the manifest and the line.
std::vector<Resource> LoadManifest(const std::filesystem::path& manifest,
                                   std::vector<std::filesystem::path>& inputs);

} // namespace rescomp
