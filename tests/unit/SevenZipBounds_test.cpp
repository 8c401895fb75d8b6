// The own reader's bounds: header lists charged against the memory the archive pays for, a
// stop that ends key derivation, and refused key derivations named in words.

#include "format/ArchiveReader.h"
#include "format/SevenZipHeader.h"
#include "support/Files.h"
#include "support/HostileArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

using namespace sfx;
using testsupport::hostile::Bytes;
using testsupport::hostile::PutNumber;
namespace fs = std::filesystem;

// A plain header listing `count` empty pack streams and nothing else.
Bytes PackStreamsHeader(std::size_t count) {
    Bytes header = {0x01, 0x04, 0x06, 0x00};
    PutNumber(header, count);
    header.push_back(0x09);
    header.resize(header.size() + count, 0x00);
    header.insert(header.end(), {0x00, 0x00, 0x00});
    return header;
}

TEST(SevenZipBounds, ListsAreChargedAgainstTheBudgetBeforeTheyAreMade) {
    struct Case {
        std::size_t streams;
        std::uint64_t budget;
        sevenzip::HeaderKind expected;
    };
    const Case cases[] = {
        {1000, 1u << 20, sevenzip::HeaderKind::Plain},
        {1000, 8000, sevenzip::HeaderKind::OverBudget},
        {100'000, 1u << 20, sevenzip::HeaderKind::OverBudget},
        {100'000, 4u << 20, sevenzip::HeaderKind::Plain},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.streams << " streams, budget " << c.budget);
        const Bytes header = PackStreamsHeader(c.streams);
        ArchiveIndex index;
        sevenzip::EncodedHeader encoded;
        sevenzip::ArchiveLayout layout;
        EXPECT_EQ(sevenzip::ParseHeader(header, index, encoded, &layout, c.budget), c.expected);
        if (c.expected == sevenzip::HeaderKind::Plain) {
            EXPECT_EQ(layout.streams.packSizes.size(), c.streams);
        }
    }
}

// Real archives of tiny items fit; a megabyte of header claims does not reach 64 MiB.
TEST(SevenZipBounds, TheBudgetFollowsTheArchiveSize) {
    EXPECT_LE(sevenzip::BookkeepingBudget(1u << 20), 48u << 20);
    // 100,000 one-byte files in 100 folders: a 242,720-byte archive with some 25 MB of lists.
    EXPECT_GE(sevenzip::BookkeepingBudget(242'720), 28u << 20);
    // A million in a few megabytes.
    EXPECT_GE(sevenzip::BookkeepingBudget(3u << 20), 256u << 20);
}

// Stored folders, each enciphered with the given key derivation rounds and its own salt.
Bytes EncipheredFolders(const std::vector<unsigned>& cycles) {
    const std::size_t count = cycles.size();
    Bytes header = {0x01, 0x04, 0x06, 0x00};
    PutNumber(header, count);
    header.push_back(0x09);
    header.resize(header.size() + count, 0x10);
    header.insert(header.end(), {0x00, 0x07, 0x0B});
    PutNumber(header, count);
    header.push_back(0x00);
    for (std::size_t i = 0; i < count; ++i) {
        header.insert(header.end(), {0x01, 0x24, 0x06, 0xF1, 0x07, 0x01, 19});
        header.insert(header.end(), {static_cast<std::uint8_t>(0xC0 | cycles[i]), 0x0F,
                                     static_cast<std::uint8_t>(i)});
        header.resize(header.size() + 16, 0x42); // the IV
    }
    header.push_back(0x0C);
    header.resize(header.size() + count, 0x10);
    header.insert(header.end(), {0x00, 0x00});
    Bytes names = {0x00};
    for (std::size_t i = 0; i < count; ++i)
        names.insert(names.end(), {static_cast<std::uint8_t>('a' + i), 0, 0, 0});
    header.push_back(0x05);
    PutNumber(header, count);
    header.push_back(0x11);
    PutNumber(header, names.size());
    header.insert(header.end(), names.begin(), names.end());
    header.insert(header.end(), {0x00, 0x00});
    return testsupport::hostile::Assemble(Bytes(16 * count, 0x33), header);
}

std::unique_ptr<IArchiveReader> ReaderOf(const fs::path& path, const Bytes& bytes) {
    testsupport::WriteFile(path, std::string(bytes.begin(), bytes.end()));
    return MakeArchiveReader(path.string(), 0, [](std::string& password) {
        password = "secret";
        return cptlib::kHrOk;
    });
}

// Reads every item to its end: the first failure, or success.
ArchiveStatus ReadAll(IArchiveReader& reader) {
    ArchiveIndex index;
    if (ArchiveStatus status = reader.ReadIndex(index); !status.Ok())
        return status;
    for (;;) {
        ArchiveItem item;
        bool more = false;
        if (ArchiveStatus status = reader.NextItem(item, more); !status.Ok() || !more)
            return status;
        for (;;) {
            std::span<const std::uint8_t> block;
            if (ArchiveStatus status = reader.ReadBlock(block); !status.Ok())
                return status;
            if (block.empty())
                break;
        }
    }
}

// Four folders at 2^24 rounds (over a second each), all decoders at work: a stop asked for
// while the first key is derived ends the reading at once, and no further key is derived.
TEST(SevenZipBounds, AStopEndsKeyDerivation) {
    testsupport::TempDir dir;
    ::setenv("SFX_DECODERS", "4", 1);
    auto reader = ReaderOf(dir.path() / "keys.7z", EncipheredFolders({24, 24, 24, 24}));
    ::unsetenv("SFX_DECODERS");
    std::atomic<bool> stop = false;
    reader->SetCancelCheck([&] { return stop.load(); });
    std::chrono::steady_clock::time_point asked;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        asked = std::chrono::steady_clock::now();
        stop = true;
    });
    const ArchiveStatus status = ReadAll(*reader);
    const auto ended = std::chrono::steady_clock::now();
    stopper.join();
    EXPECT_EQ(status.code, kHrAbort);
    EXPECT_LT(ended - asked, std::chrono::seconds(2));
}

// Rounds beyond what is derived in reasonable time are refused in words naming the method and
// the count, not as a bare code.
TEST(SevenZipBounds, RefusedKeyDerivationsSayWhy) {
    testsupport::TempDir dir;
    for (const unsigned cycles : {25u, 62u}) {
        SCOPED_TRACE(cycles);
        auto reader = ReaderOf(dir.path() / "rounds.7z", EncipheredFolders({cycles}));
        const ArchiveStatus status = ReadAll(*reader);
        EXPECT_FALSE(status.Ok());
        EXPECT_NE(status.text.find("7zAES"), std::string::npos) << status.text;
        EXPECT_NE(status.text.find("2^" + std::to_string(cycles)), std::string::npos)
            << status.text;
    }
}

} // namespace
