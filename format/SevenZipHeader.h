#pragma once
// The 7z archive's own headers, read without the archive library: they give the item list and
// the total unpacked size without decoding any item data (the library decodes a folder up to
// each symbolic link just to list it).

#include "format/ArchiveReader.h"
#include "format/SevenZipSignature.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sfx::sevenzip {

// Method ids as stored, read as a big-endian number.
enum MethodId : std::uint64_t {
    kMethodCopy = 0x00,
    kMethodLzma2 = 0x21,
    kMethodLzma = 0x030101,
    kMethodBcj = 0x03030103,
    kMethodBcj2 = 0x0303011B,
    kMethodAes = 0x06F10701,
};

struct CoderInfo {
    std::uint64_t method = 0;
    std::vector<std::uint8_t> properties;
    std::uint32_t inStreams = 1;
    std::uint32_t outStreams = 1;
};

// An out stream of one coder feeding an in stream of another; streams are numbered across
// the folder's coders in order.
struct BindPair {
    std::uint32_t in = 0;
    std::uint32_t out = 0;
};

struct FolderInfo {
    std::vector<CoderInfo> coders;
    std::vector<BindPair> bindPairs;
    std::vector<std::uint32_t> packedStreams; // the in stream each packed stream feeds
    std::vector<std::uint64_t> unpackSizes;   // one per out stream
    std::uint32_t mainOut = 0;                // the out stream that is the folder's data
    std::optional<std::uint32_t> crc;
    std::size_t firstPackStream = 0; // index of its first packed stream in the archive
    std::size_t streams = 1;         // items' streams it holds
    std::size_t firstStream = 0;     // index of its first item stream

    std::uint64_t UnpackSize() const { return unpackSizes[mainOut]; }
    bool Enciphered() const;
};

// Where packed data lies and how it unpacks into the items' streams.
struct StreamLayout {
    std::uint64_t packPosition = 0; // counted from the end of the signature header
    std::vector<std::uint64_t> packSizes;
    std::vector<std::uint64_t> packOffsets; // of each packed stream, when read from a header
    std::vector<FolderInfo> folders;
    std::vector<std::uint64_t> streamSizes;
    std::vector<std::optional<std::uint32_t>> streamCrcs;

    // Offset of a packed stream from the end of the signature header.
    std::uint64_t PackOffset(std::size_t packStream) const;
};

// What decoding needs beyond the item list: the stream of every listed item (none for
// folders and empty files), in the order of ArchiveIndex::items.
struct ArchiveLayout {
    StreamLayout streams;
    std::vector<std::optional<std::size_t>> itemStreams;
};

// A header that is itself packed into the archive.
struct EncodedHeader {
    std::uint64_t packPosition = 0;        // counted from the end of the signature header
    std::uint64_t packSize = 0;            // all its packed streams
    std::uint64_t unpackSize = 0;          // what it claims to decode to
    std::vector<std::uint8_t> streamsInfo; // how it is packed, with the pack position set to 0
    StreamLayout layout;                   // the same, as positions in the archive
};

// The memory the headers of an archive of `archiveSize` bytes may cost in all: the decoded
// header and every list read from it.
std::uint64_t BookkeepingBudget(std::uint64_t archiveSize);
// What a packed header may claim to decode to in an archive of `archiveSize` bytes; above it the
// archive is damaged, before anything is decoded.
std::uint64_t EncodedHeaderCap(std::uint64_t archiveSize);

// OverBudget: the lists the header claims would take more memory than `budget` allows; no
// other reader should believe it either.
enum class HeaderKind { Plain, Encoded, Invalid, OverBudget };

// Reads the next header: a plain one fills `index`, an encoded one `encoded` (its decoded bytes
// are a plain header). Invalid also for valid forms this reader does not handle (headers with
// external data).
// With `layout`, a plain header also fills it. `budget` is in bytes (0: the largest allowed).
HeaderKind ParseHeader(std::span<const std::uint8_t> bytes, ArchiveIndex& index,
                       EncodedHeader& encoded, ArchiveLayout* layout = nullptr,
                       std::uint64_t budget = 0);

// A 7z archive whose only file is the decoded header, for the library to decode with whatever
// coders the header names.
std::vector<std::uint8_t> MakeHeaderArchive(const EncodedHeader& encoded,
                                            std::span<const std::uint8_t> packed);

} // namespace sfx::sevenzip
