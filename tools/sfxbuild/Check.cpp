#include "sfxbuild/Check.h"

#include "sfxbuild/Build.h"

#include "cptlib/Utf.h"
#include "cptlib/localization/Placeholders.h"
#include "cptlib/resources/LanguageIds.h"
#include "cptlib/resources/ResourceTree.h"
#include "format/ArchiveReader.h"
#include "format/ItemName.h"
#include "format/SettingsStore.h"
#include "format/SevenZipHeader.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace sfxbuild {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMainKeys[] = {"ProductName",         "ShowUnzipLanguageDlg",
                                          "ExtractOnly",         "DefaultExtractDir",
                                          "SfxProgressVisible",  "Culture",
                                          "SfxProgressPretty",   "ForwardResourceDataFromSFX",
                                          "SetupShow",           "SetupFileName",
                                          "SetupFileName64",     "SetupParams",
                                          "ForwardOwnParameters"};
constexpr std::string_view kLanguageKeys[] = {"ProductName",     "ProgressTitle", "ProgressText",
                                              "StartSetup",      "SetupShow",     "SetupFileName",
                                              "SetupFileName64", "SetupParams"};
constexpr std::string_view kLanguagePrefix = "LANG_";

std::string Join(const std::vector<std::string>& parts) {
    std::string name;
    for (const std::string& part : parts)
        name += (name.empty() ? "" : "/") + part;
    return name;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && Lower(text.substr(0, prefix.size())) == Lower(prefix);
}

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// One item's name, checked as the launcher checks it; the joined name.
std::string CheckedName(const std::string& name, const std::string& where) {
    std::vector<std::string> parts;
    if (!cptlib::IsValidUtf8(name))
        throw BuildError(where + "the name '" + name + "' is not valid UTF-8");
    if (!sfx::SplitItemName(name, parts))
        throw BuildError(where + "item '" + name +
                         "' has a name the launcher refuses (absolute, \"..\" or empty)");
    return Join(parts);
}

void CheckLink(const std::string& name, const std::string& target, const std::string& where) {
    std::vector<std::string> parts;
    sfx::SplitItemName(name, parts);
    if (!sfx::LinkStaysInside(parts, target))
        throw BuildError(where + "link '" + name + "' -> '" + target +
                         "' leaves the folder; the launcher refuses it");
}

const char* SpecialKind(fs::file_type type) {
    switch (type) {
    case fs::file_type::block:
        return "a block device";
    case fs::file_type::character:
        return "a character device";
    case fs::file_type::fifo:
        return "a FIFO";
    case fs::file_type::socket:
        return "a socket";
    default:
        return nullptr;
    }
}

// The languages of the stub's string tables.
std::set<std::uint16_t> StringTableLanguages(const fs::path& stub) {
    std::ifstream in(stub, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<std::uint16_t> languages;
    cptlib::ResourceTree tree;
    std::vector<cptlib::ResourceInfo> resources;
    if (cptlib::Failed(cptlib::ResourceTree::Open(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, tree)) ||
        cptlib::Failed(tree.EnumAll(resources)))
        throw BuildError("cannot read the string tables of stub " + Quoted(stub));
    for (const cptlib::ResourceInfo& resource : resources) {
        if (resource.type.name == "ZQ_XML_STRING" && resource.name.name.empty() &&
            resource.name.id == 1)
            languages.insert(resource.data.language);
    }
    return languages;
}

} // namespace

using sfx::LinkStaysInside;
using sfx::SplitItemName;

std::string NearestName(std::string_view name, std::span<const std::string_view> known) {
    std::string best;
    std::size_t bestDistance = 0;
    for (const std::string_view candidate : known) {
        const std::size_t distance = EditDistance(Lower(name), Lower(candidate));
        if (best.empty() || distance < bestDistance) {
            best = candidate;
            bestDistance = distance;
        }
    }
    return bestDistance <= std::max<std::size_t>(2, name.size() / 4) ? best : std::string();
}

ItemNames CheckFolderItems(const fs::path& folder) {
    const std::string where = "folder " + Quoted(folder) + ": ";
    ItemNames names;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        return names; // the packer says so
    fs::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = path.lexically_relative(folder).generic_string();
        const std::string joined = CheckedName(name, where);
        const fs::file_type type = it->symlink_status(ec).type();
        if (ec)
            break;
        if (const char* kind = SpecialKind(type))
            throw BuildError(where + "'" + name + "' is " + kind + "; only files, folders and " +
                             "links can be shipped");
        if (type == fs::file_type::symlink) {
            const fs::path target = fs::read_symlink(path, ec);
            if (ec)
                break;
            CheckLink(name, target.string(), where);
        }
        if (type != fs::file_type::directory)
            names.insert(joined);
    }
    if (ec)
        throw BuildError("cannot read folder " + Quoted(folder) + ": " + ec.message());
    return names;
}

namespace {

// The launcher offers no password before the item list is read (7zz -mhe=on).
bool ItemListEnciphered(const fs::path& archive) {
    namespace sevenzip = sfx::sevenzip;
    const std::string start = ReadFileRange(archive, 0, sevenzip::kSignatureHeaderSize);
    sevenzip::SignatureHeader signature;
    if (!sevenzip::ParseSignatureHeader(
            {reinterpret_cast<const std::uint8_t*>(start.data()), start.size()}, signature) ||
        signature.nextHeaderSize > (std::uint64_t(1) << 26))
        return false;
    const std::string bytes =
        ReadFileRange(archive, sevenzip::kSignatureHeaderSize + signature.nextHeaderOffset,
                      signature.nextHeaderSize);
    sfx::ArchiveIndex index;
    sevenzip::EncodedHeader encoded;
    if (sevenzip::ParseHeader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                              index, encoded) != sevenzip::HeaderKind::Encoded)
        return false;
    const auto& folders = encoded.layout.folders;
    return std::any_of(folders.begin(), folders.end(),
                       [](const sevenzip::FolderInfo& folder) { return folder.Enciphered(); });
}

} // namespace

ItemNames CheckArchiveItems(const fs::path& archive) {
    const std::string where = "archive " + Quoted(archive) + ": ";
    if (ItemListEnciphered(archive))
        throw BuildError(where + "its list of items is enciphered (7zz -mhe=on), and the launcher "
                                 "cannot read it; pack it without -mhe, or use --dir with "
                                 "--password-file");
    const auto reader = sfx::MakeArchiveReader(archive.string(), 0);
    // The launcher lists the items this way first and refuses what it cannot list.
    sfx::ArchiveIndex index;
    if (const sfx::ArchiveStatus status = reader->ReadIndex(index); !status.Ok())
        throw BuildError(
            where + "cannot list the items: " +
            (!status.text.empty() ? status.text
             : status.code == cptlib::HRESULT_INVALID_DATA
                 ? std::string("the headers are damaged or claim more than the launcher accepts")
                 : "read error " + std::to_string(static_cast<std::uint32_t>(status.code))));
    ItemNames names;
    // `targetKnown`: false where a link's target is enciphered data.
    const auto check = [&](const sfx::ArchiveItem& item, bool targetKnown) {
        const std::string joined = CheckedName(item.name, where);
        if (item.special)
            throw BuildError(where + "'" + item.name +
                             "' is a device, socket or FIFO; only files, folders and links can "
                             "be shipped");
        if (item.type == sfx::ArchiveItemType::Symlink && targetKnown)
            CheckLink(item.name, item.linkTarget, where);
        std::vector<std::string> parts;
        if (item.type == sfx::ArchiveItemType::HardLink && targetKnown &&
            !SplitItemName(item.linkTarget, parts))
            throw BuildError(where + "hard link '" + item.name + "' -> '" + item.linkTarget +
                             "' leaves the folder; the launcher refuses it");
        if (item.type != sfx::ArchiveItemType::Folder)
            names.insert(joined);
    };
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (const sfx::ArchiveStatus status = reader->NextItem(item, more); !status.Ok()) {
            // Enciphered items (no password here): the rest as the headers list them. Their
            // link targets are enciphered data; the launcher checks those as it extracts.
            if (status.code == sfx::kHrAbort && status.text.empty())
                break;
            throw BuildError(where + "cannot list the items" +
                             (status.text.empty() ? "" : ": " + status.text));
        }
        if (!more)
            return names;
        check(item, true);
    }
    // The rest as the headers list them.
    for (const sfx::ArchiveItem& item : index.items)
        check(item, !item.linkTarget.empty());
    return names;
}

void CheckConfiguration(std::string_view text, const fs::path& config, const ItemNames& items,
                        const std::string& source, const fs::path& stub, std::ostream& warnings) {
    const std::string where = "configuration " + Quoted(config) + ": ";
    sfx::SettingsStore store;
    store.Parse(text);

    const auto checkKeys = [&](const std::string& section,
                               std::span<const std::string_view> known) {
        for (const std::string& key : store.GetKeys(section)) {
            const bool found = std::any_of(known.begin(), known.end(), [&](std::string_view k) {
                return Lower(k) == Lower(key);
            });
            if (found)
                continue;
            const std::string nearest = NearestName(key, known);
            warnings << "sfxbuild: warning: " << where << "[" << section << "] unknown key '" << key
                     << "', which the launcher ignores"
                     << (nearest.empty() ? "" : " (did you mean " + nearest + "?)") << "\n";
        }
    };
    std::optional<std::set<std::uint16_t>> tables;
    std::vector<std::string> languageSections;
    for (const std::string& section : store.GetSectionNames()) {
        if (Lower(section) == "main") {
            checkKeys(section, kMainKeys);
        } else if (StartsWithNoCase(section, kLanguagePrefix)) {
            const std::string culture = section.substr(kLanguagePrefix.size());
            if (!tables)
                tables = StringTableLanguages(stub);
            const auto lcid = cptlib::Rfc1766ToLcid(culture);
            if (!lcid || *lcid == 0 ||
                (!tables->contains(*lcid) && !tables->contains(cptlib::PrimaryLanguageId(*lcid))))
                throw BuildError(where + "[" + section + "]: no string table knows the culture '" +
                                 culture + "'");
            checkKeys(section, kLanguageKeys);
            languageSections.push_back(section);
        } else {
            constexpr std::string_view kMain[] = {"main"};
            const std::string nearest = NearestName(section, kMain);
            warnings << "sfxbuild: warning: " << where << "unknown section [" << section
                     << "], which the launcher ignores"
                     << (nearest.empty() ? std::string(" (sections are main and LANG_<culture>)")
                                         : " (did you mean main?)")
                     << "\n";
        }
    }

    // Extract-only files start no setup.
    if (store.GetInt("main", "ExtractOnly", 0) != 0)
        return;
    const auto checkSetupFile = [&](const std::string& section, const std::string& key,
                                    std::string value) {
        constexpr std::string_view kExtractDir = "[ExtractDir]";
        if (value.starts_with(kExtractDir))
            value.erase(0, kExtractDir.size());
        // Absolute, or with placeholders only the customer's machine fills in.
        if (value.starts_with("/") || boost::regex_search(value, cptlib::PlaceholderPattern()))
            return;
        std::vector<std::string> parts;
        const bool named = SplitItemName(value, parts);
        if (named && (items.contains(Join(parts)) || items.contains("product/" + Join(parts))))
            return;
        throw BuildError(where + "[" + section + "] " + key + " '" + value + "' is not in " +
                         source + (named ? " (nor under product/)" : ""));
    };
    checkSetupFile("main", "SetupFileName", store.GetString("main", "SetupFileName", "setup.exe"));
    if (const std::string file64 = store.GetString("main", "SetupFileName64", ""); !file64.empty())
        checkSetupFile("main", "SetupFileName64", file64);
    for (const std::string& section : languageSections) {
        for (const std::string& key : store.GetKeys(section)) {
            const std::string value = store.GetString(section, key, "");
            if (Lower(key) == "setupfilename" ||
                (Lower(key) == "setupfilename64" && !value.empty()))
                checkSetupFile(section, "SetupFileName" + key.substr(13), value);
        }
    }
}

} // namespace sfxbuild
