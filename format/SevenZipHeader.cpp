#include "format/SevenZipHeader.h"

#include "cptlib/Utf.h"

#include <algorithm>
#include <limits>

namespace sfx::sevenzip {

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

// The method id of 7zAES.
constexpr std::uint8_t kAesMethod[] = {0x06, 0xF1, 0x07, 0x01};

// Coders and streams per folder are few; anything larger is damage.
constexpr std::uint64_t kMaxCoderStreams = 64;
// More items than any payload has; it bounds the memory a damaged count can claim.
constexpr std::size_t kMaxFiles = std::size_t(1) << 22;

struct Malformed {};

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

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
    std::vector<bool> Digests(std::size_t count) {
        std::vector<bool> defined = Byte() != 0 ? std::vector<bool>(count, true) : Bits(count);
        Skip(4 * static_cast<std::uint64_t>(std::count(defined.begin(), defined.end(), true)));
        return defined;
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > std::numeric_limits<std::uint64_t>::max() - b)
        throw Malformed{};
    return a + b;
}

struct PackInfo {
    std::uint64_t position = 0;
    std::uint64_t size = 0;
};

PackInfo ReadPackInfo(ByteReader& in) {
    PackInfo info;
    info.position = in.Number();
    const std::size_t streams = in.Count();
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kSize) {
            for (std::size_t i = 0; i < streams; ++i)
                info.size = CheckedAdd(info.size, in.Number());
        } else if (id == kCrc) {
            in.Digests(streams);
        } else {
            in.SkipData();
        }
    }
    return info;
}

struct Folder {
    std::size_t outStreams = 0;
    std::size_t mainOut = 0;
    std::uint64_t unpackSize = 0;
    bool hasCrc = false;
    bool enciphered = false; // one of its coders is 7zAES
};

Folder ReadFolder(ByteReader& in) {
    const std::uint64_t coders = in.Number();
    if (coders == 0 || coders > kMaxCoderStreams)
        throw Malformed{};
    std::uint64_t inStreams = 0;
    std::uint64_t outStreams = 0;
    bool enciphered = false;
    for (std::uint64_t i = 0; i < coders; ++i) {
        const std::uint8_t flags = in.Byte();
        if ((flags & 0x80) != 0) // alternative methods were never used
            throw Malformed{};
        const auto method = in.Take(flags & 0x0F);
        enciphered = enciphered || std::equal(method.begin(), method.end(), std::begin(kAesMethod),
                                              std::end(kAesMethod));
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
        if ((flags & 0x20) != 0)
            in.SkipData();
    }
    // Every out stream but the folder's result feeds an in stream; the in streams left over
    // read packed data, at least one. (Kept in this form: GCC 12.2 at -O2 miscompiled an
    // earlier one that checked the packed count after the loop.)
    if (outStreams == 0 || inStreams < outStreams)
        throw Malformed{};
    const std::uint64_t bindPairs = outStreams - 1;
    const std::uint64_t packed = inStreams - bindPairs;
    std::vector<bool> boundOut(outStreams, false);
    for (std::uint64_t pair = 0; pair < bindPairs; ++pair) {
        const std::uint64_t inIndex = in.Number();
        const std::uint64_t outIndex = in.Number();
        if (inIndex >= inStreams || outIndex >= outStreams || boundOut[outIndex])
            throw Malformed{};
        boundOut[outIndex] = true;
    }
    if (packed > 1) {
        for (std::uint64_t i = 0; i < packed; ++i)
            in.Number();
    }
    Folder folder;
    folder.outStreams = static_cast<std::size_t>(outStreams);
    folder.enciphered = enciphered;
    folder.mainOut = static_cast<std::size_t>(std::find(boundOut.begin(), boundOut.end(), false) -
                                              boundOut.begin());
    return folder;
}

std::vector<Folder> ReadUnpackInfo(ByteReader& in) {
    in.Expect(kFolder);
    const std::size_t count = in.Count();
    if (count > kMaxFiles)
        throw Malformed{};
    if (in.Byte() != 0) // folders kept in another stream
        throw Malformed{};
    std::vector<Folder> folders;
    folders.reserve(count);
    for (std::size_t i = 0; i < count; ++i)
        folders.push_back(ReadFolder(in));
    in.Expect(kCodersUnpackSize);
    for (auto& folder : folders) {
        for (std::size_t out = 0; out < folder.outStreams; ++out) {
            const std::uint64_t size = in.Number();
            if (out == folder.mainOut)
                folder.unpackSize = size;
        }
    }
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        if (id == kCrc) {
            const auto defined = in.Digests(folders.size());
            for (std::size_t i = 0; i < folders.size(); ++i)
                folders[i].hasCrc = defined[i];
        } else {
            in.SkipData();
        }
    }
    return folders;
}

// The unpacked size of every stream, in order.
std::vector<std::uint64_t> ReadSubStreamsInfo(ByteReader& in, const std::vector<Folder>& folders) {
    std::vector<std::uint64_t> perFolder(folders.size(), 1);
    std::uint8_t id = in.Byte();
    for (;;) {
        if (id == kNumUnpackStream) {
            for (auto& count : perFolder)
                count = in.Count();
        } else if (id == kCrc || id == kSize || id == kEnd) {
            break;
        } else {
            in.SkipData();
        }
        id = in.Byte();
    }
    std::vector<std::uint64_t> sizes;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        if (perFolder[f] == 0)
            continue;
        if (id != kSize && perFolder[f] > 1)
            throw Malformed{};
        std::uint64_t sum = 0;
        if (id == kSize) {
            for (std::uint64_t j = 1; j < perFolder[f]; ++j) {
                const std::uint64_t size = in.Number();
                sum = CheckedAdd(sum, size);
                sizes.push_back(size);
            }
        }
        if (sum > folders[f].unpackSize)
            throw Malformed{};
        sizes.push_back(folders[f].unpackSize - sum);
    }
    if (id == kSize)
        id = in.Byte();
    for (; id != kEnd; id = in.Byte()) {
        if (id == kCrc) {
            std::size_t unknown = 0;
            for (std::size_t f = 0; f < folders.size(); ++f) {
                if (perFolder[f] != 1 || !folders[f].hasCrc)
                    unknown += static_cast<std::size_t>(perFolder[f]);
            }
            in.Digests(unknown);
        } else {
            in.SkipData();
        }
    }
    return sizes;
}

struct StreamsInfo {
    PackInfo pack;
    std::vector<std::uint64_t> streamSizes;
    bool hasSubStreams = false;
    bool enciphered = false;
};

StreamsInfo ReadStreamsInfo(ByteReader& in) {
    StreamsInfo info;
    std::vector<Folder> folders;
    std::uint8_t id = in.Byte();
    if (id == kPackInfo) {
        info.pack = ReadPackInfo(in);
        id = in.Byte();
    }
    if (id == kUnpackInfo) {
        folders = ReadUnpackInfo(in);
        info.enciphered = std::any_of(folders.begin(), folders.end(),
                                      [](const Folder& folder) { return folder.enciphered; });
        id = in.Byte();
    }
    if (id == kSubStreamsInfo) {
        info.streamSizes = ReadSubStreamsInfo(in, folders);
        info.hasSubStreams = true;
        id = in.Byte();
    } else {
        for (const auto& folder : folders)
            info.streamSizes.push_back(folder.unpackSize);
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
    auto utf8 = cptlib::Utf16ToUtf8(name);
    if (!utf8)
        throw Malformed{};
    return *utf8;
}

void ReadFilesInfo(ByteReader& in, const std::vector<std::uint64_t>& streamSizes,
                   ArchiveIndex& index) {
    const std::size_t files = in.Count();
    if (files > kMaxFiles)
        throw Malformed{};
    std::vector<bool> emptyStream(files, false);
    std::vector<bool> emptyFile;
    std::vector<bool> anti;
    std::vector<std::string> names;
    std::vector<bool> hasAttributes(files, false);
    std::vector<std::uint32_t> attributes;
    std::vector<bool> hasTime(files, false);
    std::vector<std::uint64_t> times;
    for (std::uint8_t id = in.Byte(); id != kEnd; id = in.Byte()) {
        ByteReader property(in.Take(in.Number()));
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
        if (!emptyStream[i]) {
            if (stream >= streamSizes.size())
                throw Malformed{};
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
    }
    if (stream != streamSizes.size())
        throw Malformed{};
}

void ReadPlainHeader(ByteReader& in, ArchiveIndex& index) {
    std::uint8_t id = in.Byte();
    if (id == kArchiveProperties) {
        while (in.Byte() != 0)
            in.SkipData();
        id = in.Byte();
    }
    if (id == kAdditionalStreamsInfo) // only for external header data, which we do not read
        throw Malformed{};
    StreamsInfo streams;
    if (id == kMainStreamsInfo) {
        streams = ReadStreamsInfo(in);
        id = in.Byte();
    }
    if (id == kFilesInfo) {
        ReadFilesInfo(in, streams.streamSizes, index);
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
    ByteReader streams(bytes.subspan(start));
    const StreamsInfo info = ReadStreamsInfo(streams);
    if (info.streamSizes.size() != 1 || info.pack.size == 0)
        throw Malformed{};
    encoded.packPosition = info.pack.position;
    encoded.enciphered = info.enciphered;
    encoded.packSize = info.pack.size;
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

HeaderKind ParseHeader(std::span<const std::uint8_t> bytes, ArchiveIndex& index,
                       EncodedHeader& encoded) {
    try {
        ByteReader in(bytes);
        const std::uint8_t id = in.Byte();
        if (id == kHeader) {
            ArchiveIndex parsed;
            ReadPlainHeader(in, parsed);
            index = std::move(parsed);
            return HeaderKind::Plain;
        }
        if (id == kEncodedHeader) {
            EncodedHeader parsed;
            ReadEncodedHeader(in, bytes, parsed);
            encoded = std::move(parsed);
            return HeaderKind::Encoded;
        }
    } catch (const Malformed&) {
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
