// The own reader's coders over mutated archives that still open: the input is the archive
// behind its signature header (packed streams, then the next header), and this target writes
// a valid signature header with the check sum of that next header around it, so that
// mutations reach coder graphs, bind pairs, filters and ciphers rather than a check sum.
// Input: 2 bytes (little-endian) give the next header's length, counted from the input's end.
#include "ScratchFolder.h"
#include "format/ArchiveReader.h"
#include "format/SevenZipSignature.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <span>
#include <string>
#include <vector>

namespace {

// Decoding stops after this many bytes, so that a hostile size cannot make one input run long.
constexpr std::uint64_t kMaxDecoded = 16u << 20;

void Put32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put64(std::uint8_t* at, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::vector<std::uint8_t> Envelope(const std::uint8_t* data, std::size_t size) {
    const std::size_t length = static_cast<std::size_t>(data[0]) | std::size_t{data[1]} << 8;
    const std::span<const std::uint8_t> body(data + 2, size - 2);
    const std::size_t headerSize = std::min(length, body.size());
    const std::size_t headerOffset = body.size() - headerSize;
    std::vector<std::uint8_t> archive(sfx::sevenzip::kSignatureHeaderSize);
    std::copy(std::begin(sfx::sevenzip::kSignature), std::end(sfx::sevenzip::kSignature),
              archive.begin());
    archive[6] = 0;
    archive[7] = 4;
    Put64(&archive[12], headerOffset);
    Put64(&archive[20], headerSize);
    Put32(&archive[28], sfx::sevenzip::Crc32(body.subspan(headerOffset)));
    Put32(&archive[8],
          sfx::sevenzip::Crc32(std::span<const std::uint8_t>(archive).subspan(12, 20)));
    archive.insert(archive.end(), body.begin(), body.end());
    return archive;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    static const fuzz::ScratchFolder root("sfx-fuzz-coders-");
    const std::string path = (root.Path() / "archive.7z").string();
    {
        const std::vector<std::uint8_t> archive = Envelope(data, size);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(archive.data()),
                  static_cast<std::streamsize>(archive.size()));
    }
    // The seeds' password; asked again for each enciphered folder.
    const auto reader = sfx::MakeArchiveReader(path, 0, [](std::string& password) {
        password = "seed";
        return cptlib::kHrOk;
    });
    sfx::ArchiveIndex index;
    if (!reader->ReadIndex(index).Ok())
        return 0;
    std::uint64_t decoded = 0;
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (!reader->NextItem(item, more).Ok() || !more)
            return 0;
        for (;;) {
            std::span<const std::uint8_t> block;
            if (!reader->ReadBlock(block).Ok())
                return 0;
            if (block.empty())
                break;
            decoded += block.size();
            if (decoded > kMaxDecoded)
                return 0;
        }
    }
}
