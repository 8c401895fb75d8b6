#include "format/Lzma2Chunks.h"

#include "cptlib/SystemError.h"

#include <algorithm>

namespace sfx::sevenzip {

namespace {

ArchiveStatus DataError() {
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

} // namespace

ArchiveStatus ScanLzma2Segments(const StreamReadAt& readAt, std::uint64_t packSize,
                                std::uint64_t unpackSize, std::vector<Lzma2Segment>& segments) {
    segments.clear();
    std::uint64_t at = 0;
    std::uint64_t unpacked = 0;
    for (;;) {
        std::uint8_t header[6];
        std::size_t got = 0;
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(6, packSize - at));
        if (want == 0)
            return DataError(); // no end marker
        if (const std::uint32_t error = readAt(at, header, want, got); error != 0)
            return {cptlib::HResultFromWin32(error), {}};
        if (got == 0)
            return DataError();
        const std::uint8_t control = header[0];
        if (control == 0x00)
            break;
        std::uint64_t chunkUnpacked = 0;
        std::uint64_t length = 0; // header and data
        bool reset = false;
        if (control == 0x01 || control == 0x02) {
            if (got < 3)
                return DataError();
            chunkUnpacked = ((std::uint64_t(header[1]) << 8) | header[2]) + 1;
            length = 3 + chunkUnpacked;
            reset = control == 0x01;
        } else if (control >= 0x80) {
            const bool properties = control >= 0xC0;
            if (got < (properties ? 6u : 5u))
                return DataError();
            chunkUnpacked = ((std::uint64_t(control & 0x1F) << 16) |
                             (std::uint64_t(header[1]) << 8) | header[2]) +
                            1;
            const std::uint64_t packed = ((std::uint64_t(header[3]) << 8) | header[4]) + 1;
            length = (properties ? 6 : 5) + packed;
            reset = control >= 0xE0;
        } else {
            return DataError();
        }
        // The first chunk must reset; liblzma refuses a stream that does not.
        if (!reset && segments.empty())
            return DataError();
        if (reset)
            segments.push_back({at, 0, 0});
        if (length > packSize - at || chunkUnpacked > unpackSize - unpacked)
            return DataError();
        segments.back().packSize += length;
        segments.back().unpackSize += chunkUnpacked;
        unpacked += chunkUnpacked;
        at += length;
    }
    if (unpacked != unpackSize)
        return DataError();
    return {};
}

} // namespace sfx::sevenzip
