#include "sfxbuild/Check.h"

#include "sfxbuild/Build.h"

#include "cptlib/Utf.h"
#include "cptlib/localization/CultureSelection.h"
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

// One item's name, checked as the launcher checks it; the joined name, or nullopt after adding
// the problem.
std::optional<std::string> CheckedName(const std::string& name, const std::string& where,
                                       Problems& problems) {
    std::vector<std::string> parts;
    if (!cptlib::IsValidUtf8(name)) {
        problems.Add(where + "the name '" + name + "' is not valid UTF-8");
        return std::nullopt;
    }
    if (!sfx::SplitItemName(name, parts)) {
        problems.Add(where + "item '" + name +
                     "' has a name the launcher refuses (absolute, \"..\" or empty)");
        return std::nullopt;
    }
    return Join(parts);
}

bool LinkLeaves(const std::string& name, const std::string& target) {
    std::vector<std::string> parts;
    sfx::SplitItemName(name, parts);
    return !sfx::LinkStaysInside(parts, target);
}

// Scripts and ELF programs: what a setup that should run looks like.
bool LooksLikeProgram(const fs::path& path) {
    const std::string head = ReadFileRange(path, 0, 4);
    return head.starts_with("#!") || head == "\x7F"
                                             "ELF";
}

bool NameLooksLikeProgram(std::string_view name) {
    const std::string_view base = name.substr(name.rfind('/') + 1);
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos || dot == 0)
        return true;
    const std::string extension = Lower(base.substr(dot + 1));
    return extension == "sh" || extension == "run" || extension == "bin" || extension == "py" ||
           extension == "pl" || extension == "appimage";
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

ItemNames CheckFolderItems(const fs::path& folder, Problems& problems, bool follow,
                           std::vector<std::string>* followed) {
    const std::string where = "folder " + Quoted(folder) + ": ";
    ItemNames names;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        problems.Add("folder " + Quoted(folder) + " does not exist or is not a folder");
        return names;
    }
    fs::recursive_directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = path.lexically_relative(folder).generic_string();
        const std::optional<std::string> joined = CheckedName(name, where, problems);
        const fs::file_type type = it->symlink_status(ec).type();
        if (ec)
            break;
        if (const char* kind = SpecialKind(type)) {
            problems.Add(where + "'" + name + "' is " + kind +
                         "; only files, folders and links can be shipped");
            continue;
        }
        if (type == fs::file_type::symlink) {
            const fs::path target = fs::read_symlink(path, ec);
            if (ec)
                break;
            if (LinkLeaves(name, target.string())) {
                if (!follow) {
                    problems.Add(where + "link '" + name + "' -> '" + target.string() +
                                 "' leaves the folder; the launcher refuses it (--follow takes "
                                 "it as what it points at)");
                    continue;
                }
                std::error_code statError;
                const fs::file_status pointed = fs::status(path, statError);
                if (statError || !fs::exists(pointed)) {
                    problems.Add(where + "link '" + name + "' -> '" + target.string() +
                                 "' points at nothing");
                    continue;
                }
                if (const char* kind = SpecialKind(pointed.type())) {
                    problems.Add(where + "link '" + name + "' -> '" + target.string() +
                                 "' points at " + kind + "; only files and folders can be shipped");
                    continue;
                }
                if (followed)
                    followed->push_back(name);
            }
        }
        if (type == fs::file_type::directory || !joined)
            continue;
        // The item as the launcher will find it, links followed.
        ItemFacts facts;
        std::error_code statError;
        const fs::file_status status = fs::status(path, statError);
        if (!statError && fs::is_regular_file(status)) {
            constexpr auto kExec =
                fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
            facts.modeKnown = true;
            facts.executable = (status.permissions() & kExec) != fs::perms::none;
            facts.looksLikeProgram = LooksLikeProgram(path);
        }
        names[*joined] = facts;
    }
    if (ec)
        problems.Add("cannot read folder " + Quoted(folder) + ": " + ec.message());
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

ItemNames CheckArchiveItems(const fs::path& archive, Problems& problems, bool* listed) {
    const std::string where = "archive " + Quoted(archive) + ": ";
    ItemNames names;
    if (listed)
        *listed = false;
    if (ItemListEnciphered(archive)) {
        problems.Add(where + "its list of items is enciphered (7zz -mhe=on), and the launcher "
                             "cannot read it; pack it without -mhe, or use --dir with "
                             "--password-file");
        return names;
    }
    const auto reader = sfx::MakeArchiveReader(archive.string(), 0);
    // The launcher lists the items this way first and refuses what it cannot list.
    sfx::ArchiveIndex index;
    if (const sfx::ArchiveStatus status = reader->ReadIndex(index); !status.Ok()) {
        problems.Add(
            where + "cannot list the items: " +
            (!status.text.empty() ? status.text
             : status.code == cptlib::HRESULT_INVALID_DATA
                 ? std::string("the headers are damaged or claim more than the launcher accepts")
                 : "read error " + std::to_string(static_cast<std::uint32_t>(status.code))));
        return names;
    }
    if (listed)
        *listed = true;
    // `targetKnown`: false where a link's target is enciphered data.
    const auto check = [&](const sfx::ArchiveItem& item, bool targetKnown) {
        const std::optional<std::string> joined = CheckedName(item.name, where, problems);
        if (item.special) {
            problems.Add(where + "'" + item.name +
                         "' is a device, socket or FIFO; only files, folders and links can "
                         "be shipped");
            return;
        }
        if (item.type == sfx::ArchiveItemType::Symlink && targetKnown &&
            LinkLeaves(item.name, item.linkTarget)) {
            problems.Add(where + "link '" + item.name + "' -> '" + item.linkTarget +
                         "' leaves the folder; the launcher refuses it");
            return;
        }
        std::vector<std::string> parts;
        if (item.type == sfx::ArchiveItemType::HardLink && targetKnown &&
            !SplitItemName(item.linkTarget, parts)) {
            problems.Add(where + "hard link '" + item.name + "' -> '" + item.linkTarget +
                         "' leaves the folder; the launcher refuses it");
            return;
        }
        if (item.type != sfx::ArchiveItemType::Folder && joined)
            names[*joined] = {item.hasMode && item.type == sfx::ArchiveItemType::File,
                              item.hasMode && (item.mode & 0111) != 0,
                              NameLooksLikeProgram(item.name)};
    };
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (const sfx::ArchiveStatus status = reader->NextItem(item, more); !status.Ok()) {
            // Enciphered items (no password here): the rest as the headers list them. Their
            // link targets are enciphered data; the launcher checks those as it extracts.
            if (status.code == sfx::kHrAbort && status.text.empty())
                break;
            problems.Add(where + "cannot list the items" +
                         (status.text.empty() ? "" : ": " + status.text));
            return names;
        }
        if (!more)
            return names;
        check(item, true);
    }
    // The rest as the headers list them.
    for (const sfx::ArchiveItem& item : index.items)
        if (!names.contains(item.name))
            check(item, !item.linkTarget.empty());
    return names;
}

namespace {

// The cultures the launcher's selection offers by name: those it shows, the tags it maps to
// them, and the script names of Chinese.
std::vector<std::string_view> SelectionCultures() {
    std::vector<std::string_view> cultures;
    for (const auto& row : cptlib::CultureDisplayNames)
        cultures.emplace_back(row.culture);
    for (const auto& row : cptlib::CultureAliases)
        cultures.emplace_back(row.tag);
    cultures.emplace_back("zh-Hant");
    cultures.emplace_back("zh-Hans");
    return cultures;
}

// Whether a value the launcher reads as a number is written as one.
bool IsNumber(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

constexpr std::string_view kMainNumbers[] = {
    "ShowUnzipLanguageDlg",       "ExtractOnly", "SfxProgressVisible",  "SfxProgressPretty",
    "ForwardResourceDataFromSFX", "SetupShow",   "ForwardOwnParameters"};
constexpr std::string_view kLanguageNumbers[] = {"SetupShow"};

// The section names as the text writes them, also those without entries.
std::vector<std::string> RawSectionNames(std::string_view text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        if (line.starts_with("\xEF\xBB\xBF"))
            line.remove_prefix(3);
        const auto close = line.find(']');
        if (line.starts_with("[") && close != std::string_view::npos)
            names.emplace_back(line.substr(1, close - 1));
    }
    return names;
}

} // namespace

void CheckConfiguration(std::string_view text, const fs::path& config, const ItemNames& items,
                        const std::string& source, const fs::path& stub, std::ostream& warnings,
                        Problems& problems, bool itemsKnown) {
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
            const std::vector<std::string_view> known = SelectionCultures();
            const bool selectionKnows =
                std::any_of(known.begin(), known.end(),
                            [&](std::string_view c) { return Lower(c) == Lower(culture); });
            const bool tableKnows =
                lcid && *lcid != 0 &&
                (tables->contains(*lcid) || tables->contains(cptlib::PrimaryLanguageId(*lcid)));
            if (!selectionKnows && !tableKnows) {
                std::string dashed = culture;
                std::replace(dashed.begin(), dashed.end(), '_', '-');
                std::string nearest =
                    std::any_of(known.begin(), known.end(),
                                [&](std::string_view c) { return Lower(c) == Lower(dashed); })
                        ? dashed
                        : NearestName(culture, known);
                problems.Add(where + "[" + section + "]: neither the launcher's language choice " +
                             "nor a string table knows the culture '" + culture + "'" +
                             (nearest.empty() ? "" : " (did you mean " + nearest + "?)"));
            }
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

    // A section without entries does not exist for the launcher.
    const std::vector<std::string> present = store.GetSectionNames();
    for (const std::string& raw : RawSectionNames(text)) {
        const bool seen = std::any_of(present.begin(), present.end(),
                                      [&](const std::string& p) { return Lower(p) == Lower(raw); });
        if (!seen && StartsWithNoCase(raw, kLanguagePrefix))
            warnings << "sfxbuild: warning: " << where << "[" << raw
                     << "] has no entries, so the launcher does not see it and does not offer "
                        "its culture; give it at least one key (e.g. ProductName=...)\n";
    }
    const auto checkNumbers = [&](const std::string& section,
                                  std::span<const std::string_view> numbers) {
        for (const std::string& key : store.GetKeys(section)) {
            const bool number =
                std::any_of(numbers.begin(), numbers.end(),
                            [&](std::string_view n) { return Lower(n) == Lower(key); });
            const std::string value = store.GetString(section, key, "");
            if (number && !value.empty() && !IsNumber(value))
                warnings << "sfxbuild: warning: " << where << "[" << section << "] " << key << "='"
                         << value << "' is not a number; the launcher reads it as "
                         << store.GetInt(section, key, 0) << "\n";
        }
    };
    for (const std::string& section : present) {
        if (Lower(section) == "main")
            checkNumbers(section, kMainNumbers);
        else if (StartsWithNoCase(section, kLanguagePrefix))
            checkNumbers(section, kLanguageNumbers);
    }

    // Extract-only files start no setup.
    if (store.GetInt("main", "ExtractOnly", 0) != 0 || !itemsKnown)
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
        auto found = items.end();
        if (named) {
            found = items.find(Join(parts));
            if (found == items.end())
                found = items.find("product/" + Join(parts));
        }
        if (found == items.end()) {
            problems.Add(where + "[" + section + "] " + key + " '" + value + "' is not in " +
                         source + (named ? " (nor under product/)" : ""));
            return;
        }
        // The launcher runs programs and hands any other file to the desktop: a script that
        // lost its execute bit would open in an editor, or not at all.
        const ItemFacts& facts = found->second;
        const std::string lower = Lower(value);
        if (facts.modeKnown && !facts.executable && facts.looksLikeProgram &&
            !lower.ends_with(".exe") && !lower.ends_with(".msi"))
            problems.Add(where + "[" + section + "] " + key + " '" + value +
                         "' is a program without an execute bit; the launcher would hand it to "
                         "the desktop instead of running it (chmod +x it)");
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
