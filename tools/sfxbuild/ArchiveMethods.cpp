#include "sfxbuild/ArchiveMethods.h"

#include "sfxbuild/Build.h"

#include "cptlib/platform/FileIo.h"
#include "format/ArchiveReader.h"
#include "format/SevenZipCoders.h"
#include "format/SevenZipFolder.h"
#include "format/SevenZipHeader.h"
#include "format/SevenZipMethods.h"

#include <algorithm>
#include <vector>

namespace sfxbuild {

namespace {

namespace sevenzip = sfx::sevenzip;

bool OwnReaderDecodes(const sevenzip::CoderInfo& coder) {
    switch (coder.method) {
    case sevenzip::kMethodCopy:
    case sevenzip::kMethodLzma:
    case sevenzip::kMethodLzma2:
    case sevenzip::kMethodBcj2:
    case sevenzip::kMethodAes:
        return true;
    default:
        return sevenzip::IsLzmaFilter(coder.method);
    }
}

bool OwnReaderDecodes(const sevenzip::FolderInfo& folder) {
    return std::all_of(folder.coders.begin(), folder.coders.end(),
                       [](const sevenzip::CoderInfo& c) { return OwnReaderDecodes(c); });
}

bool Has(const sevenzip::FolderInfo& folder, std::uint64_t method) {
    return std::any_of(folder.coders.begin(), folder.coders.end(),
                       [&](const sevenzip::CoderInfo& c) { return c.method == method; });
}

// The coders in the order the folder stores them: "PPMd+BCJ".
std::string Chain(const sevenzip::FolderInfo& folder) {
    std::string text;
    for (const sevenzip::CoderInfo& coder : folder.coders)
        text += (text.empty() ? "" : "+") + sevenzip::MethodName(coder.method);
    return text;
}

// Why the archive library cannot decode the folder, or empty when it may.
std::string LibraryRefusal(const sevenzip::FolderInfo& folder) {
    if (Has(folder, sevenzip::kMethodAes))
        return "the archive library the launcher needs for the other methods cannot decipher";
    for (const sevenzip::CoderInfo& coder : folder.coders) {
        switch (coder.method) {
        case sevenzip::kMethodCopy:
        case sevenzip::kMethodLzma:
        case sevenzip::kMethodLzma2:
        case sevenzip::kMethodBcj:
        case sevenzip::kMethodBcj2:
        case sevenzip::kMethodDeflate:
        case sevenzip::kMethodBzip2:
            break;
        case sevenzip::kMethodPpmd:
            // The library's converter loses bytes behind PPMd.
            if (Has(folder, sevenzip::kMethodBcj) || Has(folder, sevenzip::kMethodBcj2))
                return "the archive library fails on PPMd behind a branch converter";
            break;
        default:
            // The other filters only behind LZMA, where liblzma runs them for the library.
            if (sevenzip::IsLzmaFilter(coder.method) &&
                (Has(folder, sevenzip::kMethodLzma) || Has(folder, sevenzip::kMethodLzma2)))
                break;
            return "neither the launcher nor its archive library has " +
                   sevenzip::MethodName(coder.method);
        }
    }
    return {};
}

struct Folders {
    bool known = false;
    std::vector<sevenzip::FolderInfo> folders;
};

// The archive's folders from its headers, a packed header decoded with the own coders.
Folders ReadFolders(const std::filesystem::path& path, std::uint64_t offset) {
    Folders result;
    cptlib::platform::FileDescriptor file;
    std::uint64_t size = 0;
    if (cptlib::Failed(cptlib::platform::OpenRegularFileForRead(file, path)) ||
        cptlib::Failed(cptlib::platform::QueryFileSize(file, size)) || size < offset)
        return result;
    const std::string start = ReadFileRange(path, offset, sevenzip::kSignatureHeaderSize);
    sevenzip::SignatureHeader signature;
    if (!sevenzip::ParseSignatureHeader(
            {reinterpret_cast<const std::uint8_t*>(start.data()), start.size()}, signature) ||
        sevenzip::PlaceOfNextHeader(signature, size - offset - start.size()) !=
            sevenzip::NextHeaderPlace::Within)
        return result;
    std::string bytes =
        ReadFileRange(path, offset + sevenzip::kSignatureHeaderSize + signature.nextHeaderOffset,
                      signature.nextHeaderSize);
    const std::uint64_t budget = sevenzip::BookkeepingBudget(size - offset);
    sfx::ArchiveIndex index;
    sevenzip::EncodedHeader encoded;
    sevenzip::ArchiveLayout layout;
    auto kind =
        sevenzip::ParseHeader({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
                              index, encoded, &layout, budget);
    if (kind == sevenzip::HeaderKind::Encoded) {
        const auto& folders = encoded.layout.folders;
        if (folders.empty() || !OwnReaderDecodes(folders.front()) || folders.front().Enciphered() ||
            encoded.unpackSize > sevenzip::EncodedHeaderCap(size - offset))
            return result;
        sevenzip::AesKeyCache keys;
        std::unique_ptr<sevenzip::ByteStream> stream;
        if (!sevenzip::OpenFolder(file, offset + sevenzip::kSignatureHeaderSize, encoded.layout, 0,
                                  u"", keys, stream)
                 .Ok())
            return result;
        bytes.assign(static_cast<std::size_t>(encoded.unpackSize), '\0');
        std::size_t filled = 0;
        while (filled < bytes.size()) {
            std::size_t done = 0;
            if (!stream
                     ->Read(reinterpret_cast<std::uint8_t*>(bytes.data()) + filled,
                            bytes.size() - filled, done)
                     .Ok() ||
                done == 0)
                return result;
            filled += done;
        }
        index = {};
        kind = sevenzip::ParseHeader(
            {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, index, encoded,
            &layout, budget);
    }
    if (kind != sevenzip::HeaderKind::Plain)
        return result;
    result.known = true;
    result.folders = std::move(layout.streams.folders);
    return result;
}

// Every item decoded, as `verify` and the launcher decode it.
bool DecodesWhole(const std::filesystem::path& archive) {
    const auto reader = sfx::MakeArchiveReader(archive.string(), 0);
    sfx::ArchiveIndex index;
    if (!reader->ReadIndex(index).Ok())
        return false;
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (!reader->NextItem(item, more).Ok())
            return false;
        if (!more)
            return true;
        for (;;) {
            std::span<const std::uint8_t> block;
            if (!reader->ReadBlock(block).Ok())
                return false;
            if (block.empty())
                break;
        }
    }
}

} // namespace

std::optional<std::string> UndecodableMethod(const std::filesystem::path& file,
                                             std::uint64_t offset) {
    const Folders read = ReadFolders(file, offset);
    if (!read.known || std::all_of(read.folders.begin(), read.folders.end(),
                                   [](const auto& f) { return OwnReaderDecodes(f); }))
        return std::nullopt;
    for (const sevenzip::FolderInfo& folder : read.folders)
        if (!LibraryRefusal(folder).empty())
            return Chain(folder);
    // Left to the library as a whole: its own methods are what it may fail on.
    for (const sevenzip::FolderInfo& folder : read.folders)
        if (!OwnReaderDecodes(folder))
            return Chain(folder);
    return std::nullopt;
}

void CheckArchiveMethods(const std::filesystem::path& archive) {
    const Folders read = ReadFolders(archive, 0);
    // Headers this cannot read are judged by the item checks that follow.
    if (!read.known || std::all_of(read.folders.begin(), read.folders.end(),
                                   [](const auto& f) { return OwnReaderDecodes(f); }))
        return;
    const std::string where = "archive " + Quoted(archive) + ": ";
    const std::string advice = "; pack it with LZMA2 (7zz -m0=LZMA2) or with --dir";
    for (const sevenzip::FolderInfo& folder : read.folders) {
        const std::string refusal = LibraryRefusal(folder);
        if (!refusal.empty())
            throw BuildError(where + "the launcher cannot decode the method " + Chain(folder) +
                             " (" + refusal + ")" + advice);
    }
    if (!DecodesWhole(archive)) {
        const std::optional<std::string> method = UndecodableMethod(archive, 0);
        throw BuildError(where + "the launcher cannot decode the method " +
                         method.value_or("of its folders") +
                         " (the archive library it needs for it fails on this archive)" + advice);
    }
}

} // namespace sfxbuild
