// The file digest counts bytes in whatever order and pieces the readers pull them, and ignores
// the bytes that may change after the build.

#include "format/FileDigest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace {

using sfx::DigestBuilder;
using sfx::DigestLayout;

std::vector<std::uint8_t> Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

DigestBuilder::RangeReader ReaderOf(const std::vector<std::uint8_t>& file,
                                    std::uint64_t* read = nullptr) {
    return [&file, read](std::uint64_t offset, std::uint8_t* out, std::size_t length) {
        if (offset + length > file.size())
            return false;
        std::memcpy(out, file.data() + offset, length);
        if (read)
            *read += length;
        return true;
    };
}

TEST(FileDigest, ReadsInAnyOrderGiveTheDigestOfTheWholeFile) {
    const std::vector<std::uint8_t> file = Bytes(3 * sfx::kDigestPiece + 12345, 1);
    const DigestLayout layout{file.size(), 100, {{100, 32}, {5000, 256}}};
    const auto whole = sfx::ComputeDigest(layout, ReaderOf(file));
    ASSERT_TRUE(whole);

    struct Case {
        const char* what;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> reads; // offset, size
        std::uint64_t unseen;                                       // what Finish must read
    };
    const std::uint64_t piece = sfx::kDigestPiece, size = file.size();
    const Case cases[] = {
        {"front to back in odd pieces",
         {{0, 700000}, {700000, 2500000}, {3200000, size - 3200000}},
         0},
        // Two decoders side by side, each in order from its own start: the piece where the
        // second begins is read again at the end.
        {"two readers interleaved",
         {{2 * piece + 10, 400000},
          {0, 900000},
          {2 * piece + 400010, size - 2 * piece - 400010},
          {900000, 2 * piece + 10 - 900000}},
         piece - 10},
        {"overlapping re-reads", {{0, 600000}, {100, 800000}, {0, size}, {500, 20}}, 0},
        {"back to front", {{size - 1000, 1000}, {0, 10}}, size - 10},
        {"nothing", {}, size},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DigestBuilder builder(layout);
        for (const auto& [offset, length] : c.reads)
            builder.BytesRead(offset, file.data() + offset, static_cast<std::size_t>(length));
        EXPECT_EQ(builder.Unseen(), c.unseen);
        std::uint64_t read = 0;
        EXPECT_EQ(builder.Finish(ReaderOf(file, &read)), whole);
        EXPECT_EQ(read, c.unseen);
    }
}

TEST(FileDigest, OnlyTheZeroedRangesMayChange) {
    std::vector<std::uint8_t> file = Bytes(sfx::kDigestPiece + 5000, 2);
    const DigestLayout layout{file.size(), 100, {{100, 32}, {sfx::kDigestPiece - 10, 300}}};
    const auto original = sfx::ComputeDigest(layout, ReaderOf(file));
    for (const std::uint64_t at : {std::uint64_t(100), std::uint64_t(131), sfx::kDigestPiece - 10,
                                   sfx::kDigestPiece + 289}) {
        std::vector<std::uint8_t> changed = file;
        changed[at] ^= 0xFF;
        EXPECT_EQ(sfx::ComputeDigest(layout, ReaderOf(changed)), original) << at;
    }
    for (const std::uint64_t at :
         {std::uint64_t(0), std::uint64_t(99), std::uint64_t(132), sfx::kDigestPiece - 11,
          sfx::kDigestPiece + 290, file.size() - 1}) {
        std::vector<std::uint8_t> changed = file;
        changed[at] ^= 0x01;
        EXPECT_NE(sfx::ComputeDigest(layout, ReaderOf(changed)), original) << at;
    }
    // Bytes behind the covered length do not count; a file cut short cannot be read.
    std::vector<std::uint8_t> longer = file;
    longer.push_back(7);
    EXPECT_EQ(sfx::ComputeDigest(layout, ReaderOf(longer)), original);
    std::vector<std::uint8_t> shorter(file.begin(), file.end() - 1);
    EXPECT_FALSE(sfx::ComputeDigest(layout, ReaderOf(shorter)));
}

} // namespace
