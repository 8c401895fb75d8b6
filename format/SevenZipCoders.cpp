#include "format/SevenZipCoders.h"

#include "cptlib/platform/FileIo.h"
#include "format/ReadTap.h"
#include "format/SevenZipMethods.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>

namespace sfx::sevenzip {

namespace {

constexpr std::size_t kInputBufferSize = 1 << 16;

ArchiveStatus DataError() {
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

class PackStream final : public SizedStream {
public:
    PackStream(const cptlib::platform::FileDescriptor& file, std::uint64_t offset,
               std::uint64_t size)
        : SizedStream(size), file_(file), offset_(offset) {}

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        const std::uint32_t error = TappedReadAt(file_, offset_, out, size, done);
        if (error != 0)
            return {cptlib::HResultFromWin32(error), {}};
        offset_ += done;
        return {};
    }

private:
    const cptlib::platform::FileDescriptor& file_;
    std::uint64_t offset_;
};

class CopyStream final : public SizedStream {
public:
    CopyStream(std::unique_ptr<ByteStream> input, std::uint64_t size)
        : SizedStream(size), input_(std::move(input)) {}

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        return input_->Read(out, size, done);
    }

private:
    std::unique_ptr<ByteStream> input_;
};

struct FreeOptions {
    void operator()(void* options) const noexcept { std::free(options); }
};
using OptionsPtr = std::unique_ptr<void, FreeOptions>;

class LzmaStream final : public SizedStream {
public:
    LzmaStream(std::unique_ptr<ByteStream> input, std::uint64_t size)
        : SizedStream(size), input_(std::move(input)),
          buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputBufferSize)) {}
    ~LzmaStream() override { lzma_end(&stream_); }
    LzmaStream(const LzmaStream&) = delete;
    LzmaStream& operator=(const LzmaStream&) = delete;

    ArchiveStatus Start(const lzma_filter* filters, OptionsPtr options, OptionsPtr more = {}) {
        options_ = std::move(options);
        moreOptions_ = std::move(more);
        const lzma_ret result = lzma_raw_decoder(&stream_, filters);
        if (result == LZMA_MEM_ERROR)
            return {cptlib::kHrOutOfMemory, {}};
        if (result != LZMA_OK)
            return {kHrNotImpl, {}};
        return {};
    }

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        if (finished_)
            return {};
        stream_.next_out = out;
        stream_.avail_out = size;
        while (stream_.avail_out > 0) {
            if (ArchiveStatus status = Refill(); !status.Ok())
                return status;
            const lzma_ret result = lzma_code(&stream_, inputEnded_ ? LZMA_FINISH : LZMA_RUN);
            if (result == LZMA_STREAM_END) {
                finished_ = true;
                break;
            }
            if (result == LZMA_MEM_ERROR)
                return {cptlib::kHrOutOfMemory, {}};
            if (result != LZMA_OK)
                return DataError();
        }
        done = size - stream_.avail_out;
        if (done == Left() && !finished_)
            return CheckEnd();
        return {};
    }

private:
    // More input once liblzma has taken all it had.
    ArchiveStatus Refill() {
        if (stream_.avail_in != 0 || inputEnded_)
            return {};
        std::size_t read = 0;
        if (ArchiveStatus status = input_->Read(buffer_.get(), kInputBufferSize, read);
            !status.Ok())
            return status;
        inputEnded_ = read == 0;
        stream_.next_in = buffer_.get();
        stream_.avail_in = read;
        return {};
    }

    // All the claimed bytes are out: the stream must end here, not hold more than the header
    // says.
    ArchiveStatus CheckEnd() {
        std::uint8_t extra = 0;
        for (;;) {
            if (ArchiveStatus status = Refill(); !status.Ok())
                return status;
            stream_.next_out = &extra;
            stream_.avail_out = 1;
            const lzma_ret result = lzma_code(&stream_, inputEnded_ ? LZMA_FINISH : LZMA_RUN);
            if (result == LZMA_STREAM_END) {
                finished_ = true;
                return {};
            }
            if (result != LZMA_OK || stream_.avail_out == 0)
                return DataError();
        }
    }

    std::unique_ptr<ByteStream> input_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    lzma_stream stream_ = LZMA_STREAM_INIT;
    OptionsPtr options_;
    OptionsPtr moreOptions_;
    bool inputEnded_ = false;
    bool finished_ = false;
};

class AesStream final : public SizedStream {
public:
    AesStream(std::unique_ptr<ByteStream> input, std::uint64_t size,
              const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv)
        : SizedStream(size), input_(std::move(input)), decipher_(key, iv),
          buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputBufferSize)) {}

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        if (begin_ == ready_) {
            // Keep the part of a block that came last time, fill up, decipher whole blocks.
            std::memmove(buffer_.get(), buffer_.get() + ready_, filled_ - ready_);
            filled_ -= ready_;
            begin_ = ready_ = 0;
            while (filled_ < AesCbcDecipher::kBlockSize) {
                std::size_t read = 0;
                if (ArchiveStatus status =
                        input_->Read(buffer_.get() + filled_, kInputBufferSize - filled_, read);
                    !status.Ok())
                    return status;
                if (read == 0)
                    break;
                filled_ += read;
            }
            ready_ = filled_ - filled_ % AesCbcDecipher::kBlockSize;
            decipher_.Decipher(buffer_.get(), ready_);
        }
        done = std::min(size, ready_ - begin_);
        std::memcpy(out, buffer_.get() + begin_, done);
        begin_ += done;
        return {};
    }

private:
    std::unique_ptr<ByteStream> input_;
    AesCbcDecipher decipher_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0;  // next deciphered byte to hand out
    std::size_t ready_ = 0;  // end of the deciphered bytes
    std::size_t filled_ = 0; // end of the bytes read
};

// x86 call and jump targets turned back from absolute to relative, for the converter that
// follows a coder without a converter of its own.
class X86Stream final : public SizedStream {
public:
    X86Stream(std::unique_ptr<ByteStream> input, std::uint64_t size)
        : SizedStream(size), input_(std::move(input)),
          buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputBufferSize)) {}

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        while (begin_ == converted_) {
            std::memmove(buffer_.get(), buffer_.get() + converted_, filled_ - converted_);
            filled_ -= converted_;
            begin_ = converted_ = 0;
            bool ended = false;
            while (filled_ < kInputBufferSize) {
                std::size_t read = 0;
                if (ArchiveStatus status =
                        input_->Read(buffer_.get() + filled_, kInputBufferSize - filled_, read);
                    !status.Ok())
                    return status;
                if (read == 0) {
                    ended = true;
                    break;
                }
                filled_ += read;
            }
            converted_ = Convert(buffer_.get(), filled_);
            position_ += static_cast<std::uint32_t>(converted_);
            if (ended) {
                converted_ = filled_; // the last few bytes hold no whole instruction
                if (filled_ == 0)
                    return {};
            }
        }
        done = std::min(size, converted_ - begin_);
        std::memcpy(out, buffer_.get() + begin_, done);
        begin_ += done;
        return {};
    }

private:
    static bool IsHighByte(std::uint8_t b) { return b == 0 || b == 0xFF; }

    // Converts what it can of `data`; returns how many bytes are done.
    std::size_t Convert(std::uint8_t* data, std::size_t size) {
        static constexpr bool kAllowed[8] = {true, true, true, false, true, false, false, false};
        static constexpr unsigned kBitNumber[8] = {0, 1, 2, 2, 3, 3, 3, 3};
        if (size < 5)
            return 0;
        const std::uint32_t ip = position_ + 5;
        std::size_t at = 0;
        std::size_t previousAt = static_cast<std::size_t>(0) - 1;
        std::uint32_t mask = state_ & 7;
        for (;;) {
            while (at < size - 4 && (data[at] & 0xFE) != 0xE8)
                ++at;
            if (at >= size - 4)
                break;
            std::uint8_t* p = data + at;
            const std::size_t distance = at - previousAt;
            if (distance > 3) {
                mask = 0;
            } else {
                mask = (mask << (distance - 1)) & 7;
                if (mask != 0 && (!kAllowed[mask] || IsHighByte(p[4 - kBitNumber[mask]]))) {
                    previousAt = at;
                    mask = ((mask << 1) & 7) | 1;
                    ++at;
                    continue;
                }
            }
            previousAt = at;
            if (!IsHighByte(p[4])) {
                mask = ((mask << 1) & 7) | 1;
                ++at;
                continue;
            }
            std::uint32_t source = (std::uint32_t(p[4]) << 24) | (std::uint32_t(p[3]) << 16) |
                                   (std::uint32_t(p[2]) << 8) | p[1];
            std::uint32_t target = 0;
            for (;;) {
                target = source - (ip + static_cast<std::uint32_t>(at));
                if (mask == 0)
                    break;
                const unsigned index = kBitNumber[mask] * 8;
                if (!IsHighByte(static_cast<std::uint8_t>(target >> (24 - index))))
                    break;
                source = target ^ ((std::uint32_t(1) << (32 - index)) - 1);
            }
            p[4] = static_cast<std::uint8_t>(~(((target >> 24) & 1) - 1));
            p[3] = static_cast<std::uint8_t>(target >> 16);
            p[2] = static_cast<std::uint8_t>(target >> 8);
            p[1] = static_cast<std::uint8_t>(target);
            at += 5;
        }
        const std::size_t distance = at - previousAt;
        state_ = distance > 3 ? 0 : (mask << (distance - 1)) & 7;
        return at;
    }

    std::unique_ptr<ByteStream> input_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0;
    std::size_t converted_ = 0;
    std::size_t filled_ = 0;
    std::uint32_t position_ = 0; // stream offset of the buffer's first byte, modulo 2^32
    std::uint32_t state_ = 0;
};

} // namespace

std::unique_ptr<ByteStream> MakeX86Stream(std::unique_ptr<ByteStream> input, std::uint64_t size) {
    return std::make_unique<X86Stream>(std::move(input), size);
}

ArchiveStatus SizedStream::Read(std::uint8_t* out, std::size_t size, std::size_t& done) {
    done = 0;
    if (left_ == 0 || size == 0)
        return {};
    size = static_cast<std::size_t>(std::min<std::uint64_t>(size, left_));
    if (ArchiveStatus status = Produce(out, size, done); !status.Ok())
        return status;
    if (done == 0 || done > size)
        return DataError();
    left_ -= done;
    return {};
}

ByteInput::ByteInput(std::unique_ptr<ByteStream> stream)
    : stream_(std::move(stream)),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputBufferSize)) {}

ArchiveStatus ByteInput::Refill(std::uint8_t& byte, bool& have) {
    have = false;
    position_ = end_ = 0;
    if (ArchiveStatus status = stream_->Read(buffer_.get(), kInputBufferSize, end_); !status.Ok())
        return status;
    if (end_ == 0)
        return {};
    byte = buffer_[position_++];
    have = true;
    return {};
}

std::unique_ptr<ByteStream> MakePackStream(const cptlib::platform::FileDescriptor& file,
                                           std::uint64_t offset, std::uint64_t size) {
    return std::make_unique<PackStream>(file, offset, size);
}

std::unique_ptr<ByteStream> MakeCopyStream(std::unique_ptr<ByteStream> input, std::uint64_t size) {
    return std::make_unique<CopyStream>(std::move(input), size);
}

namespace {

// The id liblzma gives the filter a folder names, 0 for none of them.
lzma_vli LzmaFilterId(std::uint64_t method) {
    switch (method) {
    case kMethodBcj:
        return LZMA_FILTER_X86;
    case kMethodPpc:
        return LZMA_FILTER_POWERPC;
    case kMethodIa64:
        return LZMA_FILTER_IA64;
    case kMethodArm:
        return LZMA_FILTER_ARM;
    case kMethodArmThumb:
        return LZMA_FILTER_ARMTHUMB;
    case kMethodSparc:
        return LZMA_FILTER_SPARC;
    case kMethodArm64:
        return LZMA_FILTER_ARM64;
    case kMethodDelta:
        return LZMA_FILTER_DELTA;
    default:
        return 0;
    }
}

// The filter's options from the folder's properties, which have liblzma's layout: the branch
// converters' optional start offset, the delta distance less one.
ArchiveStatus DecodeFilter(const CoderInfo& coder, lzma_filter& filter, OptionsPtr& options) {
    filter = {LzmaFilterId(coder.method), nullptr};
    if (filter.id == 0 || coder.inStreams != 1 || coder.outStreams != 1)
        return {kHrNotImpl, {}};
    const lzma_ret result =
        lzma_properties_decode(&filter, nullptr, coder.properties.data(), coder.properties.size());
    options.reset(filter.options);
    if (result == LZMA_MEM_ERROR)
        return {cptlib::kHrOutOfMemory, {}};
    return result == LZMA_OK ? ArchiveStatus{} : DataError();
}

// A stream as LZMA2 chunks stored without compression, so that liblzma's filters, which never
// end a chain, can run over it.
class StoredLzma2Stream final : public ByteStream {
public:
    explicit StoredLzma2Stream(std::unique_ptr<ByteStream> input) : input_(std::move(input)) {}

    ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        while (done < size) {
            if (position_ == length_) {
                if (ended_)
                    return {};
                if (ArchiveStatus status = Fill(); !status.Ok())
                    return status;
            }
            const std::size_t n = std::min(size - done, length_ - position_);
            std::memcpy(out + done, chunk_.data() + position_, n);
            position_ += n;
            done += n;
        }
        return {};
    }

private:
    static constexpr std::size_t kChunkData = 1 << 16; // the most one chunk holds

    ArchiveStatus Fill() {
        std::size_t filled = 0;
        while (filled < kChunkData) {
            std::size_t read = 0;
            if (ArchiveStatus status =
                    input_->Read(chunk_.data() + 3 + filled, kChunkData - filled, read);
                !status.Ok())
                return status;
            if (read == 0)
                break;
            filled += read;
        }
        position_ = 0;
        if (filled == 0) {
            chunk_[0] = 0x00; // end of the LZMA2 stream
            length_ = 1;
            ended_ = true;
            return {};
        }
        chunk_[0] = first_ ? 0x01 : 0x02; // stored; the first resets the dictionary
        first_ = false;
        chunk_[1] = static_cast<std::uint8_t>((filled - 1) >> 8);
        chunk_[2] = static_cast<std::uint8_t>(filled - 1);
        length_ = 3 + filled;
        return {};
    }

    std::unique_ptr<ByteStream> input_;
    std::array<std::uint8_t, 3 + kChunkData> chunk_{};
    std::size_t position_ = 0;
    std::size_t length_ = 0;
    bool first_ = true;
    bool ended_ = false;
};

} // namespace

std::optional<std::uint64_t> ClaimedDictionary(const CoderInfo& coder) {
    const auto& p = coder.properties;
    if (coder.method == kMethodLzma && p.size() == 5)
        return std::uint64_t{p[1]} | std::uint64_t{p[2]} << 8 | std::uint64_t{p[3]} << 16 |
               std::uint64_t{p[4]} << 24;
    if (coder.method == kMethodLzma2 && p.size() == 1 && p[0] <= 40)
        return p[0] == 40 ? 0xFFFFFFFFu : (std::uint64_t{2} | (p[0] & 1u)) << (p[0] / 2 + 11);
    return std::nullopt;
}

bool IsLzmaFilter(std::uint64_t method) {
    return LzmaFilterId(method) != 0;
}

ArchiveStatus MakeLzmaStream(const CoderInfo& coder, std::uint64_t coderSize,
                             const CoderInfo* filter, std::unique_ptr<ByteStream> input,
                             std::uint64_t size, std::unique_ptr<ByteStream>& stream) {
    const bool lzma2 = coder.method == kMethodLzma2;
    lzma_filter lzma{lzma2 ? LZMA_FILTER_LZMA2 : LZMA_FILTER_LZMA1, nullptr};
    if (lzma_properties_decode(&lzma, nullptr, coder.properties.data(), coder.properties.size()) !=
        LZMA_OK)
        return DataError();
    OptionsPtr options(lzma.options);
    auto* lzmaOptions = static_cast<lzma_options_lzma*>(lzma.options);
    // A dictionary larger than the data is never filled: the claim costs no more than that.
    lzmaOptions->dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
        lzmaOptions->dict_size, std::max<std::uint64_t>(coderSize, LZMA_DICT_SIZE_MIN)));
    if (lzmaOptions->dict_size > kMaxDictionarySize)
        return {kHrNotImpl, "The archive's " + MethodName(coder.method) +
                                " compression asks for a dictionary of " +
                                std::to_string(lzmaOptions->dict_size >> 20) +
                                " MiB for its data; more than " +
                                std::to_string(kMaxDictionarySize >> 20) +
                                " MiB is not supported, as extracting would need that much "
                                "memory."};
    if (!lzma2) {
        // A known size ends the stream, so that a filter behind it gives out its last bytes.
        lzma.id = LZMA_FILTER_LZMA1EXT;
        lzmaOptions->ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
        lzmaOptions->ext_size_low = static_cast<std::uint32_t>(coderSize);
        lzmaOptions->ext_size_high = static_cast<std::uint32_t>(coderSize >> 32);
    }
    lzma_filter filters[3];
    std::size_t count = 0;
    OptionsPtr filterOptions;
    if (filter != nullptr) {
        if (ArchiveStatus status = DecodeFilter(*filter, filters[count], filterOptions);
            !status.Ok())
            return status;
        ++count;
    }
    filters[count++] = lzma;
    filters[count] = {LZMA_VLI_UNKNOWN, nullptr};
    auto decoder = std::make_unique<LzmaStream>(std::move(input), size);
    if (ArchiveStatus status =
            decoder->Start(filters, std::move(options), std::move(filterOptions));
        !status.Ok())
        return status;
    stream = std::move(decoder);
    return {};
}

ArchiveStatus MakeFilterStream(const CoderInfo& filter, std::unique_ptr<ByteStream> input,
                               std::uint64_t size, std::unique_ptr<ByteStream>& stream) {
    lzma_filter filters[3];
    OptionsPtr filterOptions;
    if (ArchiveStatus status = DecodeFilter(filter, filters[0], filterOptions); !status.Ok())
        return status;
    // Stored chunks need no more dictionary than the least there is.
    OptionsPtr lzmaOptions(std::calloc(1, sizeof(lzma_options_lzma)));
    if (lzmaOptions == nullptr)
        return {cptlib::kHrOutOfMemory, {}};
    static_cast<lzma_options_lzma*>(lzmaOptions.get())->dict_size = LZMA_DICT_SIZE_MIN;
    filters[1] = {LZMA_FILTER_LZMA2, lzmaOptions.get()};
    filters[2] = {LZMA_VLI_UNKNOWN, nullptr};
    auto decoder =
        std::make_unique<LzmaStream>(std::make_unique<StoredLzma2Stream>(std::move(input)), size);
    if (ArchiveStatus status =
            decoder->Start(filters, std::move(lzmaOptions), std::move(filterOptions));
        !status.Ok())
        return status;
    stream = std::move(decoder);
    return {};
}

ArchiveStatus MakeAesStream(std::span<const std::uint8_t> properties,
                            const std::u16string& password, AesKeyCache& keys,
                            std::unique_ptr<ByteStream> input, std::uint64_t size,
                            std::unique_ptr<ByteStream>& stream) {
    AesProperties parsed;
    if (!ParseAesProperties(properties, parsed))
        return DataError();
    if (parsed.cyclesPower > kMaxAesCyclesPower && parsed.cyclesPower != kAesCyclesPowerPlainKey)
        return {kHrNotImpl,
                "The archive's 7zAES encryption asks for 2^" + std::to_string(parsed.cyclesPower) +
                    " rounds of key derivation; more than 2^" + std::to_string(kMaxAesCyclesPower) +
                    " would take minutes, so such archives are not supported."};
    const auto key = keys.Key(parsed.cyclesPower, parsed.salt, password);
    if (!key)
        return {kHrAbort, {}};
    stream = std::make_unique<AesStream>(std::move(input), size, *key, parsed.iv);
    return {};
}

} // namespace sfx::sevenzip
