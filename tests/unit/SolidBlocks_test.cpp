// Archives of many solid blocks: folders decoded side by side still deliver every item in archive
// order, fail at the damaged block's place, and stop promptly when the reader goes.

#include "format/ArchiveReader.h"

#include "format/SevenZipHeader.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Delivered {
    ArchiveStatus status;
    std::vector<std::string> names; // every item NextItem gave, in order
    std::map<std::string, std::string> data;
};

Delivered ReadAll(const fs::path& archive) {
    Delivered out;
    const auto reader = MakeArchiveReader(archive.string(), 0);
    ArchiveIndex index;
    out.status = reader->ReadIndex(index);
    if (!out.status.Ok())
        return out;
    for (std::size_t number = 0;; ++number) {
        ArchiveItem item;
        bool more = false;
        out.status = reader->NextItem(item, more);
        if (!out.status.Ok() || !more)
            return out;
        EXPECT_EQ(item.name, index.items.at(number).name);
        out.names.push_back(item.name);
        if (item.type != ArchiveItemType::File)
            continue;
        std::string& bytes = out.data[item.name];
        for (;;) {
            std::span<const std::uint8_t> block;
            out.status = reader->ReadBlock(block);
            if (!out.status.Ok())
                return out;
            if (block.empty())
                break;
            bytes.append(block.begin(), block.end());
        }
    }
}

std::string Text(int lines, int seed) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * seed) + " of file " + std::to_string(seed) + "\n";
    return text;
}

class SolidBlocksTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path stage = dir.path() / "stage";
        fs::create_directories(stage / "sub");
        // Sizes that end pieces and blocks in odd places; executables for the branch filters.
        for (int i = 0; i < 6; ++i) {
            WriteFile(stage / ("text" + std::to_string(i) + ".txt"), Text(60000 + i * 777, i + 1));
            WriteFile(stage / "sub" / ("noise" + std::to_string(i) + ".bin"),
                      testsupport::IncompressibleBytes((1 << 20) + i * 4097));
        }
        fs::copy_file("/bin/ls", stage / "ls");
        WriteFile(stage / "empty.txt", "");
        for (const auto& entry : fs::recursive_directory_iterator(stage))
            if (entry.is_regular_file())
                expected[entry.path().lexically_relative(stage).string()] = ReadFile(entry.path());
    }

    fs::path Pack(const std::string& options) {
        return testsupport::Pack7z(dir.path() / "stage", dir.path() / "test.7z", options);
    }

    sevenzip::ArchiveLayout Layout(const fs::path& archive) {
        // Plain headers (-mhc=off) so that the layout reads without decoding.
        const std::string bytes = ReadFile(archive);
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
        std::uint64_t offset = 0;
        for (int i = 0; i < 8; ++i)
            offset |= std::uint64_t(data[12 + i]) << (8 * i);
        ArchiveIndex index;
        sevenzip::EncodedHeader encoded;
        sevenzip::ArchiveLayout layout;
        EXPECT_EQ(sevenzip::ParseHeader(std::span(data + 32 + offset, bytes.size() - 32 - offset),
                                        index, encoded, &layout),
                  sevenzip::HeaderKind::Plain);
        return layout;
    }

    TempDir dir;
    std::map<std::string, std::string> expected;
};

TEST_F(SolidBlocksTest, EveryBlockFormDeliversEveryItemInArchiveOrder) {
    const std::string forms[] = {
        "-ms=1m",          // many blocks of LZMA2 with the x86 filter
        "-ms=2f -m0=lzma", // two files a block, LZMA
        "-ms=e",           // a block per extension
        "-ms=3f -mf=BCJ2", // the four-stream filter
        "-ms=1f -m0=Copy", // stored, a block per file
        "-ms=on",          // one block: as before, no thread
    };
    for (const std::string& form : forms) {
        SCOPED_TRACE(form);
        fs::remove(dir.path() / "test.7z");
        const fs::path archive = Pack(form);
        ArchiveIndex index;
        ASSERT_TRUE(MakeArchiveReader(archive.string(), 0)->ReadIndex(index).Ok());
        const Delivered got = ReadAll(archive);
        EXPECT_TRUE(got.status.Ok()) << got.status.code << " " << got.status.text;
        EXPECT_EQ(got.names.size(), index.items.size());
        EXPECT_EQ(got.data, expected);
    }
}

TEST_F(SolidBlocksTest, ADamagedBlockInTheMiddleFailsInItsPlaceWithNothingAfter) {
    const fs::path archive = Pack("-ms=1f -mhc=off -mmt=1");
    const sevenzip::ArchiveLayout layout = Layout(archive);
    const auto& folders = layout.streams.folders;
    ASSERT_GE(folders.size(), 8u);
    // The damaged block's first item, by the order the items reach the blocks.
    const std::size_t damaged = folders.size() / 2;
    std::size_t firstItem = 0;
    while (!layout.itemStreams.at(firstItem) ||
           *layout.itemStreams[firstItem] != folders[damaged].firstStream)
        ++firstItem;
    std::string bytes = ReadFile(archive);
    const std::uint64_t at = 32 + layout.streams.PackOffset(folders[damaged].firstPackStream) + 40;
    for (std::uint64_t i = at; i < at + 64; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    WriteFile(archive, bytes);

    const Delivered got = ReadAll(archive);
    EXPECT_TRUE(got.status.code == cptlib::HRESULT_INVALID_DATA ||
                got.status.code == HRESULT_CRC_ERROR)
        << got.status.code;
    // Items before the damage are whole; the damaged item is the last one given.
    ASSERT_EQ(got.names.size(), firstItem + 1);
    for (std::size_t i = 0; i < firstItem; ++i) {
        if (got.data.count(got.names[i])) {
            EXPECT_EQ(got.data.at(got.names[i]), expected.at(got.names[i])) << got.names[i];
        }
    }
}

TEST_F(SolidBlocksTest, DroppingTheReaderMidwayStopsItsDecodersPromptly) {
    const fs::path stage = dir.path() / "stage";
    // Blocks large enough that decoding them all takes far longer than the bound.
    for (int i = 0; i < 6; ++i)
        WriteFile(stage / ("big" + std::to_string(i) + ".txt"), Text(800000, i + 7));
    const fs::path archive = Pack("-ms=1f -mx=1");
    const auto whole = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadAll(archive).status.Ok());
    const auto wholeTime = std::chrono::steady_clock::now() - whole;

    const auto start = std::chrono::steady_clock::now();
    {
        const auto reader = MakeArchiveReader(archive.string(), 0);
        ArchiveIndex index;
        ASSERT_TRUE(reader->ReadIndex(index).Ok());
        ArchiveItem item;
        bool more = false;
        ASSERT_TRUE(reader->NextItem(item, more).Ok());
        std::span<const std::uint8_t> block;
        ASSERT_TRUE(reader->ReadBlock(block).Ok());
    }
    const auto stopped = std::chrono::steady_clock::now() - start;
    EXPECT_LT(stopped, wholeTime / 2);
}

} // namespace
