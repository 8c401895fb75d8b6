#include "format/SevenZipSignature.h"

#include "format/LittleEndian.h"

#include <boost/crc.hpp>

#include <algorithm>
#include <limits>

namespace sfx::sevenzip {

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    boost::crc_32_type crc;
    crc.process_bytes(bytes.data(), bytes.size());
    return crc.checksum();
}

bool ParseSignatureHeader(std::span<const std::uint8_t> bytes, SignatureHeader& header) {
    if (bytes.size() < kSignatureHeaderSize ||
        !std::equal(std::begin(kSignature), std::end(kSignature), bytes.begin()))
        return false;
    // The check sum covers the next header's offset, size and check sum.
    if (Crc32(bytes.subspan(12, 20)) != *ReadLittleEndian<std::uint32_t>(bytes, 8))
        return false;
    header.majorVersion = bytes[6];
    header.nextHeaderOffset = *ReadLittleEndian<std::uint64_t>(bytes, 12);
    header.nextHeaderSize = *ReadLittleEndian<std::uint64_t>(bytes, 20);
    header.nextHeaderCrc = *ReadLittleEndian<std::uint32_t>(bytes, 28);
    return true;
}

NextHeaderPlace PlaceOfNextHeader(const SignatureHeader& header, std::uint64_t behind) {
    // Headers larger than this are damage, not archives we could have built.
    constexpr std::uint64_t kMaxHeaderSize = 256u << 20;
    if (header.nextHeaderSize == 0 && header.nextHeaderOffset == 0 && header.nextHeaderCrc == 0)
        return NextHeaderPlace::None;
    if (header.nextHeaderSize == 0 || header.nextHeaderSize > kMaxHeaderSize ||
        header.nextHeaderSize > behind || header.nextHeaderOffset > behind - header.nextHeaderSize)
        return NextHeaderPlace::Damaged;
    return NextHeaderPlace::Within;
}

std::optional<std::uint64_t> ArchiveSize(std::span<const std::uint8_t> header) {
    SignatureHeader parsed;
    if (!ParseSignatureHeader(header, parsed) || parsed.majorVersion != 0)
        return std::nullopt;
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    if (parsed.nextHeaderOffset > kMax - kSignatureHeaderSize ||
        parsed.nextHeaderSize > kMax - kSignatureHeaderSize - parsed.nextHeaderOffset)
        return std::nullopt;
    return kSignatureHeaderSize + parsed.nextHeaderOffset + parsed.nextHeaderSize;
}

} // namespace sfx::sevenzip
