#pragma once
// The 7z archive's signature header, the 32 bytes it begins with: signature, version, and the
// place of the next header, guarded by a check sum. It also gives the archive's length.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sfx::sevenzip {

constexpr std::size_t kSignatureHeaderSize = 32;
inline constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

struct SignatureHeader {
    std::uint8_t majorVersion = 0;
    std::uint64_t nextHeaderOffset = 0; // counted from the end of the signature header
    std::uint64_t nextHeaderSize = 0;
    std::uint32_t nextHeaderCrc = 0;
};

// False unless the bytes begin with a 7z signature header whose check sum holds.
bool ParseSignatureHeader(std::span<const std::uint8_t> bytes, SignatureHeader& header);

// The length the signature header gives the archive (32 + next-header offset + next-header
// size); nullopt when `header` does not begin with a valid signature header of major version 0.
std::optional<std::uint64_t> ArchiveSize(std::span<const std::uint8_t> header);

// Where the next header lies, checked against the `behind` bytes that follow the signature
// header: none (what 7zz makes of an empty folder), within them, or nowhere sound (too large to
// be one we could have built, or beyond the end).
enum class NextHeaderPlace { None, Within, Damaged };
NextHeaderPlace PlaceOfNextHeader(const SignatureHeader& header, std::uint64_t behind);

std::uint32_t Crc32(std::span<const std::uint8_t> bytes);

} // namespace sfx::sevenzip
