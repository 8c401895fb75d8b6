#include "format/SevenZipHeader.h"

#include "cptlib/Utf.h"

#include <algorithm>
#include <limits>

namespace sfx::sevenzip {

namespace {
// Headers larger than this are damage, not archives we could have built.
constexpr std::uint64_t kMaxHeaderBytes = 256u << 20;
// The memory a header's lists may take, decoded header included. Headers pack far better
// than 1000:1 (names that share long folder paths, runs of equal sizes and times), so what an
// archive may cost is judged by its own size: a floor that every small archive may use, a
// little more for every byte up to a megabyte (so that a megabyte of hostile header stays
// within 64 MiB in all), then enough a byte for the tiniest items real tools write (a million
// one-byte files in a few megabytes).
constexpr std::uint64_t kBookkeepingFloor = 24u << 20;
constexpr std::uint64_t kBookkeepingSmallPart = 1u << 20;
constexpr std::uint64_t kBookkeepingPerSmallByte = 24;
constexpr std::uint64_t kBookkeepingPerLargeByte = 128;
constexpr std::uint64_t kMaxBookkeeping = sizeof(void*) >= 8 ? std::uint64_t(8) << 30 : 1u << 30;

} // namespace

std::uint64_t BookkeepingBudget(std::uint64_t archiveSize) {
    const std::uint64_t small = std::min(archiveSize, kBookkeepingSmallPart);
    const std::uint64_t large = std::min(archiveSize - small, kMaxBookkeeping);
    return std::min(kMaxBookkeeping, kBookkeepingFloor + kBookkeepingPerSmallByte * small +
                                         kBookkeepingPerLargeByte * large);
}

std::uint64_t EncodedHeaderCap(std::uint64_t archiveSize) {
    // The decoded header and the lists read from it share the budget.
    return std::min(kMaxHeaderBytes, BookkeepingBudget(archiveSize) / 2);
}

namespace {

// Property ids of the header.
enum : std::uint8_t {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kFilesInfo = 0x05,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kEmptyStream = 0x0E,
    kEmptyFile = 0x0F,
    kAnti = 0x10,
    kName = 0x11,
    kMTime = 0x14,
    kWinAttributes = 0x15,
    kEncodedHeader = 0x17,
};

constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeUnixExtension = 0x8000;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixDirectory = 0040000;
constexpr std::uint32_t kUnixLink = 0120000;
constexpr std::uint32_t kUnixRegular = 0100000;
// File times count 100 ns steps from 1601.
constexpr std::uint64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

// Coders and streams per folder are few; anything larger is damage.
constexpr std::uint64_t kMaxCoderStreams = 64;

struct Malformed {};
struct OverBudget {};

// What the lists read so far may still take.
struct Budget {
    std::uint64_t left = 0;
};

class ByteReader {
public:
    ByteReader(std::span<const std::uint8_t> bytes, Budget& budget)
        : bytes_(bytes), budget_(budget) {}

    // Memory about to be taken for `count` things of `each` bytes, charged before it is
    // allocated: a count costs what it claims, not what the header's bytes paid for it.
    void Charge(std::uint64_t count, std::uint64_t each) {
        if (each != 0 && count > budget_.left / each)
            throw OverBudget{};
        budget_.left -= count * each;
    }
    Budget& Shared() { return budget_; }

    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return bytes_.size() - pos_; }

    std::uint8_t Byte() {
        if (pos_ >= bytes_.size())
            throw Malformed{};
        return bytes_[pos_++];
    }

    std::uint64_t Fixed(int size) {
        std::uint64_t value = 0;
        for (int i = 0; i < size; ++i)
            value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
        return value;
    }

    // The header's variable-length number: leading one bits of the first byte count the
    // little-endian bytes that follow; the rest of the first byte is the high part.
    std::uint64_t Number() {
        const std::uint8_t first = Byte();
        std::uint8_t mask = 0x80;
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) {
            if ((first & mask) == 0) {
                const std::uint64_t high = first & (mask - 1u);
                return value | (high << (8 * i));
            }
            value |= static_cast<std::uint64_t>(Byte()) << (8 * i);
            mask >>= 1;
        }
        return value;
    }

    // A count of things that take at least one byte each: never more than what is left.
    std::size_t Count() {
        const std::uint64_t count = Number();
        if (count > Remaining())
            throw Malformed{};
        return static_cast<std::size_t>(count);
    }

    std::span<const std::uint8_t> Take(std::uint64_t size) {
        if (size > Remaining())
            throw Malformed{};
        const auto part = bytes_.subspan(pos_, static_cast<std::size_t>(size));
        pos_ += static_cast<std::size_t>(size);
        return part;
    }

    void Skip(std::uint64_t size) { Take(size); }
    void SkipData() { Skip(Number()); }

    void Expect(std::uint8_t id) {
        if (Byte() != id)
            throw Malformed{};
    }

    std::vector<bool> Bits(std::size_t count) {
        Charge(count / 8 + 1, 1);
        std::vector<bool> bits(count);
        std::uint8_t current = 0;
        for (std::size_t i = 0; i < count; ++i) {
            if (i % 8 == 0)
                current = Byte();
            bits[i] = (current & (0x80 >> (i % 8))) != 0;
        }
        return bits;
    }

    // A digest list: which entries have a CRC, then the CRCs.
    std::vector<std::optional<std::uint32_t>> Digests(std::size_t count) {
        Charge(count, sizeof(std::optional<std::uint32_t>));
        const std::vector<bool> defined =
            Byte() != 0 ? std::vector<bool>(count, true) : Bits(count);
        std::vector<std::optional<std::uint32_t>> crcs(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (defined[i])
                crcs[i] = static_cast<std::uint32_t>(Fixed(4));
        }
        return crcs;
    }

private:
    std::span<const std::uint8_t> bytes_;
    Budget& budget_;
    std::size_t pos_ = 0;
};

std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > std::numeric_limits<std::uint64_t>::max() - b)
        throw Malformed{};
    return a + b;
}

void ReadPackInfo(ByteReader& in, StreamLayout& layout) {
    layout.packPosition = in.Number();
    const std::size_t streams = in.Count();
    in.Charge(streams, 2 * sizeof(std::uint64_t)); // sizes and their offsets
    layout.packSizes.assign(streams, 0);
    std::uint64_t total = 0;
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kSize) {
            for (std::size_t i = 0; i < streams; ++i) {
                layout.packSizes[i] = in.Number();
                total = CheckedAdd(total, layout.packSizes[i]);
            }
        } else if (id == kCrc) {
            in.Digests(streams);
        } else {
            in.SkipData();
        }
    }
    CheckedAdd(layout.packPosition, total);
    // Offsets summed once: a folder's stream is found without walking those before it.
    layout.packOffsets.resize(streams);
    std::uint64_t offset = layout.packPosition;
    for (std::size_t i = 0; i < streams; ++i) {
        layout.packOffsets[i] = offset;
        offset += layout.packSizes[i];
    }
}

FolderInfo ReadFolder(ByteReader& in) {
    const std::uint64_t coders = in.Number();
    if (coders == 0 || coders > kMaxCoderStreams)
        throw Malformed{};
    FolderInfo folder;
    std::uint64_t inStreams = 0;
    std::uint64_t outStreams = 0;
    for (std::uint64_t i = 0; i < coders; ++i) {
        const std::uint8_t flags = in.Byte();
        if ((flags & 0x80) != 0) // alternative methods were never used
            throw Malformed{};
        CoderInfo coder;
        const auto id = in.Take(flags & 0x0F);
        for (const std::uint8_t byte : id)
            coder.method = (coder.method << 8) | byte;
        std::uint64_t ins = 1;
        std::uint64_t outs = 1;
        if ((flags & 0x10) != 0) {
            ins = in.Number();
            outs = in.Number();
        }
        if (ins > kMaxCoderStreams || outs > kMaxCoderStreams)
            throw Malformed{};
        inStreams += ins;
        outStreams += outs;
        // Its unpack size, bind pair and marks, then the coder itself.
        in.Charge(ins + outs, 2 * sizeof(std::uint64_t));
        in.Charge(1, sizeof(CoderInfo));
        coder.inStreams = static_cast<std::uint32_t>(ins);
        coder.outStreams = static_cast<std::uint32_t>(outs);
        if ((flags & 0x20) != 0) {
            const auto properties = in.Take(in.Number());
            in.Charge(properties.size(), 1);
            coder.properties.assign(properties.begin(), properties.end());
        }
        folder.coders.push_back(std::move(coder));
    }
    // Every out stream but the folder's result feeds an in stream; the in streams left over
    // read packed data, at least one. (Kept in this form: GCC 12.2 at -O2 miscompiled an
    // earlier one that checked the packed count after the loop.)
    if (outStreams == 0 || inStreams < outStreams)
        throw Malformed{};
    const std::uint64_t bindPairs = outStreams - 1;
    const std::uint64_t packed = inStreams - bindPairs;
    std::vector<bool> boundOut(outStreams, false);
    std::vector<bool> boundIn(inStreams, false);
    for (std::uint64_t pair = 0; pair < bindPairs; ++pair) {
        const std::uint64_t inIndex = in.Number();
        const std::uint64_t outIndex = in.Number();
        if (inIndex >= inStreams || outIndex >= outStreams || boundOut[outIndex] ||
            boundIn[inIndex])
            throw Malformed{};
        boundOut[outIndex] = true;
        boundIn[inIndex] = true;
        folder.bindPairs.push_back(
            {static_cast<std::uint32_t>(inIndex), static_cast<std::uint32_t>(outIndex)});
    }
    if (packed > 1) {
        for (std::uint64_t i = 0; i < packed; ++i) {
            const std::uint64_t inIndex = in.Number();
            if (inIndex >= inStreams || boundIn[inIndex])
                throw Malformed{};
            boundIn[inIndex] = true;
            folder.packedStreams.push_back(static_cast<std::uint32_t>(inIndex));
        }
    } else {
        folder.packedStreams.push_back(static_cast<std::uint32_t>(
            std::find(boundIn.begin(), boundIn.end(), false) - boundIn.begin()));
    }
    folder.mainOut = static_cast<std::uint32_t>(std::find(boundOut.begin(), boundOut.end(), false) -
                                                boundOut.begin());
    folder.unpackSizes.assign(outStreams, 0);
    return folder;
}

void ReadUnpackInfo(ByteReader& in, StreamLayout& layout) {
    in.Expect(kFolder);
    const std::size_t count = in.Count();
    in.Charge(count, sizeof(FolderInfo));
    if (in.Byte() != 0) // folders kept in another stream
        throw Malformed{};
    auto& folders = layout.folders;
    folders.reserve(count);
    std::size_t packStream = 0;
    for (std::size_t i = 0; i < count; ++i) {
        folders.push_back(ReadFolder(in));
        folders.back().firstPackStream = packStream;
        packStream += folders.back().packedStreams.size();
    }
    if (packStream > layout.packSizes.size())
        throw Malformed{};
    in.Expect(kCodersUnpackSize);
    for (auto& folder : folders) {
        for (auto& size : folder.unpackSizes)
            size = in.Number();
    }
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kCrc) {
            const auto crcs = in.Digests(folders.size());
            for (std::size_t i = 0; i < folders.size(); ++i)
                folders[i].crc = crcs[i];
        } else {
            in.SkipData();
        }
    }
}

// The unpacked size and CRC of every stream, in order.
void ReadSubStreamsInfo(ByteReader& in, StreamLayout& layout) {
    auto& folders = layout.folders;
    std::uint8_t id = in.Byte();
    for (;;) {
        if (id == kNumUnpackStream) {
            for (auto& folder : folders) {
                folder.streams = in.Count();
                // Size, CRC and the item that takes it.
                in.Charge(folder.streams, sizeof(std::uint64_t) +
                                              sizeof(std::optional<std::uint32_t>) +
                                              sizeof(std::optional<std::size_t>));
            }
        } else if (id == kCrc || id == kSize || id == kEnd) {
            break;
        } else {
            in.SkipData();
        }
        id = in.Byte();
    }
    auto& sizes = layout.streamSizes;
    for (auto& folder : folders) {
        folder.firstStream = sizes.size();
        if (folder.streams == 0)
            continue;
        if (id != kSize && folder.streams > 1)
            throw Malformed{};
        std::uint64_t sum = 0;
        if (id == kSize) {
            for (std::uint64_t j = 1; j < folder.streams; ++j) {
                const std::uint64_t size = in.Number();
                sum = CheckedAdd(sum, size);
                sizes.push_back(size);
            }
        }
        if (sum > folder.UnpackSize())
            throw Malformed{};
        sizes.push_back(folder.UnpackSize() - sum);
    }
    if (id == kSize)
        id = in.Byte();
    layout.streamCrcs.assign(sizes.size(), std::nullopt);
    for (const auto& folder : folders) {
        if (folder.streams == 1)
            layout.streamCrcs[folder.firstStream] = folder.crc;
    }
    for (; id != kEnd; id = in.Byte()) {
        if (id == kCrc) {
            std::size_t unknown = 0;
            for (const auto& folder : folders) {
                if (folder.streams != 1 || !folder.crc)
                    unknown += folder.streams;
            }
            const auto crcs = in.Digests(unknown);
            std::size_t next = 0;
            for (const auto& folder : folders) {
                if (folder.streams == 1 && folder.crc)
                    continue;
                for (std::size_t j = 0; j < folder.streams; ++j)
                    layout.streamCrcs[folder.firstStream + j] = crcs[next++];
            }
        } else {
            in.SkipData();
        }
    }
}

struct StreamsInfo {
    StreamLayout layout;
    bool hasSubStreams = false;
};

StreamsInfo ReadStreamsInfo(ByteReader& in) {
    StreamsInfo info;
    auto& layout = info.layout;
    std::uint8_t id = in.Byte();
    if (id == kPackInfo) {
        ReadPackInfo(in, layout);
        id = in.Byte();
    }
    if (id == kUnpackInfo) {
        ReadUnpackInfo(in, layout);
        id = in.Byte();
    }
    if (id == kSubStreamsInfo) {
        ReadSubStreamsInfo(in, layout);
        info.hasSubStreams = true;
        id = in.Byte();
    } else {
        for (auto& folder : layout.folders) {
            folder.firstStream = layout.streamSizes.size();
            layout.streamSizes.push_back(folder.UnpackSize());
            layout.streamCrcs.push_back(folder.crc);
        }
    }
    if (id != kEnd)
        throw Malformed{};
    return info;
}

std::string ReadName(ByteReader& in) {
    std::u16string name;
    for (;;) {
        const auto unit = static_cast<char16_t>(in.Fixed(2));
        if (unit == 0)
            break;
        name.push_back(unit);
    }
    // 7zz stores a name byte that is not UTF-8 as U+EF80..U+EFFF and writes the byte back.
    std::string bytes;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && (name[i] < 0xEF80 || name[i] > 0xEFFF))
            continue;
        auto utf8 = cptlib::Utf16ToUtf8(std::u16string_view(name).substr(begin, i - begin));
        if (!utf8)
            throw Malformed{};
        bytes += *utf8;
        if (i < name.size())
            bytes += static_cast<char>(name[i] - 0xEF00);
        begin = i + 1;
    }
    in.Charge(bytes.size() + 1, 1);
    return bytes;
}

void ReadFilesInfo(ByteReader& in, const std::vector<std::uint64_t>& streamSizes,
                   ArchiveIndex& index, std::vector<std::optional<std::size_t>>& itemStreams) {
    const std::size_t files = in.Count();
    // The item, its stream and its attribute and time while they are read.
    in.Charge(files, sizeof(ArchiveItem) + sizeof(std::optional<std::size_t>) +
                         sizeof(std::uint32_t) + sizeof(std::uint64_t) + sizeof(std::string));
    std::vector<bool> emptyStream(files, false);
    std::vector<bool> emptyFile;
    std::vector<bool> anti;
    std::vector<std::string> names;
    std::vector<bool> hasAttributes(files, false);
    std::vector<std::uint32_t> attributes;
    std::vector<bool> hasTime(files, false);
    std::vector<std::uint64_t> times;
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        ByteReader property(in.Take(in.Number()), in.Shared());
        const auto empties =
            static_cast<std::size_t>(std::count(emptyStream.begin(), emptyStream.end(), true));
        switch (id) {
        case kEmptyStream:
            emptyStream = property.Bits(files);
            break;
        case kEmptyFile:
            emptyFile = property.Bits(empties);
            break;
        case kAnti:
            anti = property.Bits(empties);
            break;
        case kName:
            if (property.Byte() != 0)
                throw Malformed{};
            for (std::size_t i = 0; i < files; ++i)
                names.push_back(ReadName(property));
            break;
        case kWinAttributes: {
            hasAttributes =
                property.Byte() != 0 ? std::vector<bool>(files, true) : property.Bits(files);
            if (property.Byte() != 0)
                throw Malformed{};
            attributes.assign(files, 0);
            for (std::size_t i = 0; i < files; ++i) {
                if (hasAttributes[i])
                    attributes[i] = static_cast<std::uint32_t>(property.Fixed(4));
            }
            break;
        }
        case kMTime: {
            hasTime = property.Byte() != 0 ? std::vector<bool>(files, true) : property.Bits(files);
            if (property.Byte() != 0)
                throw Malformed{};
            times.assign(files, 0);
            for (std::size_t i = 0; i < files; ++i) {
                if (hasTime[i])
                    times[i] = property.Fixed(8);
            }
            break;
        }
        default: // other times and padding do not matter here
            break;
        }
    }
    if (names.size() != files)
        throw Malformed{};

    std::size_t stream = 0;
    std::size_t empty = 0;
    for (std::size_t i = 0; i < files; ++i) {
        ArchiveItem item;
        item.name = std::move(names[i]);
        bool folder = false;
        std::optional<std::size_t> itemStream;
        if (!emptyStream[i]) {
            if (stream >= streamSizes.size())
                throw Malformed{};
            itemStream = stream;
            item.size = streamSizes[stream++];
        } else {
            folder = empty >= emptyFile.size() || !emptyFile[empty];
            const bool isAnti = empty < anti.size() && anti[empty];
            ++empty;
            if (isAnti) // a deletion marker of an update, nothing to extract
                continue;
        }
        if (hasAttributes[i]) {
            const std::uint32_t attribute = attributes[i];
            folder = folder || (attribute & kAttributeDirectory) != 0;
            if ((attribute & kAttributeUnixExtension) != 0) {
                const std::uint32_t unixMode = attribute >> 16;
                item.hasMode = true;
                item.mode = unixMode & 07777;
                const std::uint32_t type = unixMode & kUnixTypeMask;
                if (type == kUnixLink)
                    item.type = ArchiveItemType::Symlink;
                item.special = type != 0 && type != kUnixLink && type != kUnixDirectory &&
                               type != kUnixRegular;
                folder = folder || (unixMode & kUnixTypeMask) == kUnixDirectory;
            }
        }
        if (folder && item.type != ArchiveItemType::Symlink)
            item.type = ArchiveItemType::Folder;
        if (hasTime[i])
            item.mtime =
                static_cast<std::int64_t>(times[i] / kTicksPerSecond) - kSecondsFrom1601To1970;
        index.items.push_back(std::move(item));
        itemStreams.push_back(itemStream);
    }
    if (stream != streamSizes.size())
        throw Malformed{};
}

void ReadPlainHeader(ByteReader& in, ArchiveIndex& index, ArchiveLayout& layout) {
    std::uint8_t id = in.Byte();
    if (id == kArchiveProperties) {
        while (in.Byte() != 0)
            in.SkipData();
        id = in.Byte();
    }
    if (id == kAdditionalStreamsInfo) // only for external header data, which we do not read
        throw Malformed{};
    StreamLayout& streams = layout.streams;
    if (id == kMainStreamsInfo) {
        streams = ReadStreamsInfo(in).layout;
        id = in.Byte();
    }
    if (id == kFilesInfo) {
        ReadFilesInfo(in, streams.streamSizes, index, layout.itemStreams);
        id = in.Byte();
    } else if (!streams.streamSizes.empty()) {
        throw Malformed{};
    }
    if (id != kEnd)
        throw Malformed{};
    for (const std::uint64_t size : streams.streamSizes)
        index.totalSize = CheckedAdd(index.totalSize, size);
}

void ReadEncodedHeader(ByteReader& in, std::span<const std::uint8_t> bytes,
                       EncodedHeader& encoded) {
    const std::size_t start = in.Position();
    in.Expect(kPackInfo);
    in.Number();
    const std::size_t rest = in.Position();
    ByteReader streams(bytes.subspan(start), in.Shared());
    const StreamsInfo info = ReadStreamsInfo(streams);
    const StreamLayout& layout = info.layout;
    std::uint64_t packSize = 0;
    for (const std::uint64_t size : layout.packSizes)
        packSize += size;
    if (layout.streamSizes.size() != 1 || layout.folders.size() != 1 || packSize == 0)
        throw Malformed{};
    encoded.packPosition = layout.packPosition;
    encoded.packSize = packSize;
    encoded.unpackSize = layout.streamSizes.front();
    encoded.layout = layout;
    encoded.streamsInfo = {kPackInfo, 0x00};
    const auto tail = bytes.subspan(rest, start + streams.Position() - rest);
    encoded.streamsInfo.insert(encoded.streamsInfo.end(), tail.begin(), tail.end());
    // The library counts a file's stream only through the sub-streams part: one empty part
    // (one stream per folder) goes before the closing id.
    if (!info.hasSubStreams)
        encoded.streamsInfo.insert(encoded.streamsInfo.end() - 1, {kSubStreamsInfo, kEnd});
}

void PutFixed(std::vector<std::uint8_t>& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

bool FolderInfo::Enciphered() const {
    return std::any_of(coders.begin(), coders.end(),
                       [](const CoderInfo& coder) { return coder.method == kMethodAes; });
}

std::uint64_t StreamLayout::PackOffset(std::size_t packStream) const {
    if (packStream < packOffsets.size())
        return packOffsets[packStream];
    std::uint64_t offset = packPosition;
    for (std::size_t i = 0; i < packStream && i < packSizes.size(); ++i)
        offset += packSizes[i];
    return offset;
}

HeaderKind ParseHeader(std::span<const std::uint8_t> bytes, ArchiveIndex& index,
                       EncodedHeader& encoded, ArchiveLayout* layout, std::uint64_t budget) {
    try {
        Budget left{budget == 0 ? kMaxBookkeeping : std::min(budget, kMaxBookkeeping)};
        ByteReader in(bytes, left);
        const std::uint8_t id = in.Byte();
        if (id == kHeader) {
            ArchiveIndex parsed;
            ArchiveLayout parsedLayout;
            ReadPlainHeader(in, parsed, parsedLayout);
            index = std::move(parsed);
            if (layout != nullptr)
                *layout = std::move(parsedLayout);
            return HeaderKind::Plain;
        }
        if (id == kEncodedHeader) {
            EncodedHeader parsed;
            ReadEncodedHeader(in, bytes, parsed);
            encoded = std::move(parsed);
            return HeaderKind::Encoded;
        }
    } catch (const Malformed&) {
    } catch (const OverBudget&) {
        return HeaderKind::OverBudget;
    }
    return HeaderKind::Invalid;
}

std::vector<std::uint8_t> MakeHeaderArchive(const EncodedHeader& encoded,
                                            std::span<const std::uint8_t> packed) {
    std::vector<std::uint8_t> header = {kHeader, kMainStreamsInfo};
    header.insert(header.end(), encoded.streamsInfo.begin(), encoded.streamsInfo.end());
    // One file named "h": the name property holds "not external" and the UTF-16 name.
    const std::uint8_t files[] = {kFilesInfo, 1, kName, 5, 0, 'h', 0, 0, 0, kEnd, kEnd};
    header.insert(header.end(), std::begin(files), std::end(files));

    std::vector<std::uint8_t> archive(std::begin(kSignature), std::end(kSignature));
    archive.push_back(0);
    archive.push_back(4);
    std::vector<std::uint8_t> start;
    PutFixed(start, packed.size(), 8);
    PutFixed(start, header.size(), 8);
    PutFixed(start, Crc32(header), 4);
    PutFixed(archive, Crc32(start), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    archive.insert(archive.end(), packed.begin(), packed.end());
    archive.insert(archive.end(), header.begin(), header.end());
    return archive;
}

} // namespace sfx::sevenzip
