#pragma once
// Small hostile 7z archives built byte by byte: valid check sums around headers that claim
// what the payload cannot back (huge counts, link targets, decoded sizes, dictionaries). For
// the launcher's tests and for fuzzing from a valid start.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport::hostile {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t Crc32(const Bytes& bytes) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

inline void PutFixed(Bytes& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i)
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The header's variable-length number: one byte below 0x80, else 0xFF and eight bytes.
inline void PutNumber(Bytes& out, std::uint64_t value) {
    if (value < 0x80) {
        out.push_back(static_cast<std::uint8_t>(value));
        return;
    }
    out.push_back(0xFF);
    PutFixed(out, value, 8);
}

// Signature header, `packed` data, then `header` as the next header, every check sum right.
inline Bytes Assemble(const Bytes& packed, const Bytes& header) {
    Bytes archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0, 4};
    Bytes start;
    PutFixed(start, packed.size(), 8);
    PutFixed(start, header.size(), 8);
    PutFixed(start, Crc32(header), 4);
    PutFixed(archive, Crc32(start), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    archive.insert(archive.end(), packed.begin(), packed.end());
    archive.insert(archive.end(), header.begin(), header.end());
    return archive;
}

// Streams info of one folder with one stored (copy) coder: `packSize` bytes at the start of
// the packed data that claim to unpack to `unpackSize`; `subStreams`, when not empty, is the
// body of the sub-streams part.
inline Bytes StoredStreams(std::uint64_t packSize, std::uint64_t unpackSize,
                           const Bytes& subStreams = {}) {
    Bytes out = {0x06}; // pack info
    PutNumber(out, 0);
    PutNumber(out, 1);
    out.push_back(0x09);
    PutNumber(out, packSize);
    out.push_back(0x00);
    out.insert(out.end(), {0x07, 0x0B}); // unpack info, folders
    PutNumber(out, 1);
    out.push_back(0x00);                    // not external
    out.insert(out.end(), {1, 0x01, 0x00}); // one coder: id of one byte, copy
    out.push_back(0x0C);
    PutNumber(out, unpackSize);
    out.push_back(0x00);
    if (!subStreams.empty()) {
        out.push_back(0x08);
        out.insert(out.end(), subStreams.begin(), subStreams.end());
    }
    out.push_back(0x00);
    return out;
}

// The files part for one item named `name` (ASCII) with the Unix mode `unixMode`.
inline Bytes OneFile(std::string_view name, std::uint32_t unixMode) {
    Bytes out = {0x05};
    PutNumber(out, 1);
    Bytes names = {0x00};
    for (const char c : name)
        names.insert(names.end(), {static_cast<std::uint8_t>(c), 0});
    names.insert(names.end(), {0, 0});
    out.push_back(0x11);
    PutNumber(out, names.size());
    out.insert(out.end(), names.begin(), names.end());
    out.push_back(0x15);
    PutNumber(out, 6);
    out.insert(out.end(), {0x01, 0x00});
    PutFixed(out, 0x8000u | (static_cast<std::uint64_t>(unixMode) << 16), 4);
    out.push_back(0x00);
    return out;
}

inline Bytes PlainHeader(const Bytes& streams, const Bytes& files) {
    Bytes header;
    header.reserve(2 + streams.size() + files.size() + 1);
    header.push_back(0x01); // header
    header.push_back(0x04); // main streams info
    header.insert(header.end(), streams.begin(), streams.end());
    header.insert(header.end(), files.begin(), files.end());
    header.push_back(0x00);
    return header;
}

// One file whose folder claims 99,999,999 streams in a header of some dozen bytes: the
// largest count another reader takes on trust, allocating and walking them all.
inline Bytes HugeStreamCount() {
    const Bytes data = {'d', 'a', 't', 'a'};
    Bytes sub = {0x0D};
    PutNumber(sub, 99'999'999);
    sub.push_back(0x00);
    return Assemble(data, PlainHeader(StoredStreams(data.size(), data.size(), sub),
                                      OneFile("data.txt", 0100644)));
}

// 202 bytes, found by mutating a small archive of 7zz with the check sums kept right: its
// encoded header claims a folder count of some millions in a few bytes, and another reader
// spins on it for ever.
inline Bytes LoopingHeader() {
    return {0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04, 0x21, 0xB6, 0x4D, 0x9E, 0x89, 0x00,
            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46, 0xAD, 0x0F, 0x93, 0xE0, 0x00, 0x3C, 0x00, 0x12, 0x5D, 0x00, 0x34, 0x19, 0x49,
            0xEE, 0x8D, 0xDD, 0x17, 0x23, 0x3A, 0x09, 0x21, 0xD3, 0xAA, 0x87, 0xC2, 0x1E, 0x2F,
            0x00, 0x00, 0x00, 0x00, 0x81, 0x33, 0x07, 0xAE, 0x0F, 0xCF, 0xA4, 0x2E, 0xB8, 0x0F,
            0xEB, 0xEA, 0x9C, 0xBF, 0x36, 0x3D, 0xFE, 0x9E, 0xAC, 0x3B, 0x02, 0x76, 0xA7, 0x5F,
            0x4A, 0xE8, 0x0D, 0xFB, 0x30, 0xEA, 0x87, 0xCA, 0xF7, 0x2E, 0x94, 0x89, 0x6A, 0xE7,
            0xCF, 0x9F, 0xCD, 0x78, 0x53, 0x59, 0xC3, 0xF3, 0x9C, 0x32, 0x73, 0x45, 0xF5, 0xC9,
            0x82, 0xD1, 0x25, 0x94, 0xE8, 0x92, 0xDC, 0xAA, 0xEB, 0xC1, 0x2C, 0x18, 0x37, 0x18,
            0xD1, 0x3A, 0xC5, 0x12, 0x20, 0xE7, 0x19, 0x6A, 0xB3, 0xF0, 0x15, 0x1E, 0xC6, 0x43,
            0x80, 0x73, 0x77, 0x7E, 0xA7, 0xFF, 0x3C, 0xEB, 0x81, 0xA4, 0xAB, 0x25, 0x33, 0xA5,
            0xD6, 0x96, 0x8E, 0x5E, 0x7F, 0x8E, 0x01, 0x96, 0x73, 0x0E, 0xE4, 0x5F, 0x00, 0x00,
            0x00, 0x17, 0x06, 0x1A, 0x01, 0x09, 0x6F, 0x00, 0x07, 0x0B, 0xE1, 0x00, 0x01, 0x23,
            0x00, 0x01, 0x01, 0x05, 0x5D, 0x00, 0x10, 0x00, 0x00, 0x0C, 0x80, 0x8A, 0x0A, 0xB9,
            0x03, 0x01, 0x2C, 0xDF, 0x00, 0x01};
}

// A symbolic link whose stored target has `targetSize` bytes.
inline Bytes LongLinkTarget(std::size_t targetSize) {
    const Bytes target(targetSize, 'a');
    return Assemble(
        target, PlainHeader(StoredStreams(target.size(), target.size()), OneFile("link", 0120777)));
}

// `count` empty folders, each named "a", in a plain header and no packed data: about four
// bytes a folder, the least an item can cost in the headers.
inline Bytes ManyEmptyFolders(std::size_t count) {
    Bytes files;
    files.reserve(16 + count / 8 + count * 4);
    files.push_back(0x05);
    PutNumber(files, count);
    files.push_back(0x0E); // empty streams: every item
    PutNumber(files, (count + 7) / 8);
    files.insert(files.end(), (count + 7) / 8, 0xFF);
    files.push_back(0x11); // names
    PutNumber(files, 1 + count * 4);
    files.push_back(0x00);
    for (std::size_t i = 0; i < count; ++i)
        files.insert(files.end(), {'a', 0, 0, 0});
    files.push_back(0x00);
    files.push_back(0x00);
    files.insert(files.begin(), 0x01); // a plain header of the files part alone
    return Assemble({}, files);
}

// An encoded header (stored) that claims to decode to `claimed` bytes.
inline Bytes HugeEncodedHeader(std::uint64_t claimed) {
    const Bytes packed(64, 0x01);
    Bytes header = {0x17};
    const Bytes streams = StoredStreams(packed.size(), claimed);
    header.insert(header.end(), streams.begin(), streams.end());
    return Assemble(packed, header);
}

// `archive`, a 7z archive with a plain header, with the dictionary of its LZMA2 coder set
// to the property `property` (37: 1.5 GiB); empty when it has no such coder.
inline Bytes WithLzma2Dictionary(Bytes archive, std::uint8_t property) {
    if (archive.size() < 32)
        return {};
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    for (int i = 7; i >= 0; --i) {
        offset = offset << 8 | archive[12 + i];
        size = size << 8 | archive[20 + i];
    }
    const std::uint64_t start = 32 + offset;
    if (start + size != archive.size() || archive[start] != 0x01)
        return {};
    // The coder: flags (one-byte id, with properties), LZMA2's id, one property byte.
    bool found = false;
    for (std::uint64_t i = start; i + 3 < archive.size(); ++i) {
        if (archive[i] == 0x21 && archive[i + 1] == 0x21 && archive[i + 2] == 0x01) {
            archive[i + 3] = property;
            found = true;
        }
    }
    if (!found)
        return {};
    const Bytes header(archive.begin() + static_cast<std::ptrdiff_t>(start), archive.end());
    const std::uint32_t crc = Crc32(header);
    for (int i = 0; i < 4; ++i)
        archive[28 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
    const std::uint32_t startCrc = Crc32(Bytes(archive.begin() + 12, archive.begin() + 32));
    for (int i = 0; i < 4; ++i)
        archive[8 + i] = static_cast<std::uint8_t>(startCrc >> (8 * i));
    return archive;
}

} // namespace testsupport::hostile
