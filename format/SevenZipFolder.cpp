#include "format/SevenZipFolder.h"

#include "format/Bcj2.h"
#include "format/SevenZipCoders.h"
#include "format/SevenZipMethods.h"

#include <algorithm>

namespace sfx::sevenzip {

namespace {

bool IsLzma(const CoderInfo& coder) {
    return (coder.method == kMethodLzma || coder.method == kMethodLzma2) && coder.inStreams == 1 &&
           coder.outStreams == 1;
}

// Joins the folder's coders from its main out stream down to its packed streams.
class GraphBuilder {
public:
    GraphBuilder(const cptlib::platform::FileDescriptor& file, std::uint64_t packBase,
                 const StreamLayout& layout, const FolderInfo& folder,
                 const std::u16string& password, AesKeyCache& keys, SegmentDecoding* segments)
        : file_(file), packBase_(packBase), layout_(layout), folder_(folder), password_(password),
          keys_(keys), segments_(segments) {}

    ArchiveStatus Out(std::uint32_t out, std::unique_ptr<ByteStream>& stream) {
        // Every coder is visited once at most; more steps means the bind pairs loop.
        if (++steps_ > folder_.coders.size())
            return {cptlib::HRESULT_INVALID_DATA, {}};
        std::size_t index = 0;
        std::uint32_t firstIn = 0;
        if (!FindCoder(out, index, firstIn))
            return {cptlib::HRESULT_INVALID_DATA, {}};
        const CoderInfo& coder = folder_.coders[index];
        const std::uint64_t size = folder_.unpackSizes[out];
        if (coder.outStreams != 1)
            return {kHrNotImpl, "The archive's " + MethodName(coder.method) + " coder has " +
                                    std::to_string(coder.outStreams) +
                                    " outputs; coders with more than one output are not "
                                    "supported, as no method in use has them."};
        std::unique_ptr<ByteStream> input;
        switch (coder.method) {
        case kMethodCopy:
            if (ArchiveStatus status = In(firstIn, input); !status.Ok())
                return status;
            stream = MakeCopyStream(std::move(input), size);
            return {};
        case kMethodLzma:
        case kMethodLzma2:
            if (ArchiveStatus status = Segmented(coder, firstIn, size, stream);
                !status.Ok() || stream)
                return status;
            if (ArchiveStatus status = In(firstIn, input); !status.Ok())
                return status;
            return MakeLzmaStream(coder, size, nullptr, std::move(input), size, stream);
        case kMethodBcj2: {
            if (coder.inStreams != 4)
                return {cptlib::HRESULT_INVALID_DATA, {}};
            std::array<std::unique_ptr<ByteStream>, 4> inputs;
            for (std::uint32_t i = 0; i < 4; ++i) {
                if (ArchiveStatus status = In(firstIn + i, inputs[i]); !status.Ok())
                    return status;
            }
            stream = MakeBcj2Decoder(std::move(inputs), size);
            return {};
        }
        case kMethodAes:
            if (ArchiveStatus status = In(firstIn, input); !status.Ok())
                return status;
            return MakeAesStream(coder.properties, password_, keys_, std::move(input), size,
                                 stream);
        default:
            if (IsLzmaFilter(coder.method))
                return Filter(coder, firstIn, size, stream);
            return {kHrNotImpl, {}};
        }
    }

private:
    // Behind LZMA, liblzma runs the filter within the decoder; else over the stream it reads.
    ArchiveStatus Filter(const CoderInfo& coder, std::uint32_t firstIn, std::uint64_t size,
                         std::unique_ptr<ByteStream>& stream) {
        std::unique_ptr<ByteStream> input;
        const auto pair = std::find_if(folder_.bindPairs.begin(), folder_.bindPairs.end(),
                                       [&](const BindPair& p) { return p.in == firstIn; });
        std::size_t inner = 0;
        std::uint32_t innerIn = 0;
        if (pair == folder_.bindPairs.end() || !FindCoder(pair->out, inner, innerIn) ||
            !IsLzma(folder_.coders[inner])) {
            if (ArchiveStatus status = In(firstIn, input); !status.Ok())
                return status;
            // Our own x86 converter runs without liblzma's stored-chunk detour.
            if (coder.method == kMethodBcj && coder.properties.empty()) {
                stream = MakeX86Stream(std::move(input), size);
                return {};
            }
            return MakeFilterStream(coder, std::move(input), size, stream);
        }
        ++steps_;
        if (ArchiveStatus status =
                Segmented(folder_.coders[inner], innerIn, folder_.unpackSizes[pair->out], input);
            !status.Ok())
            return status;
        if (input) {
            if (coder.method == kMethodBcj && coder.properties.empty()) {
                stream = MakeX86Stream(std::move(input), size);
                return {};
            }
            return MakeFilterStream(coder, std::move(input), size, stream);
        }
        if (ArchiveStatus status = In(innerIn, input); !status.Ok())
            return status;
        return MakeLzmaStream(folder_.coders[inner], folder_.unpackSizes[pair->out], &coder,
                              std::move(input), size, stream);
    }

    // An LZMA2 coder reading a packed stream of its own, decoded by runs side by side where the
    // reader offers that and finds it worth it; else `stream` stays null.
    ArchiveStatus Segmented(const CoderInfo& coder, std::uint32_t in, std::uint64_t size,
                            std::unique_ptr<ByteStream>& stream) {
        if (segments_ == nullptr || coder.method != kMethodLzma2 || !IsLzma(coder))
            return {};
        if (std::any_of(folder_.bindPairs.begin(), folder_.bindPairs.end(),
                        [&](const BindPair& p) { return p.in == in; }))
            return {};
        const auto packed =
            std::find(folder_.packedStreams.begin(), folder_.packedStreams.end(), in);
        if (packed == folder_.packedStreams.end())
            return {};
        const std::size_t number = folder_.firstPackStream +
                                   static_cast<std::size_t>(packed - folder_.packedStreams.begin());
        if (number >= layout_.packSizes.size())
            return {};
        return segments_->Open(coder, packBase_ + layout_.PackOffset(number),
                               layout_.packSizes[number], size, stream);
    }

    // The coder that writes out stream `out`, and the number of its first in stream.
    bool FindCoder(std::uint32_t out, std::size_t& index, std::uint32_t& firstIn) const {
        std::uint32_t ins = 0;
        std::uint32_t outs = 0;
        for (std::size_t i = 0; i < folder_.coders.size(); ++i) {
            const CoderInfo& coder = folder_.coders[i];
            if (out >= outs && out < outs + coder.outStreams) {
                index = i;
                firstIn = ins;
                return true;
            }
            ins += coder.inStreams;
            outs += coder.outStreams;
        }
        return false;
    }

    ArchiveStatus In(std::uint32_t in, std::unique_ptr<ByteStream>& stream) {
        const auto pair = std::find_if(folder_.bindPairs.begin(), folder_.bindPairs.end(),
                                       [&](const BindPair& p) { return p.in == in; });
        if (pair != folder_.bindPairs.end())
            return Out(pair->out, stream);
        const auto packed =
            std::find(folder_.packedStreams.begin(), folder_.packedStreams.end(), in);
        if (packed == folder_.packedStreams.end())
            return {cptlib::HRESULT_INVALID_DATA, {}};
        const std::size_t number = folder_.firstPackStream +
                                   static_cast<std::size_t>(packed - folder_.packedStreams.begin());
        if (number >= layout_.packSizes.size())
            return {cptlib::HRESULT_INVALID_DATA, {}};
        stream = MakePackStream(file_, packBase_ + layout_.PackOffset(number),
                                layout_.packSizes[number]);
        return {};
    }

    const cptlib::platform::FileDescriptor& file_;
    std::uint64_t packBase_;
    const StreamLayout& layout_;
    const FolderInfo& folder_;
    const std::u16string& password_;
    AesKeyCache& keys_;
    SegmentDecoding* segments_;
    std::size_t steps_ = 0;
};

} // namespace

std::uint64_t FolderDecodeMemory(const FolderInfo& folder) {
    // Buffers of a coder besides its dictionary: input, output and the converter's.
    constexpr std::uint64_t kCoderBuffers = 256u << 10;
    constexpr std::uint64_t kMinDictionary = 4096;
    std::uint64_t total = 0;
    std::uint32_t out = 0;
    for (const CoderInfo& coder : folder.coders) {
        total += kCoderBuffers;
        const auto& p = coder.properties;
        std::uint64_t dictionary = 0;
        if (coder.method == kMethodLzma && p.size() >= 5)
            dictionary = std::uint64_t(p[1]) | std::uint64_t(p[2]) << 8 |
                         std::uint64_t(p[3]) << 16 | std::uint64_t(p[4]) << 24;
        else if (coder.method == kMethodLzma2 && p.size() >= 1)
            dictionary =
                p[0] >= 40 ? 0xFFFFFFFFu : (std::uint64_t(2) | (p[0] & 1u)) << (p[0] / 2 + 11);
        if (dictionary != 0 && out < folder.unpackSizes.size())
            total += std::min(dictionary, std::max(folder.unpackSizes[out], kMinDictionary));
        out += coder.outStreams;
    }
    return total;
}

ArchiveStatus OpenFolder(const cptlib::platform::FileDescriptor& file, std::uint64_t packBase,
                         const StreamLayout& layout, std::size_t folder,
                         const std::u16string& password, AesKeyCache& keys,
                         std::unique_ptr<ByteStream>& stream, SegmentDecoding* segments) {
    if (folder >= layout.folders.size())
        return {cptlib::HRESULT_INVALID_DATA, {}};
    GraphBuilder builder(file, packBase, layout, layout.folders[folder], password, keys, segments);
    std::unique_ptr<ByteStream> built;
    if (ArchiveStatus status = builder.Out(layout.folders[folder].mainOut, built); !status.Ok())
        return status;
    stream = std::move(built);
    return {};
}

} // namespace sfx::sevenzip
