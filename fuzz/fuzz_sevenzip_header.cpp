// The 7z headers read by our own code: a plain header gives the item list, an encoded one the
// archive the library decodes it from.
#include "format/SevenZipHeader.h"

#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    sfx::ArchiveIndex index;
    sfx::sevenzip::EncodedHeader encoded;
    if (sfx::sevenzip::ParseHeader(bytes, index, encoded) == sfx::sevenzip::HeaderKind::Encoded)
        sfx::sevenzip::MakeHeaderArchive(
            encoded,
            bytes.first(static_cast<std::size_t>(std::min<std::uint64_t>(encoded.packSize, size))));
    return 0;
}
