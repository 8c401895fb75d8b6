#include "rescomp/ResourceCompiler.h"

#include "cptlib/Utf.h"

#include <map>
#include <tuple>

namespace rescomp {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;

// A directory entry's key. Named entries come first, ordered by code units; numbers follow.
struct Key {
    bool numbered = false;
    std::uint16_t id = 0;
    std::u16string name;

    bool operator<(const Key& other) const {
        return std::tie(numbered, id, name) < std::tie(other.numbered, other.id, other.name);
    }
};

Key MakeKey(const cptlib::ResourceId& r) {
    if (r.name.empty())
        return {true, r.id, {}};
    auto wide = cptlib::Utf8ToUtf16(r.name);
    if (!wide)
        throw CompileError("resource name is not valid UTF-8: " + r.name);
    if (wide->size() > 0xFFFF)
        throw CompileError("resource name is too long: " + r.name.substr(0, 40) + "...");
    for (char16_t& c : *wide)
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return {false, 0, std::move(*wide)};
}

using Languages = std::map<std::uint16_t, const std::string*>;
using Names = std::map<Key, Languages>;
using Types = std::map<Key, Names>;

void Put16(std::string& out, std::size_t at, std::uint16_t v) {
    out[at] = static_cast<char>(v & 0xFF);
    out[at + 1] = static_cast<char>(v >> 8);
}

void Put32(std::string& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::size_t AlignUp(std::size_t n, std::size_t alignment) {
    return (n + alignment - 1) / alignment * alignment;
}

std::uint32_t Offset(std::size_t n) {
    if (n >= kHighBit)
        throw CompileError("resource tree exceeds 2 GiB");
    return static_cast<std::uint32_t>(n);
}

template <class Map> std::size_t DirectorySize(const Map& children) {
    return kDirectorySize + kEntrySize * children.size();
}

} // namespace

std::string BuildResourceTree(const std::vector<Resource>& resources, std::uint32_t baseRva) {
    Types types;
    for (const Resource& r : resources) {
        auto& slot = types[MakeKey(r.type)][MakeKey(r.name)][r.language];
        if (slot != nullptr)
            throw CompileError("duplicate resource " + r.type.ToString() + "/" + r.name.ToString() +
                               "/" + std::to_string(r.language));
        slot = &r.data;
    }

    // Layout: all directories level by level, the name strings, the data entries, the data.
    std::size_t size = DirectorySize(types);
    std::map<const Names*, std::size_t> nameDirs;
    std::map<const Languages*, std::size_t> languageDirs;
    for (const auto& [type, names] : types) {
        nameDirs[&names] = size;
        size += DirectorySize(names);
    }
    for (const auto& [type, names] : types)
        for (const auto& [name, languages] : names) {
            languageDirs[&languages] = size;
            size += DirectorySize(languages);
        }
    std::map<std::u16string, std::size_t> strings;
    const auto addString = [&](const Key& key) {
        if (!key.numbered && strings.emplace(key.name, size).second)
            size += 2 + 2 * key.name.size();
    };
    for (const auto& [type, names] : types) {
        addString(type);
        for (const auto& [name, languages] : names)
            addString(name);
    }
    size = AlignUp(size, 4);
    std::map<const std::string*, std::size_t> dataEntries;
    for (const auto& [type, names] : types)
        for (const auto& [name, languages] : names)
            for (const auto& [language, data] : languages) {
                dataEntries[data] = size;
                size += kDataEntrySize;
            }
    std::map<const std::string*, std::size_t> dataOffsets;
    for (const auto& [type, names] : types)
        for (const auto& [name, languages] : names)
            for (const auto& [language, data] : languages) {
                size = AlignUp(size, 8);
                dataOffsets[data] = size;
                size += data->size();
            }
    size = AlignUp(size, 8);
    Offset(size);
    if (size > 0xFFFFFFFFu - baseRva)
        throw CompileError("resource tree does not fit behind its base address");

    std::string out(size, '\0');
    const auto writeDirectory = [&](std::size_t at, const auto& children, auto targetOf) {
        std::uint16_t named = 0, numbered = 0;
        std::size_t entry = at + kDirectorySize;
        for (const auto& [key, child] : children) {
            if constexpr (std::is_same_v<std::decay_t<decltype(key)>, Key>) {
                if (key.numbered) {
                    ++numbered;
                    Put32(out, entry, key.id);
                } else {
                    ++named;
                    Put32(out, entry, kHighBit | Offset(strings.at(key.name)));
                }
            } else {
                ++numbered;
                Put32(out, entry, key);
            }
            Put32(out, entry + 4, targetOf(child));
            entry += kEntrySize;
        }
        Put16(out, at + 12, named);
        Put16(out, at + 14, numbered);
    };
    writeDirectory(0, types,
                   [&](const Names& names) { return kHighBit | Offset(nameDirs.at(&names)); });
    for (const auto& [type, names] : types) {
        writeDirectory(nameDirs.at(&names), names, [&](const Languages& languages) {
            return kHighBit | Offset(languageDirs.at(&languages));
        });
        for (const auto& [name, languages] : names)
            writeDirectory(languageDirs.at(&languages), languages,
                           [&](const std::string* data) { return Offset(dataEntries.at(data)); });
    }
    for (const auto& [text, at] : strings) {
        Put16(out, at, static_cast<std::uint16_t>(text.size()));
        for (std::size_t i = 0; i < text.size(); ++i)
            Put16(out, at + 2 + 2 * i, static_cast<std::uint16_t>(text[i]));
    }
    for (const auto& [data, at] : dataEntries) {
        Put32(out, at, baseRva + Offset(dataOffsets.at(data)));
        if (data->size() > 0xFFFFFFFFu)
            throw CompileError("resource larger than 4 GiB");
        Put32(out, at + 4, static_cast<std::uint32_t>(data->size()));
        out.replace(dataOffsets.at(data), data->size(), *data);
    }
    return out;
}

std::vector<Resource> IconResources(std::string_view ico, const cptlib::ResourceId& groupName,
                                    std::uint16_t language, std::uint16_t firstIconId) {
    const auto u8 = [&](std::size_t at) { return static_cast<std::uint8_t>(ico[at]); };
    const auto u16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(u8(at) | (u8(at + 1) << 8));
    };
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(u16(at)) |
               (static_cast<std::uint32_t>(u16(at + 2)) << 16);
    };
    constexpr std::size_t kHeader = 6, kIcoEntry = 16, kGroupEntry = 14;
    if (ico.size() < kHeader || u16(0) != 0 || u16(2) != 1 || u16(4) == 0)
        throw CompileError("not an icon file");
    const std::size_t count = u16(4);
    if (ico.size() < kHeader + count * kIcoEntry)
        throw CompileError("icon directory is cut short");
    if (std::size_t{firstIconId} + count - 1 > 0xFFFF)
        throw CompileError("too many icon images");

    std::vector<Resource> result;
    std::string group(kHeader + count * kGroupEntry, '\0');
    Put16(group, 2, 1);
    Put16(group, 4, static_cast<std::uint16_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t e = kHeader + i * kIcoEntry;
        const std::uint32_t bytes = u32(e + 8), offset = u32(e + 12);
        if (offset > ico.size() || bytes > ico.size() - offset || bytes == 0)
            throw CompileError("icon image " + std::to_string(i) + " lies outside the file");
        const auto id = static_cast<std::uint16_t>(firstIconId + i);
        result.push_back({cptlib::kRtIcon, id, language, std::string(ico.substr(offset, bytes))});
        // The group entry repeats the first 12 bytes of the file's entry and names the image.
        const std::size_t g = kHeader + i * kGroupEntry;
        group.replace(g, 12, ico.substr(e, 12));
        Put16(group, g + 12, id);
    }
    result.push_back({cptlib::kRtGroupIcon, groupName, language, std::move(group)});
    return result;
}

} // namespace rescomp
