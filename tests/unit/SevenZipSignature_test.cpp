#include "format/SevenZipSignature.h"

#include "sfxbuild/Build.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class SevenZipSignature : public testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("sevenzip_signature_" + std::to_string(::getpid()) + "_" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_ / "in");
        std::ofstream(folder_ / "in" / "file.txt") << "some text to pack\n";
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path folder_;
};

TEST_F(SevenZipSignature, GivesTheArchiveSizeOfA7zzArchive) {
    const auto archive = folder_ / "a.7z";
    sfxbuild::MakeArchive(folder_ / "in", archive);
    std::ifstream in(archive, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 32u);
    EXPECT_EQ(sfx::sevenzip::ArchiveSize(AsBytes(bytes)), bytes.size());
    // The launcher's reader finds the next header where the size puts its end.
    sfx::sevenzip::SignatureHeader header;
    ASSERT_TRUE(sfx::sevenzip::ParseSignatureHeader(AsBytes(bytes), header));
    EXPECT_EQ(sfx::sevenzip::kSignatureHeaderSize + header.nextHeaderOffset + header.nextHeaderSize,
              bytes.size());
    EXPECT_EQ(header.nextHeaderCrc,
              sfx::sevenzip::Crc32(AsBytes(bytes).subspan(sfx::sevenzip::kSignatureHeaderSize +
                                                          header.nextHeaderOffset)));

    std::string damaged = bytes;
    damaged[0] = 'x';
    EXPECT_FALSE(sfx::sevenzip::ArchiveSize(AsBytes(damaged)));
    damaged = bytes;
    damaged[20] ^= 1; // next-header size no longer matches its checksum
    EXPECT_FALSE(sfx::sevenzip::ArchiveSize(AsBytes(damaged)));
    damaged = bytes;
    damaged[6] = 1; // a major version we do not know
    EXPECT_FALSE(sfx::sevenzip::ArchiveSize(AsBytes(damaged)));
    EXPECT_FALSE(sfx::sevenzip::ArchiveSize(AsBytes(bytes.substr(0, 31))));
}

} // namespace
