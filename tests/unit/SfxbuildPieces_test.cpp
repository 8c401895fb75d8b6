#include "sfxbuild/Build.h"

#include "format/ConfigBlock.h"
#include "format/ConfigKey.h"
#include "support/Files.h"
#include "support/TempDir.h"

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

class SevenZipHeader : public testsupport::ScratchTest {
protected:
    void SetUp() override {
        testsupport::WriteFile(folder_ / "in" / "file.txt", "some text to pack\n");
    }
};

TEST_F(SevenZipHeader, MakeArchiveNamesAMissingFolder) {
    try {
        sfxbuild::MakeArchive(folder_ / "absent", folder_ / "a.7z");
        FAIL() << "no error";
    } catch (const sfxbuild::BuildError& e) {
        EXPECT_NE(std::string(e.what()).find("absent"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(std::filesystem::exists(folder_ / "a.7z"));
}

} // namespace
