#include "sfxbuild/Build.h"

#include "launcher/ConfigKey.h"
#include "launcher/Payload.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(DataBlock, IsTheQueryInUtf16BetweenTheMarkers) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"k1=a%20b&k2=", u"k1=a%20b&k2="},
        {"", u""},
        {"name=J\xC3\xBCrgen", u"name=J\u00FCrgen"},                     // one unit
        {"e=\xF0\x9F\x98\x80", std::u16string(u"e=") + u"\xD83D\xDE00"}, // a surrogate pair
        {"%41%4a%4F", u"%41%4a%4F"},                                     // escapes stay as written
    };
    for (const auto& [query, payload] : cases) {
        const std::string block = sfxbuild::MakeDataBlock(query);
        EXPECT_EQ(block, Utf16Le(u"##DATA##") + Utf16Le(payload) + Utf16Le(u"##ENDDATA##"))
            << query;
        const auto found = sfxbuild::FindDataBlockIn(AsBytes("noise" + block + "tail"));
        ASSERT_TRUE(found) << query;
        EXPECT_EQ(found->start, 5u);
        EXPECT_EQ(found->payload, 5u + 16);
        EXPECT_EQ(found->length, payload.size() * 2);
    }
}

TEST(DataBlock, RefusesQueriesTheLauncherWouldMisread) {
    const std::string cases[] = {
        "a=\xFF",          // not UTF-8
        "a=%2",            // escape cut short
        "a=%",             //
        "a=%zz",           // no hexadecimal digits: the launcher would read a zero unit
        "a=% 1",           // white space
        "a=##ENDDATA##&b", // would end the block early
        std::string(32754, 'x'),
    };
    for (const auto& query : cases)
        EXPECT_THROW(sfxbuild::MakeDataBlock(query), sfxbuild::BuildError) << query.substr(0, 20);
    // The largest block that still fits the launcher's 64 KiB window.
    EXPECT_EQ(sfxbuild::MakeDataBlock(std::string(32749, 'x')).size(), 65536u);
}

TEST(DataBlock, NeedsBothMarkers) {
    const std::string start = Utf16Le(u"##DATA##"), end = Utf16Le(u"##ENDDATA##");
    EXPECT_FALSE(sfxbuild::FindDataBlockIn(AsBytes("nothing here")));
    EXPECT_FALSE(sfxbuild::FindDataBlockIn(AsBytes(start + Utf16Le(u"k=v"))));
    EXPECT_FALSE(sfxbuild::FindDataBlockIn(AsBytes(end + start)));
}

// The launcher's own decipherer reads what the build tool enciphers.
TEST(ConfigurationBlock, RoundTripsThroughTheLaunchersDecipherer) {
    const auto key = sfx::MakeConfigKey();
    const std::array<std::uint8_t, 16> iv = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    for (const std::size_t length : {0u, 1u, 15u, 16u, 17u, 1000u}) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i)
            text += static_cast<char>('a' + i % 26);
        const std::string block = sfxbuild::EncryptConfiguration(text, key, iv);
        // IV, then whole blocks with at least one byte of padding.
        EXPECT_EQ(block.size(), 16 + (length / 16 + 1) * 16) << length;
        EXPECT_EQ(block.substr(0, 16), std::string(iv.begin(), iv.end()));
        EXPECT_EQ(sfx::DecryptConfigurationBlock(AsBytes(block).data(), block.size(), key.data(),
                                                 key.size()),
                  text)
            << length;
    }
    // Another IV gives other cipher text for the same configuration.
    auto otherIv = iv;
    otherIv[0] = 99;
    EXPECT_NE(sfxbuild::EncryptConfiguration("[main]", key, iv).substr(16),
              sfxbuild::EncryptConfiguration("[main]", key, otherIv).substr(16));
}

class SevenZipHeader : public testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("sfxbuild_pieces_" + std::to_string(::getpid()) + "_" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_ / "in");
        std::ofstream(folder_ / "in" / "file.txt") << "some text to pack\n";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(SevenZipHeader, GivesTheArchiveSizeOfA7zzArchive) {
    const auto archive = folder_ / "a.7z";
    sfxbuild::MakeArchive(folder_ / "in", archive);
    std::ifstream in(archive, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(sfxbuild::SevenZipArchiveSize(AsBytes(bytes)), bytes.size());

    std::string damaged = bytes;
    damaged[0] = 'x';
    EXPECT_FALSE(sfxbuild::SevenZipArchiveSize(AsBytes(damaged)));
    damaged = bytes;
    damaged[20] ^= 1; // next-header size no longer matches its checksum
    EXPECT_FALSE(sfxbuild::SevenZipArchiveSize(AsBytes(damaged)));
    damaged = bytes;
    damaged[6] = 1; // a major version we do not know
    EXPECT_FALSE(sfxbuild::SevenZipArchiveSize(AsBytes(damaged)));
    EXPECT_FALSE(sfxbuild::SevenZipArchiveSize(AsBytes(bytes.substr(0, 31))));
}

TEST_F(SevenZipHeader, MakeArchiveNamesAMissingFolder) {
    try {
        sfxbuild::MakeArchive(folder_ / "absent", folder_ / "a.7z");
        FAIL() << "no error";
    } catch (const sfxbuild::BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("absent"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "a.7z"));
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A PE file with two sections; the second one's raw data ends at 0x600, followed by a tail.
Bytes PeWithTail() {
    Bytes b(0x700, 0xEE);
    std::fill(b.begin(), b.begin() + 0x200, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x80);
    std::memcpy(&b[0x80], "PE\0\0", 4);
    b[0x86] = 2;    // sections
    b[0x94] = 0xE0; // optional header size
    const std::size_t table = 0x80 + 24 + 0xE0;
    Put32(b, table + 16, 0x200);
    Put32(b, table + 20, 0x400);
    Put32(b, table + 40 + 16, 0x200);
    Put32(b, table + 40 + 20, 0x200);
    return b;
}

TEST(ProgramImageEnd, IsWhereTheLastSectionsRawDataEnds) {
    const Bytes pe = PeWithTail();
    EXPECT_EQ(sfxbuild::ProgramImageEnd(pe), 0x600u);
    Bytes beyond = pe;
    Put32(beyond, 0x80 + 24 + 0xE0 + 20, 0x10000);
    EXPECT_FALSE(sfxbuild::ProgramImageEnd(beyond));

    Bytes elf(64, 0);
    std::memcpy(elf.data(),
                "\x7F"
                "ELF",
                4);
    EXPECT_EQ(sfxbuild::ProgramImageEnd(elf), 64u);
    EXPECT_FALSE(sfxbuild::ProgramImageEnd(Bytes(elf.begin(), elf.begin() + 20)));
    EXPECT_FALSE(sfxbuild::ProgramImageEnd(AsBytes("[main]\nProductName=x\n")));
}

} // namespace
