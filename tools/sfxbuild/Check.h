#pragma once
// The checks of `create` before anything is written: what the launcher would refuse or fail on
// at the customer's is refused here, with a line that names the item or the key.

#include <filesystem>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <string_view>

namespace sfxbuild {

// The names of the non-folder items (files and links), "/"-separated as the launcher joins them.
using ItemNames = std::set<std::string>;

// Walks the folder to be packed. Throws BuildError for a link that leaves it, a device, socket
// or FIFO, or a name the launcher would refuse.
ItemNames CheckFolderItems(const std::filesystem::path& folder);

// The same for an existing 7z archive, read with the launcher's own reader.
ItemNames CheckArchiveItems(const std::filesystem::path& archive);

// Throws BuildError for a setup file that is not among `items` (as far as placeholders let it
// be known) and for a LANG_ section whose culture no string table of the stub knows; writes a
// warning line to `warnings` for every unknown section and key. `source` names the folder or
// archive in messages.
void CheckConfiguration(std::string_view text, const std::filesystem::path& config,
                        const ItemNames& items, const std::string& source,
                        const std::filesystem::path& stub, std::ostream& warnings);

// The known name nearest to `name` (letter case ignored), or empty when none is near enough.
std::string NearestName(std::string_view name, std::span<const std::string_view> known);

} // namespace sfxbuild
