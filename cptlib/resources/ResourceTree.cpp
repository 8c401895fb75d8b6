#include "cptlib/resources/ResourceTree.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/Locale.h"
#include "cptlib/resources/LanguageIds.h"

#include <algorithm>
#include <cstring>

namespace cptlib {

namespace {

constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::size_t kDirectorySize = 16;
constexpr std::size_t kEntrySize = 8;
constexpr std::size_t kDataEntrySize = 16;

const HRESULT kBadFormat = HResultFromWin32(kErrorBadExeFormat);

// off + len <= total without overflow.
bool InRange(std::uint64_t off, std::uint64_t len, std::uint64_t total) {
    return off <= total && len <= total - off;
}

// Little- or big-endian numbers at checked offsets; callers check the range first.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data, bool bigEndian = false)
        : data_(data), big_(bigEndian) {}
    std::uint64_t size() const { return data_.size(); }
    bool Has(std::uint64_t off, std::uint64_t len) const { return InRange(off, len, size()); }
    std::uint64_t Read(std::uint64_t off, int width) const {
        std::uint64_t v = 0;
        for (int i = 0; i < width; ++i) {
            const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
            v |= static_cast<std::uint64_t>(data_[static_cast<std::size_t>(off) + i]) << shift;
        }
        return v;
    }
    std::uint16_t U16(std::uint64_t off) const { return static_cast<std::uint16_t>(Read(off, 2)); }
    std::uint32_t U32(std::uint64_t off) const { return static_cast<std::uint32_t>(Read(off, 4)); }
    std::uint64_t U64(std::uint64_t off) const { return Read(off, 8); }

private:
    std::span<const std::uint8_t> data_;
    bool big_;
};

char16_t FoldAscii(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// A type or name as the tree stores it: a number, or an upper-cased UTF-16 string (the
// platform compares resource names without regard to ASCII case).
struct Key {
    bool byName = false;
    std::uint32_t id = 0;
    std::u16string name;
};

std::optional<Key> MakeKey(const ResourceId& r) {
    Key key;
    if (r.name.empty()) {
        key.id = r.id;
        return key;
    }
    if (r.name.size() > 1 && r.name.size() <= 6 && r.name[0] == '#' &&
        std::all_of(r.name.begin() + 1, r.name.end(),
                    [](char c) { return c >= '0' && c <= '9'; })) {
        const unsigned long number = std::stoul(r.name.substr(1));
        if (number <= 0xFFFF) {
            key.id = static_cast<std::uint32_t>(number);
            return key;
        }
    }
    auto wide = Utf8ToUtf16(r.name);
    if (!wide)
        return std::nullopt;
    std::transform(wide->begin(), wide->end(), wide->begin(), FoldAscii);
    key.byName = true;
    key.name = std::move(*wide);
    return key;
}

} // namespace

// Reads directories of one tree; `budget` bounds the entries a whole walk may visit, so that
// directories shared by many parents cannot make a walk explode.
class ResourceTree::Walker {
public:
    explicit Walker(std::span<const std::uint8_t> tree)
        : bytes_(tree), budget_(tree.size() / kEntrySize + 1) {}

    HRESULT Directory(std::uint32_t offset, std::vector<Entry>& entries) {
        entries.clear();
        if (!bytes_.Has(offset, kDirectorySize))
            return HRESULT_INVALID_DATA;
        const std::uint64_t count =
            std::uint64_t{bytes_.U16(offset + 12)} + bytes_.U16(offset + 14);
        if (!bytes_.Has(std::uint64_t{offset} + kDirectorySize, count * kEntrySize) ||
            count > budget_)
            return HRESULT_INVALID_DATA;
        budget_ -= count;
        entries.reserve(static_cast<std::size_t>(count));
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t at = offset + kDirectorySize + i * kEntrySize;
            entries.push_back({bytes_.U32(at), bytes_.U32(at + 4)});
        }
        return kHrOk;
    }

    // The subdirectory an entry of the first two levels points to.
    static HRESULT Subdirectory(const Entry& entry, std::uint32_t& offset) {
        if ((entry.target & kHighBit) == 0)
            return HRESULT_INVALID_DATA;
        offset = entry.target & ~kHighBit;
        return kHrOk;
    }

    HRESULT Name(std::uint32_t field, std::u16string& name) const {
        const std::uint64_t at = field & ~kHighBit;
        if (!bytes_.Has(at, 2))
            return HRESULT_INVALID_DATA;
        const std::uint16_t length = bytes_.U16(at);
        if (!bytes_.Has(at + 2, std::uint64_t{length} * 2))
            return HRESULT_INVALID_DATA;
        name.resize(length);
        for (std::uint16_t i = 0; i < length; ++i)
            name[i] = static_cast<char16_t>(bytes_.U16(at + 2 + 2 * std::uint64_t{i}));
        return kHrOk;
    }

    HRESULT Matches(const Entry& entry, const Key& key, bool& match) const {
        match = false;
        if ((entry.name & kHighBit) == 0) {
            match = !key.byName && entry.name == key.id;
            return kHrOk;
        }
        if (!key.byName)
            return kHrOk;
        std::u16string name;
        const HRESULT hr = Name(entry.name, name);
        if (Failed(hr))
            return hr;
        match = name.size() == key.name.size() &&
                std::equal(name.begin(), name.end(), key.name.begin(),
                           [](char16_t a, char16_t b) { return FoldAscii(a) == b; });
        return kHrOk;
    }

    HRESULT Find(std::uint32_t directory, const Key& key, HRESULT notFound, Entry& found) {
        std::vector<Entry> entries;
        HRESULT hr = Directory(directory, entries);
        if (Failed(hr))
            return hr;
        for (const Entry& entry : entries) {
            bool match = false;
            hr = Matches(entry, key, match);
            if (Failed(hr))
                return hr;
            if (match) {
                found = entry;
                return kHrOk;
            }
        }
        return notFound;
    }

    HRESULT ToId(std::uint32_t field, ResourceId& id) const {
        if ((field & kHighBit) == 0) {
            id = ResourceId(static_cast<std::uint16_t>(field));
            return field <= 0xFFFF ? kHrOk : HRESULT_INVALID_DATA;
        }
        std::u16string name;
        const HRESULT hr = Name(field, name);
        if (Failed(hr))
            return hr;
        auto utf8 = Utf16ToUtf8(name);
        if (!utf8)
            return HRESULT_INVALID_DATA;
        id = ResourceId(std::move(*utf8));
        return kHrOk;
    }

    HRESULT DataEntry(const Entry& entry, std::uint32_t& rva, std::uint32_t& size) const {
        if ((entry.target & kHighBit) != 0 || !bytes_.Has(entry.target, kDataEntrySize))
            return HRESULT_INVALID_DATA;
        rva = bytes_.U32(entry.target);
        size = bytes_.U32(entry.target + 4);
        return kHrOk;
    }

private:
    ByteReader bytes_;
    std::uint64_t budget_;
};

ImageFormat DetectImageFormat(std::span<const std::uint8_t> image) {
    if (image.size() >= 2 && image[0] == 'M' && image[1] == 'Z')
        return ImageFormat::Pe;
    if (image.size() >= 4 && image[0] == 0x7F && image[1] == 'E' && image[2] == 'L' &&
        image[3] == 'F')
        return ImageFormat::Elf;
    return ImageFormat::Unknown;
}

namespace {

HRESULT OpenElf(std::span<const std::uint8_t> image, std::span<const std::uint8_t>& tree) {
    if (image.size() < 6)
        return kBadFormat;
    const std::uint8_t cls = image[4], data = image[5];
    if ((cls != 1 && cls != 2) || (data != 1 && data != 2))
        return kBadFormat;
    const bool is64 = cls == 2;
    const ByteReader b(image, data == 2);
    if (!b.Has(0, is64 ? 64 : 52))
        return kBadFormat;

    const std::uint64_t shoff = is64 ? b.U64(0x28) : b.U32(0x20);
    const std::uint16_t shentsize = b.U16(is64 ? 0x3A : 0x2E);
    std::uint64_t shnum = b.U16(is64 ? 0x3C : 0x30);
    std::uint32_t shstrndx = b.U16(is64 ? 0x3E : 0x32);
    const std::uint64_t minEntry = is64 ? 64 : 40;
    if (shoff == 0)
        return HRESULT_RESOURCE_DATA_NOT_FOUND; // no section headers, so no .rsrc
    if (shentsize < minEntry || !b.Has(shoff, minEntry))
        return kBadFormat;
    // Extended numbering keeps large counts in section 0.
    if (shnum == 0)
        shnum = is64 ? b.U64(shoff + 0x20) : b.U32(shoff + 0x14);
    if (shstrndx == 0xFFFF)
        shstrndx = b.U32(shoff + (is64 ? 0x28 : 0x18));
    if (shnum > b.size() / shentsize || !b.Has(shoff, shnum * shentsize) || shstrndx >= shnum)
        return kBadFormat;

    const auto header = [&](std::uint64_t i) { return shoff + i * shentsize; };
    const auto offsetOf = [&](std::uint64_t h) { return is64 ? b.U64(h + 0x18) : b.U32(h + 0x10); };
    const auto sizeOf = [&](std::uint64_t h) { return is64 ? b.U64(h + 0x20) : b.U32(h + 0x14); };

    const std::uint64_t strtab = offsetOf(header(shstrndx));
    const std::uint64_t strsize = sizeOf(header(shstrndx));
    if (!b.Has(strtab, strsize))
        return kBadFormat;

    static constexpr char kName[] = ".rsrc"; // with its terminating zero
    constexpr std::uint32_t kNoBits = 8;
    for (std::uint64_t i = 0; i < shnum; ++i) {
        const std::uint64_t h = header(i);
        const std::uint32_t name = b.U32(h);
        if (!InRange(name, sizeof kName, strsize) ||
            std::memcmp(image.data() + strtab + name, kName, sizeof kName) != 0 ||
            b.U32(h + 4) == kNoBits)
            continue;
        const std::uint64_t offset = offsetOf(h), size = sizeOf(h);
        if (!b.Has(offset, size) || size > 0xFFFFFFFFu)
            return kBadFormat;
        tree = image.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
        return kHrOk;
    }
    return HRESULT_RESOURCE_DATA_NOT_FOUND;
}

} // namespace

HRESULT ResourceTree::Open(std::span<const std::uint8_t> image, ResourceTree& tree) {
    ResourceTree result;
    result.image_ = image;
    switch (DetectImageFormat(image)) {
    case ImageFormat::Unknown:
        return HRESULT_RESOURCE_DATA_NOT_FOUND;
    case ImageFormat::Elf: {
        const HRESULT hr = OpenElf(image, result.tree_);
        if (Failed(hr))
            return hr;
        break;
    }
    case ImageFormat::Pe: {
        const ByteReader b(image);
        if (!b.Has(0x3C, 4))
            return kBadFormat;
        const std::uint64_t pe = b.U32(0x3C);
        if (!b.Has(pe, 24) || b.U32(pe) != 0x00004550u)
            return kBadFormat;
        const std::uint64_t coff = pe + 4;
        const std::uint16_t sectionCount = b.U16(coff + 2);
        const std::uint16_t optionalSize = b.U16(coff + 16);
        const std::uint64_t opt = coff + 20;
        if (optionalSize < 2 || !b.Has(opt, optionalSize))
            return kBadFormat;
        std::uint64_t countAt = 0, dirsAt = 0;
        switch (b.U16(opt)) {
        case 0x10B:
            countAt = 92, dirsAt = 96;
            break;
        case 0x20B:
            countAt = 108, dirsAt = 112;
            break;
        default:
            return kBadFormat;
        }
        constexpr std::uint64_t kResourceEntry = 2;
        if (countAt + 4 > optionalSize || b.U32(opt + countAt) <= kResourceEntry ||
            dirsAt + (kResourceEntry + 1) * 8 > optionalSize)
            return HRESULT_RESOURCE_DATA_NOT_FOUND;
        const std::uint32_t treeRva = b.U32(opt + dirsAt + kResourceEntry * 8);
        if (treeRva == 0)
            return HRESULT_RESOURCE_DATA_NOT_FOUND;

        const std::uint64_t table = opt + optionalSize;
        if (!b.Has(table, std::uint64_t{sectionCount} * 40))
            return kBadFormat;
        result.viaSections_ = true;
        for (std::uint16_t i = 0; i < sectionCount; ++i) {
            const std::uint64_t s = table + std::uint64_t{i} * 40;
            result.sections_.push_back({b.U32(s + 12), b.U32(s + 16), b.U32(s + 20)});
        }
        bool found = false;
        for (const Section& s : result.sections_) {
            if (treeRva < s.virtualAddress || treeRva - s.virtualAddress >= s.rawSize)
                continue;
            const std::uint64_t start = s.rawOffset + (treeRva - s.virtualAddress);
            const std::uint64_t end = std::min<std::uint64_t>(s.rawOffset + s.rawSize, b.size());
            if (start >= end)
                return HRESULT_INVALID_DATA;
            result.tree_ = image.subspan(static_cast<std::size_t>(start),
                                         static_cast<std::size_t>(end - start));
            found = true;
            break;
        }
        if (!found)
            return HRESULT_INVALID_DATA;
        break;
    }
    }
    tree = std::move(result);
    return kHrOk;
}

ResourceTree ResourceTree::FromSection(std::span<const std::uint8_t> section) {
    ResourceTree tree;
    tree.image_ = section;
    tree.tree_ = section;
    return tree;
}

HRESULT ResourceTree::MapData(std::uint32_t rva, std::uint32_t size, ResourceData& data) const {
    if (!viaSections_) {
        if (!InRange(rva, size, tree_.size()))
            return HRESULT_INVALID_DATA;
        data.offset = static_cast<std::uint64_t>(tree_.data() - image_.data()) + rva;
        data.size = size;
        return kHrOk;
    }
    for (const Section& s : sections_) {
        if (rva < s.virtualAddress || rva - s.virtualAddress >= s.rawSize)
            continue;
        const std::uint32_t within = rva - s.virtualAddress;
        if (size > s.rawSize - within || !InRange(s.rawOffset + within, size, image_.size()))
            return HRESULT_INVALID_DATA;
        data.offset = s.rawOffset + within;
        data.size = size;
        return kHrOk;
    }
    return HRESULT_INVALID_DATA;
}

HRESULT ResourceTree::Find(const ResourceId& type, const ResourceId& name,
                           std::span<const std::uint16_t> languages, ResourceData& data) const {
    const auto typeKey = MakeKey(type);
    if (!typeKey)
        return HResultFromWin32(kErrorResourceTypeNotFound);
    const auto nameKey = MakeKey(name);
    Walker walker(tree_);
    Entry typeEntry, nameEntry;
    std::uint32_t directory = 0;
    HRESULT hr = walker.Find(0, *typeKey, HResultFromWin32(kErrorResourceTypeNotFound), typeEntry);
    if (Failed(hr) || Failed(hr = Walker::Subdirectory(typeEntry, directory)))
        return hr;
    if (!nameKey)
        return HResultFromWin32(kErrorResourceNameNotFound);
    hr = walker.Find(directory, *nameKey, HResultFromWin32(kErrorResourceNameNotFound), nameEntry);
    if (Failed(hr) || Failed(hr = Walker::Subdirectory(nameEntry, directory)))
        return hr;

    std::vector<Entry> entries;
    if (Failed(hr = walker.Directory(directory, entries)))
        return hr;
    // Languages are numbers; a named entry at this level is not one.
    std::erase_if(entries, [](const Entry& e) { return (e.name & kHighBit) != 0; });
    if (entries.empty())
        return HResultFromWin32(kErrorResourceLangNotFound);
    const Entry* chosen = &entries.front();
    for (const std::uint16_t language : languages) {
        const auto it = std::find_if(entries.begin(), entries.end(),
                                     [&](const Entry& e) { return e.name == language; });
        if (it != entries.end()) {
            chosen = &*it;
            break;
        }
    }
    std::uint32_t rva = 0, size = 0;
    if (Failed(hr = walker.DataEntry(*chosen, rva, size)))
        return hr;
    ResourceData result;
    if (Failed(hr = MapData(rva, size, result)))
        return hr;
    result.language = static_cast<std::uint16_t>(chosen->name);
    data = result;
    return kHrOk;
}

HRESULT ResourceTree::EnumNames(const ResourceId& type, std::vector<ResourceId>& names) const {
    names.clear();
    const auto typeKey = MakeKey(type);
    if (!typeKey)
        return HResultFromWin32(kErrorResourceTypeNotFound);
    Walker walker(tree_);
    Entry typeEntry;
    std::uint32_t directory = 0;
    HRESULT hr = walker.Find(0, *typeKey, HResultFromWin32(kErrorResourceTypeNotFound), typeEntry);
    if (Failed(hr) || Failed(hr = Walker::Subdirectory(typeEntry, directory)))
        return hr;
    std::vector<Entry> entries;
    if (Failed(hr = walker.Directory(directory, entries)))
        return hr;
    std::vector<ResourceId> result;
    for (const Entry& entry : entries) {
        ResourceId id;
        if (Failed(hr = walker.ToId(entry.name, id)))
            return hr;
        result.push_back(std::move(id));
    }
    names = std::move(result);
    return kHrOk;
}

HRESULT ResourceTree::EnumAll(std::vector<ResourceInfo>& resources) const {
    resources.clear();
    Walker walker(tree_);
    std::vector<Entry> types, names, languages;
    std::vector<ResourceInfo> result;
    HRESULT hr = walker.Directory(0, types);
    if (Failed(hr))
        return hr;
    for (const Entry& typeEntry : types) {
        ResourceInfo info;
        std::uint32_t directory = 0;
        if (Failed(hr = walker.ToId(typeEntry.name, info.type)) ||
            Failed(hr = Walker::Subdirectory(typeEntry, directory)) ||
            Failed(hr = walker.Directory(directory, names)))
            return hr;
        for (const Entry& nameEntry : names) {
            if (Failed(hr = walker.ToId(nameEntry.name, info.name)) ||
                Failed(hr = Walker::Subdirectory(nameEntry, directory)) ||
                Failed(hr = walker.Directory(directory, languages)))
                return hr;
            for (const Entry& languageEntry : languages) {
                std::uint32_t rva = 0, size = 0;
                if ((languageEntry.name & kHighBit) != 0 || languageEntry.name > 0xFFFF)
                    return HRESULT_INVALID_DATA;
                if (Failed(hr = walker.DataEntry(languageEntry, rva, size)) ||
                    Failed(hr = MapData(rva, size, info.data)))
                    return hr;
                info.data.language = static_cast<std::uint16_t>(languageEntry.name);
                result.push_back(info);
            }
        }
    }
    resources = std::move(result);
    return kHrOk;
}

namespace {

constexpr std::uint16_t kChinese = 0x04;
constexpr std::uint16_t kChineseTraditional = 1028; // zh-TW
constexpr std::uint16_t kChineseSimplified = 2052;  // zh-CN

std::uint16_t ChineseTable(std::uint16_t lcid) {
    // zh-TW, zh-HK, zh-MO and zh-Hant write traditional characters.
    for (const std::uint16_t traditional :
         {std::uint16_t{1028}, std::uint16_t{3076}, std::uint16_t{5124}, std::uint16_t{0x7C04}})
        if (lcid == traditional)
            return kChineseTraditional;
    return kChineseSimplified;
}

} // namespace

std::vector<std::uint16_t> LanguageCandidates(std::optional<std::uint16_t> language,
                                              std::optional<std::uint16_t> userLanguage) {
    std::vector<std::uint16_t> users;
    if (userLanguage)
        users.push_back(*userLanguage);
    return LanguageCandidates(language, users);
}

std::vector<std::uint16_t> LanguageCandidates(std::optional<std::uint16_t> language,
                                              const std::vector<std::uint16_t>& userLanguages) {
    std::vector<std::uint16_t> candidates;
    const auto add = [&](std::uint16_t id) {
        if (std::find(candidates.begin(), candidates.end(), id) == candidates.end())
            candidates.push_back(id);
    };
    const auto addWithNeutral = [&](std::uint16_t id) {
        add(id);
        const std::uint16_t primary = PrimaryLanguageId(id);
        if (primary == kChinese) {
            add(ChineseTable(id));
        } else if (id == primary || id == (0x7C00 | primary)) {
            // A bare language: the tables carry a country, the default one first.
            add(static_cast<std::uint16_t>(0x0400 | primary));
        }
        add(primary);
    };
    if (language)
        addWithNeutral(*language);
    else
        for (const std::uint16_t id : userLanguages)
            addWithNeutral(id);
    add(LANG_EN_US);
    return candidates;
}

std::optional<std::uint16_t> UserLanguage() {
    const std::string culture = platform::GetUserUiCulture();
    if (culture.empty())
        return std::nullopt;
    return Rfc1766ToLcid(culture);
}

std::vector<std::uint16_t> UserLanguages() {
    std::vector<std::uint16_t> languages;
    for (const std::string& culture : platform::GetUserUiCultures()) {
        auto lcid = Rfc1766ToLcid(culture);
        // An unknown country of a known language still has that language's texts.
        if (!lcid)
            lcid = Rfc1766ToLcid(culture.substr(0, culture.find('-')));
        if (lcid)
            languages.push_back(*lcid);
    }
    return languages;
}

std::uint32_t Win32FromHResult(HRESULT hr) {
    const auto value = static_cast<std::uint32_t>(hr);
    return (value & 0xFFFF0000u) == 0x80070000u ? (value & 0xFFFFu) : value;
}

} // namespace cptlib
