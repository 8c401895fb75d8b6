#include "format/SettingsStore.h"

#include <algorithm>
#include <cwctype>
#include <limits>

namespace sfx {

namespace {

bool IsWideSpace(std::string_view oneCodePoint) {
    const auto decoded = cptlib::DecodeUtf8(oneCodePoint);
    return decoded && decoded->size() == 1 &&
           std::iswspace(static_cast<std::wint_t>((*decoded)[0])) != 0;
}

// Byte length of the white-space code point that starts (or, with `fromBack`, ends) `text`;
// 0 when there is none.
std::size_t SpaceLength(std::string_view text, bool fromBack) {
    for (std::size_t length = 1; length <= 4 && length <= text.size(); ++length) {
        const auto candidate =
            fromBack ? text.substr(text.size() - length) : text.substr(0, length);
        if (cptlib::IsValidUtf8(candidate))
            return IsWideSpace(candidate) ? length : 0;
    }
    return 0;
}

// Splits off the next line; a CR LF or LF CR pair is one break.
std::string_view NextLine(std::string_view& rest) {
    const std::size_t end = rest.find_first_of("\r\n");
    if (end == std::string_view::npos) {
        const std::string_view line = rest;
        rest = {};
        return line;
    }
    const std::string_view line = rest.substr(0, end);
    std::size_t next = end + 1;
    if (next < rest.size() && (rest[next] == '\r' || rest[next] == '\n') && rest[next] != rest[end])
        ++next;
    rest.remove_prefix(next);
    return line;
}

std::int32_t ReadDecimal(std::string_view text) {
    while (const std::size_t n = SpaceLength(text, false))
        text.remove_prefix(n);
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        magnitude = std::min(magnitude * 10 + (c - '0'), kLimit);
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

} // namespace

std::string_view TrimWideSpace(std::string_view text) {
    while (const std::size_t n = SpaceLength(text, false))
        text.remove_prefix(n);
    while (const std::size_t n = SpaceLength(text, true))
        text.remove_suffix(n);
    return text;
}

bool SettingsStore::Parse(std::string_view text) {
    sections_.clear();
    sectionIndex_.clear();
    std::string current;
    while (!text.empty()) {
        const std::string_view line = NextLine(text);
        if (line.empty() || line[0] == ';')
            continue;
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            std::string_view value = TrimWideSpace(line.substr(equals + 1));
            if (!value.empty() && value.front() == '"' && value.back() == '"')
                value = value.size() == 1 ? std::string_view{} : value.substr(1, value.size() - 2);
            Set(current, std::string(TrimWideSpace(line.substr(0, equals))), std::string(value));
            continue;
        }
        const std::size_t open = line.find('[');
        const std::size_t close = line.rfind(']');
        if (open != std::string_view::npos && close != std::string_view::npos && close > open)
            current = TrimWideSpace(line.substr(open + 1, close - open - 1));
    }
    return true;
}

void SettingsStore::Set(const std::string& section, std::string key, std::string value) {
    auto found = sectionIndex_.find(section);
    if (found == sectionIndex_.end()) {
        found = sectionIndex_.emplace(section, sections_.size()).first;
        sections_.push_back({section, {}, {}});
    }
    Section& target = sections_[found->second];
    if (const auto entry = target.index.find(key); entry != target.index.end()) {
        target.entries[entry->second].second = std::move(value);
        return;
    }
    target.index.emplace(key, target.entries.size());
    target.entries.emplace_back(std::move(key), std::move(value));
}

const std::string* SettingsStore::Find(std::string_view section, std::string_view key) const {
    const auto found = sectionIndex_.find(section);
    if (found == sectionIndex_.end())
        return nullptr;
    const Section& target = sections_[found->second];
    const auto entry = target.index.find(key);
    return entry == target.index.end() ? nullptr : &target.entries[entry->second].second;
}

std::string SettingsStore::GetString(std::string_view section, std::string_view key,
                                     std::string_view defaultValue) const {
    const std::string* value = Find(section, key);
    return value != nullptr ? *value : std::string(defaultValue);
}

std::int32_t SettingsStore::GetInt(std::string_view section, std::string_view key,
                                   std::int32_t defaultValue) const {
    const std::string* value = Find(section, key);
    if (value == nullptr || value->empty())
        return defaultValue;
    return ReadDecimal(*value);
}

std::vector<std::string> SettingsStore::GetSectionNames() const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& section : sections_)
        names.push_back(section.name);
    return names;
}

std::vector<std::string> SettingsStore::GetKeys(std::string_view section) const {
    std::vector<std::string> keys;
    const auto found = sectionIndex_.find(std::string(section));
    if (found == sectionIndex_.end())
        return keys;
    for (const auto& entry : sections_[found->second].entries)
        keys.push_back(entry.first);
    return keys;
}

} // namespace sfx
