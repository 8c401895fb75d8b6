#pragma once
// The checks of `create` before anything is written: what the launcher would refuse or fail on
// at the customer's is refused here, with a line that names the item or the key.

#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sfxbuild {

// What `create` found wrong: one line each, all of them reported before it gives up.
struct Problems {
    std::vector<std::string> lines;
    void Add(std::string line) { lines.push_back(std::move(line)); }
    bool Empty() const { return lines.empty(); }
};

// What the checks know of an item that a setup may be.
struct ItemFacts {
    bool modeKnown = false;
    bool executable = false;
    bool looksLikeProgram = false; // begins with "#!" or is an ELF program
};

// The non-folder items (files and links) by name, "/"-separated as the launcher joins them.
using ItemNames = std::map<std::string, ItemFacts>;

// Walks the folder to be packed. Adds a problem for a link that leaves it (unless `follow`, which
// takes such links as the files or folders they point at; their names go to `followed`), a
// device, socket or FIFO, or a name the launcher would refuse.
ItemNames CheckFolderItems(const std::filesystem::path& folder, Problems& problems,
                           bool follow = false, std::vector<std::string>* followed = nullptr);

// The same for an existing 7z archive, read with the launcher's own reader.
// `listed` is set to whether the item list could be read at all.
ItemNames CheckArchiveItems(const std::filesystem::path& archive, Problems& problems,
                            bool* listed = nullptr);

// Adds a problem for a setup file that is not among `items` (as far as placeholders let it be
// known) or that is a program without an execute bit, and for a LANG_ section whose culture
// neither the launcher's selection nor a string table of the stub knows; writes a warning line
// to `warnings` for every unknown section and key, an empty LANG_ section, and a value that is
// not a number where the launcher reads one. `source` names the folder or archive in messages;
// without `itemsKnown` (a list that could not be read) setup files are not looked for.
void CheckConfiguration(std::string_view text, const std::filesystem::path& config,
                        const ItemNames& items, const std::string& source,
                        const std::filesystem::path& stub, std::ostream& warnings,
                        Problems& problems, bool itemsKnown = true);

// The known name nearest to `name` (letter case ignored), or empty when none is near enough.
std::string NearestName(std::string_view name, std::span<const std::string_view> known);

} // namespace sfxbuild
