#include "sfxbuild/ArchiveMethods.h"
#include "sfxbuild/Build.h"
#include "sfxbuild/Inspect.h"

#include "format/ArchiveReader.h"
#include "format/ConfigBlock.h"
#include "format/FileDigest.h"
#include "format/ImageEnd.h"
#include "format/ItemName.h"
#include "format/Payload.h"
#include "format/SevenZipSignature.h"
#include "format/SizeSlot.h"

#include <algorithm>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <map>
#include <optional>

namespace sfxbuild {

namespace {

// The launcher reads no more than this of its headers for the self-check.
constexpr std::uint64_t kHeaderLimit = 0x100000;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Damage, as opposed to a file that cannot be read.
bool IsDamage(const sfx::ArchiveStatus& status) {
    return !status.text.empty() || status.code == cptlib::HRESULT_INVALID_DATA ||
           status.code == sfx::HRESULT_CRC_ERROR || status.code == sfx::kHrNotImpl;
}

std::string Reason(const sfx::ArchiveStatus& status) {
    if (!status.text.empty())
        return status.text;
    if (status.code == sfx::HRESULT_CRC_ERROR)
        return "its check sum does not match";
    if (status.code == sfx::kHrNotImpl)
        return "it uses a method the launcher cannot decode";
    if (status.code == cptlib::HRESULT_INVALID_DATA)
        return "its data cannot be decoded";
    return "read error " + std::to_string(static_cast<std::uint32_t>(status.code));
}

// Configuration text holds no control characters but tab and line breaks; a damaged cipher
// block deciphers to 16 bytes of noise.
bool LooksLikeText(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F;
    });
}

// The archive's offset in the launcher file; throws BuildError when there is no payload.
std::uint64_t ArchiveOffset(const std::filesystem::path& file) {
    sfx::PayloadLayout layout;
    if (cptlib::Failed(sfx::LocatePayload(file, layout)))
        throw BuildError(Quoted(file) + " is not a launcher file: it has no configuration block");
    return layout.archiveOffset;
}

std::string ModeText(const sfx::ArchiveItem& item) {
    std::string text = item.type == sfx::ArchiveItemType::Folder     ? "d"
                       : item.type == sfx::ArchiveItemType::Symlink  ? "l"
                       : item.type == sfx::ArchiveItemType::HardLink ? "h"
                                                                     : "-";
    if (!item.hasMode)
        return text + "?????????";
    const char* letters = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        text += (item.mode & (0400u >> bit)) != 0 ? letters[bit] : '-';
    return text;
}

std::string TimeText(const std::optional<std::int64_t>& seconds) {
    if (!seconds)
        return "-------------------";
    const std::time_t time = static_cast<std::time_t>(*seconds);
    const std::tm* utc = std::gmtime(&time);
    if (utc == nullptr)
        return "-------------------";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", utc);
    return text;
}

} // namespace

void List(const std::filesystem::path& file, std::ostream& out) {
    const auto reader = sfx::MakeArchiveReader(file.string(), ArchiveOffset(file));
    sfx::ArchiveIndex index;
    if (const sfx::ArchiveStatus status = reader->ReadIndex(index); !status.Ok())
        throw BuildError("cannot list the items of " + Quoted(file) + ": " + Reason(status));
    // Symbolic link targets are item data: read them where the list holds links.
    std::map<std::string, std::string> targets;
    if (std::any_of(index.items.begin(), index.items.end(), [](const sfx::ArchiveItem& item) {
            return item.type == sfx::ArchiveItemType::Symlink && item.linkTarget.empty();
        })) {
        const auto data = sfx::MakeArchiveReader(file.string(), ArchiveOffset(file));
        sfx::ArchiveIndex again;
        if (data->ReadIndex(again).Ok()) {
            sfx::ArchiveItem item;
            bool more = false;
            while (data->NextItem(item, more).Ok() && more)
                if (item.type == sfx::ArchiveItemType::Symlink)
                    targets[item.name] = item.linkTarget;
        }
    }
    for (sfx::ArchiveItem item : index.items) {
        if (item.linkTarget.empty() && targets.contains(item.name))
            item.linkTarget = targets[item.name];
        out << ModeText(item) << " " << std::setw(12) << item.size << " " << TimeText(item.mtime)
            << " " << item.name
            << (item.linkTarget.empty() ? std::string() : " -> " + item.linkTarget) << "\n";
    }
}

std::optional<bool> DigestMatches(const std::filesystem::path& file, std::string_view front,
                                  std::uint64_t covered) {
    const auto layout = sfx::DigestLayoutOf(AsBytes(front), covered);
    if (!layout || layout->slotOffset + sfx::kDigestSize > front.size())
        return std::nullopt;
    const auto expected =
        sfx::DecodeDigestSlot(AsBytes(front.substr(layout->slotOffset, sfx::kDigestSize)));
    if (!expected)
        return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    const auto digest = sfx::ComputeDigest(
        *layout, [&](std::uint64_t offset, std::uint8_t* out, std::size_t length) {
            in.seekg(static_cast<std::streamoff>(offset));
            in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(length));
            return in.gcount() == static_cast<std::streamsize>(length);
        });
    return digest && *digest == *expected;
}

VerifyResult Verify(const std::filesystem::path& file, std::ostream& out, std::string& problem,
                    const std::optional<std::string>& password) {
    const auto damaged = [&](const std::string& what) {
        problem = Quoted(file) + ": " + what;
        return VerifyResult::Damaged;
    };
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        problem = "cannot read " + Quoted(file) + ": " + ec.message();
        return VerifyResult::ReadError;
    }
    const std::uint64_t frontSize = std::min(size, sfx::kMarkerSearchLimit);
    const std::string front = ReadFileRange(file, 0, frontSize);
    if (front.size() != frontSize) {
        problem = "cannot read " + Quoted(file);
        return VerifyResult::ReadError;
    }

    // The launcher's self-check.
    using Rule = sfx::ExpectedFileSize::Rule;
    const sfx::ExpectedFileSize rule = sfx::ExpectedFileSizeRule(
        AsBytes(std::string_view(front).substr(0, std::min(frontSize, kHeaderLimit))));
    // Not damage: no program at all, as `info` and `list` say.
    if (rule.rule == Rule::NotProgram) {
        problem = Quoted(file) + " is not a program file (PE or ELF)";
        return VerifyResult::ReadError;
    }
    if (rule.rule == Rule::BadPeSignature)
        return damaged("not a program file (PE or ELF)");
    std::optional<std::uint64_t> expected;
    if (rule.rule == Rule::CertificateTable)
        expected = rule.size;
    else
        expected = sfx::ReadSizeSlot(file);
    if (!expected)
        return damaged("the size slot _VRN_VERIFY is missing");
    if (*expected != size)
        return damaged("the file is " + std::to_string(size) + " bytes, but was built with " +
                       std::to_string(*expected) +
                       (size < *expected ? " (cut short)" : " (extended)"));
    // Every byte but the stamped slots, when the file carries a digest.
    const std::optional<std::uint64_t> covered =
        rule.rule == Rule::CertificateTable ? sfx::ReadSizeSlot(file) : expected;
    const std::optional<bool> digestOk =
        covered && *covered <= size ? DigestMatches(file, front, *covered) : std::nullopt;

    // The configuration.
    const auto layout = sfx::FindPayload(AsBytes(front));
    if (!layout)
        return damaged("the configuration block's markers are missing");
    std::string text;
    if (cptlib::Failed(sfx::ReadConfigurationBlock(file, text)) || !LooksLikeText(text))
        return damaged("the configuration block is damaged");

    // The archive, every item decoded and checked.
    const auto claimed = sfx::sevenzip::ArchiveSize(
        AsBytes(ReadFileRange(file, layout->archiveOffset, sfx::sevenzip::kSignatureHeaderSize)));
    if (!claimed)
        return damaged("the archive's signature header is damaged");
    if (layout->archiveOffset + *claimed > size)
        return damaged("the archive is cut short");
    sfx::PasswordSource source;
    if (password)
        source = [&](std::string& entered) {
            entered = *password;
            return cptlib::kHrOk;
        };
    const auto reader = sfx::MakeArchiveReader(file.string(), layout->archiveOffset, source);
    sfx::ArchiveIndex index;
    const auto failed = [&](const sfx::ArchiveStatus& status, const std::string& what) {
        if (IsDamage(status) || digestOk == false) {
            const auto method = UndecodableMethod(file, layout->archiveOffset);
            return damaged(
                what + ": " + Reason(status) +
                (method ? " (the launcher cannot decode its method " + *method + ")" : ""));
        }
        problem = "cannot read " + Quoted(file) + ": " + Reason(status);
        return VerifyResult::ReadError;
    };
    if (const sfx::ArchiveStatus status = reader->ReadIndex(index); !status.Ok())
        return failed(status, "the archive's item list is damaged");
    std::size_t items = 0;
    std::uint64_t bytes = 0;
    std::string previous;
    // Enciphered items that could not be decoded without a password.
    std::size_t enciphered = 0;
    const auto notDecoded = [&](std::size_t from) {
        enciphered = 0;
        for (std::size_t i = from; i < index.items.size(); ++i)
            enciphered += index.items[i].type == sfx::ArchiveItemType::File;
    };
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (const sfx::ArchiveStatus status = reader->NextItem(item, more); !status.Ok()) {
            if (!password && status.code == sfx::kHrAbort && status.text.empty()) {
                notDecoded(items);
                break;
            }
            return failed(status, previous.empty()
                                      ? "the first item is damaged"
                                      : "the item after '" + previous + "' is damaged");
        }
        if (!more)
            break;
        std::vector<std::string> parts;
        if (!sfx::SplitItemName(item.name, parts))
            return damaged("item '" + item.name + "' has a name the launcher refuses");
        if (item.type == sfx::ArchiveItemType::Symlink &&
            !sfx::LinkStaysInside(parts, item.linkTarget))
            return damaged("link '" + item.name + "' leaves the folder");
        bool aborted = false;
        for (;;) {
            std::span<const std::uint8_t> block;
            if (const sfx::ArchiveStatus status = reader->ReadBlock(block); !status.Ok()) {
                if (!password && status.code == sfx::kHrAbort && status.text.empty()) {
                    aborted = true;
                    break;
                }
                if (status.code == sfx::HRESULT_WRONG_PASSWORD && digestOk != false) {
                    problem = Quoted(file) +
                              ": the password of --password-file does not "
                              "decipher item '" +
                              item.name + "'";
                    return VerifyResult::ReadError;
                }
                return failed(status, "item '" + item.name + "' is damaged");
            }
            if (block.empty())
                break;
            bytes += block.size();
        }
        if (aborted) {
            notDecoded(items);
            break;
        }
        previous = item.name;
        ++items;
    }
    if (enciphered == 0 && items != index.items.size())
        return damaged("the archive lists " + std::to_string(index.items.size()) +
                       " items but holds " + std::to_string(items));
    if (digestOk == false)
        return damaged("the file's digest does not match: bytes changed since it was built (the "
                       "program image, configuration, archive or data block)");
    out << Quoted(file) << ": intact (" << items << " items, " << bytes
        << " bytes decoded and checked";
    if (enciphered != 0)
        out << "; " << enciphered << " enciphered items not decoded without --password-file";
    out << (digestOk ? "; digest of every byte matches"
                     : "; no digest: built before digests, the program image is not checked")
        << ")\n";
    return VerifyResult::Intact;
}

} // namespace sfxbuild
