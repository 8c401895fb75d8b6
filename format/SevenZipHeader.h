#pragma once
// The 7z archive's own headers, read without the archive library: they give the item list and
// the total unpacked size without decoding any item data (the library decodes a folder up to
// each symbolic link just to list it).

#include "format/ArchiveReader.h"
#include "format/SevenZipSignature.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sfx::sevenzip {

// A header that is itself packed into the archive.
struct EncodedHeader {
    std::uint64_t packPosition = 0;        // counted from the end of the signature header
    std::uint64_t packSize = 0;            // all its packed streams
    std::vector<std::uint8_t> streamsInfo; // how it is packed, with the pack position set to 0
    bool enciphered = false;               // packed with 7zAES: needs the password
};

enum class HeaderKind { Plain, Encoded, Invalid };

// Reads the next header: a plain one fills `index`, an encoded one `encoded` (its decoded bytes
// are a plain header). Invalid also for valid forms this reader does not handle (headers with
// external data).
HeaderKind ParseHeader(std::span<const std::uint8_t> bytes, ArchiveIndex& index,
                       EncodedHeader& encoded);

// A 7z archive whose only file is the decoded header, for the library to decode with whatever
// coders the header names.
std::vector<std::uint8_t> MakeHeaderArchive(const EncodedHeader& encoded,
                                            std::span<const std::uint8_t> packed);

} // namespace sfx::sevenzip
