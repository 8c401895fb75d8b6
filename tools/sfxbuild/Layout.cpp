#include "sfxbuild/Build.h"

#include "cptlib/resources/ResourceTree.h"

#include <boost/crc.hpp>

#include <algorithm>

namespace sfxbuild {

namespace {

std::uint64_t Le(std::span<const std::uint8_t> b, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i)
        v |= std::uint64_t{b[at + static_cast<std::size_t>(i)]} << (8 * i);
    return v;
}

} // namespace

std::optional<std::uint64_t> SevenZipArchiveSize(std::span<const std::uint8_t> header) {
    static constexpr std::uint8_t kSignature[] = {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C};
    constexpr std::size_t kStartHeader = 32;
    if (header.size() < kStartHeader ||
        !std::equal(std::begin(kSignature), std::end(kSignature), header.begin()))
        return std::nullopt;
    // Major version 0; the CRC guards the next-header fields that give the length.
    boost::crc_32_type crc;
    crc.process_bytes(header.data() + 12, 20);
    if (header[6] != 0 || crc.checksum() != Le(header, 8, 4))
        return std::nullopt;
    const std::uint64_t offset = Le(header, 12, 8), size = Le(header, 20, 8);
    if (offset > UINT64_MAX - kStartHeader || size > UINT64_MAX - kStartHeader - offset)
        return std::nullopt;
    return kStartHeader + offset + size;
}

std::optional<std::uint64_t> ProgramImageEnd(std::span<const std::uint8_t> stub) {
    switch (cptlib::DetectImageFormat(stub)) {
    case cptlib::ImageFormat::Elf:
        return stub.size() >= 52 ? std::optional<std::uint64_t>(stub.size()) : std::nullopt;
    case cptlib::ImageFormat::Pe: {
        if (stub.size() < 0x40)
            return std::nullopt;
        const std::uint64_t pe = Le(stub, 0x3C, 4);
        if (pe > stub.size() || stub.size() - pe < 24 || Le(stub, pe, 4) != 0x00004550u)
            return std::nullopt;
        const std::uint64_t count = Le(stub, pe + 6, 2);
        const std::uint64_t table = pe + 24 + Le(stub, pe + 20, 2);
        if (table > stub.size() || (stub.size() - table) / 40 < count || count == 0)
            return std::nullopt;
        std::uint64_t end = 0;
        for (std::uint64_t i = 0; i < count; ++i) {
            const std::uint64_t s = table + 40 * i;
            const std::uint64_t rawSize = Le(stub, s + 16, 4), rawOffset = Le(stub, s + 20, 4);
            if (rawSize != 0)
                end = std::max(end, rawOffset + rawSize);
        }
        if (end == 0 || end > stub.size())
            return std::nullopt;
        return end;
    }
    case cptlib::ImageFormat::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace sfxbuild
