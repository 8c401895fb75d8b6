#pragma once
// The launcher's configuration: INI-like UTF-8 text from the configuration block, held as
// sections of key/value entries, names compared without regard to case.

#include "cptlib/Utf.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace sfx {

class SettingsStore {
public:
    // Replaces the content with the entries of `text`. Malformed lines are skipped; always true.
    bool Parse(std::string_view text);

    // The stored value (also when empty), or `defaultValue` when the section or key is missing.
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;

    // `defaultValue` when the key is missing or its value empty; else the value read as "%d"
    // reads it (leading white space, optional sign, digits up to the first other character), 0
    // when no number can be read. Values beyond the 32-bit range are clamped to it.
    std::int32_t GetInt(std::string_view section, std::string_view key,
                        std::int32_t defaultValue) const;

    // Section names in the order of their first entry.
    std::vector<std::string> GetSectionNames() const;

    // The keys of a section as first written, in order; none for a missing section.
    std::vector<std::string> GetKeys(std::string_view section) const;

private:
    struct Section {
        std::string name;
        std::vector<std::pair<std::string, std::string>> entries;
        std::map<std::string, std::size_t, cptlib::less_icase> index;
    };

    void Set(const std::string& section, std::string key, std::string value);
    const std::string* Find(std::string_view section, std::string_view key) const;

    std::vector<Section> sections_;
    std::map<std::string, std::size_t, cptlib::less_icase> sectionIndex_;
};

// Trims the characters for which iswspace is true (per code point) from both ends.
std::string_view TrimWideSpace(std::string_view text);

} // namespace sfx
