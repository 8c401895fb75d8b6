// The archive reader: the item list read from the 7z headers agrees with what the library
// extracts, for the forms 7zz writes, and reading it decodes no item data.

#include "format/ArchiveReader.h"

#include "format/SevenZipHeader.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/HostileArchive.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <tuple>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

struct Listed {
    std::string name;
    ArchiveItemType type;
    std::uint64_t size;
    bool hasMode;
    std::uint32_t mode;
    std::optional<std::int64_t> mtime;

    bool operator==(const Listed& other) const {
        return std::tie(name, type, size, hasMode, mode, mtime) ==
               std::tie(other.name, other.type, other.size, other.hasMode, other.mode, other.mtime);
    }
};

std::ostream& operator<<(std::ostream& out, const Listed& item) {
    return out << item.name << " type " << static_cast<int>(item.type) << " size " << item.size
               << " mode " << (item.hasMode ? std::to_string(item.mode) : "none") << " time "
               << (item.mtime ? std::to_string(*item.mtime) : "none");
}

std::string WithoutTrailingSlash(std::string name) {
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

std::vector<Listed> FromIndex(const ArchiveIndex& index) {
    std::vector<Listed> items;
    for (const auto& item : index.items)
        items.push_back({WithoutTrailingSlash(item.name), item.type, item.size, item.hasMode,
                         item.hasMode ? item.mode : 0, item.mtime});
    return items;
}

// The extraction pass: every item with the bytes the library actually delivers.
ArchiveStatus FromExtraction(IArchiveReader& reader, std::vector<Listed>& items,
                             std::uint64_t& total) {
    for (;;) {
        ArchiveItem item;
        bool more = false;
        if (ArchiveStatus status = reader.NextItem(item, more); !status.Ok() || !more)
            return status;
        std::uint64_t size = item.size;
        if (item.type == ArchiveItemType::File) {
            size = 0;
            for (;;) {
                std::span<const std::uint8_t> block;
                if (ArchiveStatus status = reader.ReadBlock(block); !status.Ok())
                    return status;
                if (block.empty())
                    break;
                size += block.size();
            }
        }
        total += size;
        items.push_back({WithoutTrailingSlash(item.name), item.type, size, item.hasMode,
                         item.hasMode ? item.mode : 0, item.mtime});
    }
}

// Both passes over an archive that starts at its file's first byte: the header list, then the
// extraction; `ok` when both succeed.
struct Passes {
    bool ok = false;
    ArchiveIndex index;
    std::vector<Listed> extracted;
    std::uint64_t extractedTotal = 0;
};

Passes ReadBothPasses(const fs::path& archive) {
    Passes passes;
    const auto reader = MakeArchiveReader(archive.string(), 0);
    passes.ok = reader->ReadIndex(passes.index).Ok() &&
                FromExtraction(*reader, passes.extracted, passes.extractedTotal).Ok();
    return passes;
}

class ArchiveReaderTest : public ::testing::Test {
protected:
    fs::path Pack(const std::string& options) {
        const fs::path archive = dir / "test.7z";
        fs::remove(archive);
        return testsupport::Pack7z(dir / "stage", archive, options);
    }

    TempDir dir;
};

TEST_F(ArchiveReaderTest, TheHeaderListAgreesWithTheLibrary) {
    const fs::path stage = dir / "stage";
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(i) + "\n";
    WriteFile(stage / "a/text.txt", text);
    WriteFile(stage / "a/b/c/deep.txt", text.substr(0, 777));
    WriteFile(stage / "empty.txt", "");
    WriteFile(stage / "prog", ReadFile("/bin/sh"));
    WriteFile(stage / "z.dat", std::string(100000, 'z'));
    fs::create_directories(stage / "folder/empty");
    fs::create_symlink("a/text.txt", stage / "link");
    fs::permissions(stage / "prog", fs::perms(0755));
    fs::permissions(stage / "a/b", fs::perms(0700));
    fs::permissions(stage / "z.dat", fs::perms(0400));
    // 2021-03-04 05:06:07 UTC, which both passes read back.
    constexpr std::int64_t kTime = 1614834367;
    fs::last_write_time(stage / "z.dat", std::chrono::file_clock::from_sys(std::chrono::sys_seconds(
                                             std::chrono::seconds(kTime))));

    for (const char* options : {"", "-mhc=off", "-ms=off", "-mx=0", "-m0=BCJ -m1=LZMA2",
                                "-m0=LZMA -mtc=on -mta=on", "-ms=2f", "-mf=BCJ2", "-mtm=off"}) {
        SCOPED_TRACE(options);
        const Passes passes = ReadBothPasses(Pack(options));
        ASSERT_TRUE(passes.ok);
        const auto z = std::find_if(passes.index.items.begin(), passes.index.items.end(),
                                    [](const ArchiveItem& item) { return item.name == "z.dat"; });
        ASSERT_NE(z, passes.index.items.end());
        EXPECT_EQ(z->mtime, std::string(options) == "-mtm=off"
                                ? std::nullopt
                                : std::optional<std::int64_t>(kTime));
        EXPECT_EQ(FromIndex(passes.index), passes.extracted);
        EXPECT_EQ(passes.index.totalSize, passes.extractedTotal);
        EXPECT_EQ(passes.extracted.size(), 11u);
    }
}

TEST_F(ArchiveReaderTest, NamesOutsideAsciiAreKeptAsStoredUnderTheCLocale) {
    // This process runs under the C locale, as a launcher does before it reads the user's.
    const std::vector<std::string> names = {"caf\u00e9.txt", "Gr\u00f6\u00dfe/\u65e5\u672c.txt",
                                            "\u0420\u0443\u0441"};
    const fs::path stage = dir / "stage";
    for (const std::string& name : names)
        WriteFile(stage / name, name);
    const Passes passes = ReadBothPasses(Pack(""));
    ASSERT_TRUE(passes.ok);
    std::vector<std::string> listed, delivered;
    for (const Listed& item : FromIndex(passes.index))
        listed.push_back(item.name);
    for (const Listed& item : passes.extracted) {
        if (item.type == ArchiveItemType::File)
            delivered.push_back(item.name);
    }
    for (const std::string& name : names) {
        EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
        EXPECT_NE(std::find(delivered.begin(), delivered.end(), name), delivered.end()) << name;
    }
}

TEST_F(ArchiveReaderTest, ListingReadsNoItemData) {
    // The library decodes everything before a symbolic link just to list it; the headers alone
    // must do. Damaged data before the link shows which way the list was made.
    const fs::path stage = dir / "stage";
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    WriteFile(stage / "a.txt", text);
    fs::create_symlink("a.txt", stage / "z-link");
    for (const char* options : {"", "-mhc=off", "-mx=0", "-m0=BCJ -m1=LZMA2", "-m0=Delta -m1=LZMA",
                                "-m0=LZMA -mtc=on -mta=on"}) {
        SCOPED_TRACE(options);
        const fs::path archive = Pack(options);
        std::string bytes = ReadFile(archive);
        for (std::size_t i = 1000; i < 1100; ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
        // The archive may follow other data, as in the launcher file.
        const std::string prefix = "program bytes before the archive";
        WriteFile(archive, prefix + bytes + "and a data block after it");

        const auto reader = MakeArchiveReader(archive.string(), prefix.size());
        ArchiveIndex index;
        const ArchiveStatus listed = reader->ReadIndex(index);
        ASSERT_TRUE(listed.Ok()) << std::hex << listed.code << " " << listed.text;
        ASSERT_EQ(index.items.size(), 2u);
        EXPECT_EQ(index.items[1].name, "z-link");
        EXPECT_EQ(index.items[1].type, ArchiveItemType::Symlink);
        EXPECT_EQ(index.totalSize, text.size() + 5);

        std::vector<Listed> extracted;
        std::uint64_t total = 0;
        const ArchiveStatus status = FromExtraction(*reader, extracted, total);
        EXPECT_TRUE(status.code == cptlib::HRESULT_INVALID_DATA || status.code == HRESULT_CRC_ERROR)
            << std::hex << status.code;
    }
}

// A stored archive made by hand: one file, no attributes at all (as archives made elsewhere).
std::vector<std::uint8_t> ArchiveWithoutModes(const std::string& name, const std::string& data) {
    std::vector<std::uint8_t> header = {0x01,
                                        0x04, // header, streams
                                        0x06,
                                        0x00,
                                        0x01,
                                        0x09, // pack info
                                        static_cast<std::uint8_t>(data.size()),
                                        0x00,
                                        0x07,
                                        0x0B,
                                        0x01,
                                        0x00,
                                        0x01,
                                        0x01,
                                        0x00, // copy coder
                                        0x0C,
                                        static_cast<std::uint8_t>(data.size()),
                                        0x00,
                                        0x08,
                                        0x00,
                                        0x00, // sub-streams
                                        0x05,
                                        0x01,
                                        0x11, // one file name
                                        static_cast<std::uint8_t>(1 + 2 * (name.size() + 1)),
                                        0x00};
    for (const char c : name) {
        header.push_back(static_cast<std::uint8_t>(c));
        header.push_back(0);
    }
    header.insert(header.end(), {0x00, 0x00, 0x00, 0x00});
    std::vector<std::uint8_t> start;
    const auto put = [](std::vector<std::uint8_t>& out, std::uint64_t value, int size) {
        for (int i = 0; i < size; ++i)
            out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    put(start, data.size(), 8);
    put(start, header.size(), 8);
    put(start, sevenzip::Crc32(header), 4);
    std::vector<std::uint8_t> archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04};
    put(archive, sevenzip::Crc32(start), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    archive.insert(archive.end(), data.begin(), data.end());
    archive.insert(archive.end(), header.begin(), header.end());
    return archive;
}

TEST_F(ArchiveReaderTest, AnArchiveWithoutPermissionsSaysSo) {
    const auto bytes = ArchiveWithoutModes("plain.txt", "plain data");
    const fs::path archive = dir / "plain.7z";
    WriteFile(archive, std::string(bytes.begin(), bytes.end()));
    const Passes passes = ReadBothPasses(archive);
    ASSERT_TRUE(passes.ok);
    const std::vector<Listed> expected = {
        {"plain.txt", ArchiveItemType::File, 10, false, 0, std::nullopt}};
    EXPECT_EQ(FromIndex(passes.index), expected);
    EXPECT_EQ(passes.extracted, expected);
}

// 7zz packs an empty folder into the 32-byte signature alone: an archive of nothing, not damage.
TEST_F(ArchiveReaderTest, AnArchiveOfAnEmptyFolderListsAndExtractsNothing) {
    fs::create_directories(dir / "stage");
    const fs::path archive = Pack("");
    ASSERT_EQ(fs::file_size(archive), 32u);
    const Passes passes = ReadBothPasses(archive);
    EXPECT_TRUE(passes.ok);
    EXPECT_TRUE(passes.index.items.empty());
    EXPECT_TRUE(passes.extracted.empty());
}

TEST_F(ArchiveReaderTest, AMissingFileIsASystemError) {
    const auto reader = MakeArchiveReader((dir / "missing.7z").string(), 0);
    ArchiveIndex index;
    const ArchiveStatus status = reader->ReadIndex(index);
    EXPECT_EQ(status.code, cptlib::HResultFromWin32(cptlib::kErrorFileNotFound));
    EXPECT_TRUE(status.text.empty());
}

// Items whose headers cost a few bytes each, as real tools write them (80,000 empty folders
// from 7zz): each costs the readers memory, which the archive's size pays for; they are listed,
// however many, while headers that claim more than their size pays for are refused (see the
// bounds tests).
TEST(ArchiveReader, ListsItemsByTheHundredThousand) {
    TempDir dir;
    for (const std::size_t folders : {1'000u, 80'000u, 120'000u, 250'000u}) {
        const auto bytes = testsupport::hostile::ManyEmptyFolders(folders);
        const fs::path archive = dir.path() / "many.7z";
        WriteFile(archive, std::string(bytes.begin(), bytes.end()));
        ArchiveIndex index;
        const ArchiveStatus status = MakeArchiveReader(archive.string(), 0)->ReadIndex(index);
        EXPECT_TRUE(status.Ok()) << folders << " folders in " << bytes.size() << " bytes";
        EXPECT_EQ(index.items.size(), folders);
    }
}

// A packed header whose LZMA coder claims a 4 GiB dictionary: damage, refused on the claim by
// both readers (the library would allocate it). The archive's data is BZip2, which only the
// library decodes, so that the library path reads the header.
TEST_F(ArchiveReaderTest, AHeaderClaimingAHugeDictionaryIsDamage) {
    // Enough names that 7zz packs the header.
    for (int i = 0; i < 60; ++i)
        WriteFile(dir / "stage" / ("file-with-a-long-name-" + std::to_string(i)), "text");
    std::string bytes = ReadFile(Pack("-m0=BZip2 -mf=off"));
    const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    std::uint64_t offset = 0, size = 0;
    for (int i = 7; i >= 0; --i) {
        offset = offset << 8 | at(12 + i);
        size = size << 8 | at(20 + i);
    }
    std::string header = bytes.substr(32 + offset, size);
    ASSERT_EQ(header[0], '\x17'); // packed
    // The LZMA coder record: flags (id size 3, with properties), id, 5 property bytes.
    const std::size_t coder = header.find(std::string("\x23\x03\x01\x01\x05", 5));
    ASSERT_NE(coder, std::string::npos);
    for (std::size_t i = 6; i < 10; ++i)
        header[coder + i] = '\xFF';
    bytes.replace(32 + offset, size, header);
    const auto put32 = [&](std::size_t where, std::uint32_t value) {
        for (int i = 0; i < 4; ++i)
            bytes[where + i] = static_cast<char>(value >> (8 * i));
    };
    const auto crc = [](const std::string& text) {
        return testsupport::hostile::Crc32(testsupport::hostile::Bytes(text.begin(), text.end()));
    };
    put32(28, crc(header));
    put32(8, crc(bytes.substr(12, 20)));
    const fs::path archive = dir / "claim.7z";
    WriteFile(archive, bytes);
    ArchiveIndex index;
    const ArchiveStatus status = MakeArchiveReader(archive.string(), 0)->ReadIndex(index);
    EXPECT_EQ(status.code, cptlib::HRESULT_INVALID_DATA) << status.code << " " << status.text;
}

} // namespace
