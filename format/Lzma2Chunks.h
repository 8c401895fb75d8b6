#pragma once
// The independent runs of an LZMA2 stream, found from its chunk headers without decoding.
// A chunk that resets the dictionary (stored with reset, or LZMA with reset and new
// properties) starts a run that needs nothing before it, so runs may decode side by side.

#include "format/ArchiveReader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace sfx::sevenzip {

struct Lzma2Segment {
    std::uint64_t packOffset = 0; // from the start of the stream, at the run's first header
    std::uint64_t packSize = 0;   // up to the next run or the end marker, which is not included
    std::uint64_t unpackSize = 0;
};

// Reads up to `size` bytes at `offset` of the stream; fewer only at its end. Returns a Win32
// error number.
using StreamReadAt = std::function<std::uint32_t(std::uint64_t offset, std::uint8_t* out,
                                                 std::size_t size, std::size_t& done)>;

// The runs of the `packSize`-byte LZMA2 stream, which must unpack to `unpackSize` bytes in
// all and end with its end marker within the stream. A header that is not LZMA2's, a run that
// does not start with a reset, or sums other than the claimed ones are damage
// (HRESULT_INVALID_DATA).
ArchiveStatus ScanLzma2Segments(const StreamReadAt& readAt, std::uint64_t packSize,
                                std::uint64_t unpackSize, std::vector<Lzma2Segment>& segments);

} // namespace sfx::sevenzip
