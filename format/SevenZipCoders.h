#pragma once
// The coders a folder joins: each a stream of its own unpacked size that pulls from its inputs.

#include "format/SevenZipAes.h"
#include "format/SevenZipFolder.h"
#include "format/SevenZipMethods.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace sfx::sevenzip {

// A coder's output: never more than its unpacked size, and an early end is damage.
class SizedStream : public ByteStream {
public:
    explicit SizedStream(std::uint64_t size) : left_(size) {}
    ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) final;

protected:
    std::uint64_t Left() const { return left_; }
    // As Read, within what is left.
    virtual ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) = 0;

private:
    std::uint64_t left_;
};

// Buffered reading from a stream, a byte at a time where a coder needs that.
class ByteInput {
public:
    explicit ByteInput(std::unique_ptr<ByteStream> stream);
    // `have` is false at the end of the stream.
    ArchiveStatus Next(std::uint8_t& byte, bool& have) {
        if (position_ < end_) {
            byte = buffer_[position_++];
            have = true;
            return {};
        }
        return Refill(byte, have);
    }

private:
    ArchiveStatus Refill(std::uint8_t& byte, bool& have);

    std::unique_ptr<ByteStream> stream_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t position_ = 0;
    std::size_t end_ = 0;
};

std::unique_ptr<ByteStream> MakePackStream(const cptlib::platform::FileDescriptor& file,
                                           std::uint64_t offset, std::uint64_t size);
// The x86 branch converter on its own.
std::unique_ptr<ByteStream> MakeX86Stream(std::unique_ptr<ByteStream> input, std::uint64_t size);
std::unique_ptr<ByteStream> MakeCopyStream(std::unique_ptr<ByteStream> input, std::uint64_t size);

// The dictionary an LZMA or LZMA2 coder's properties claim; nullopt for other coders and
// properties that do not parse.
std::optional<std::uint64_t> ClaimedDictionary(const CoderInfo& coder);

// True for the branch converters and the delta filter that liblzma decodes.
bool IsLzmaFilter(std::uint64_t method);

// LZMA or LZMA2 (`coder`, with `coderSize` its own unpacked size), optionally followed by one
// of liblzma's filters (`filter`, null for none; see IsLzmaFilter).
ArchiveStatus MakeLzmaStream(const CoderInfo& coder, std::uint64_t coderSize,
                             const CoderInfo* filter, std::unique_ptr<ByteStream> input,
                             std::uint64_t size, std::unique_ptr<ByteStream>& stream);

// One of liblzma's filters over any stream.
ArchiveStatus MakeFilterStream(const CoderInfo& filter, std::unique_ptr<ByteStream> input,
                               std::uint64_t size, std::unique_ptr<ByteStream>& stream);

ArchiveStatus MakeAesStream(std::span<const std::uint8_t> properties,
                            const std::u16string& password, AesKeyCache& keys,
                            std::unique_ptr<ByteStream> input, std::uint64_t size,
                            std::unique_ptr<ByteStream>& stream);

} // namespace sfx::sevenzip
