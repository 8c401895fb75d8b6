#pragma once
// Decoding one folder of a 7z archive: its coders joined as their bind pairs say, each pulling
// from the streams it reads, the packed ones read from the file at their own offsets. A folder
// needs nothing of any other, so folders may decode on different threads.

#include "cptlib/platform/File.h"
#include "format/ArchiveReader.h"
#include "format/SevenZipAes.h"
#include "format/SevenZipHeader.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sfx::sevenzip {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Up to `size` bytes; `done` is 0 only at the end of the stream.
    virtual ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) = 0;
};

// Dictionaries beyond this are damage, not archives anyone made: refused before allocating.
constexpr std::uint64_t kMaxDictionarySize = std::uint64_t(1536) << 20;

// The memory decoding `folder` takes: its dictionaries (no larger than the data they serve)
// and the coders' buffers.
std::uint64_t FolderDecodeMemory(const FolderInfo& folder);

// Decodes the independent runs of an LZMA2 coder's stream side by side, for a reader that can
// spare the threads and the memory.
class SegmentDecoding {
public:
    virtual ~SegmentDecoding() = default;
    // The output of the LZMA2 `coder` whose packed stream is `packSize` bytes at file offset
    // `packOffset`, unpacking to `unpackSize`. Leaves `stream` null where decoding side by side
    // is not worth it; fails where the stream's chunks contradict the header.
    virtual ArchiveStatus Open(const CoderInfo& coder, std::uint64_t packOffset,
                               std::uint64_t packSize, std::uint64_t unpackSize,
                               std::unique_ptr<ByteStream>& stream) = 0;
};

// The folder's data, as a stream of exactly its unpacked size; a stream that ends early or
// does not decode fails with HRESULT_INVALID_DATA, a method we lack with kHrNotImpl.
// `packBase` is the file offset that pack positions count from; `password` (UTF-16) is used
// by the cipher's coders, with keys kept in `keys`.
ArchiveStatus OpenFolder(const cptlib::platform::FileDescriptor& file, std::uint64_t packBase,
                         const StreamLayout& layout, std::size_t folder,
                         const std::u16string& password, AesKeyCache& keys,
                         std::unique_ptr<ByteStream>& stream, SegmentDecoding* segments = nullptr);

} // namespace sfx::sevenzip
