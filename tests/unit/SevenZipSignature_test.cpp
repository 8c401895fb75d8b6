#include "format/SevenZipSignature.h"

#include "sfxbuild/Build.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

class SevenZipSignature : public testsupport::ScratchTest {
protected:
    void SetUp() override {
        testsupport::WriteFile(folder_ / "in" / "file.txt", "some text to pack\n");
    }
};

TEST_F(SevenZipSignature, GivesTheArchiveSizeOfA7zzArchive) {
    const auto archive = folder_ / "a.7z";
    sfxbuild::MakeArchive(folder_ / "in", archive);
    const std::string bytes = testsupport::ReadFile(archive);
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
