#include "format/ConfigBlock.h"
#include "format/ConfigKey.h"
#include "format/DataBlock.h"
#include "format/Payload.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void Append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

void AppendFiller(Bytes& out, std::size_t n, std::uint8_t value = 'x') {
    out.insert(out.end(), n, value);
}

// The search as a plain byte-by-byte scan, the reference for FindPayload.
std::optional<sfx::PayloadLayout> NaiveScan(const Bytes& data) {
    const std::string start = sfx::StartMarker(), end = sfx::EndMarker();
    bool found = false;
    std::size_t blockStart = 0;
    for (std::size_t i = 0; i + 20 < data.size(); ++i) {
        if (!found) {
            if (std::memcmp(data.data() + i, start.data(), start.size()) == 0) {
                found = true;
                blockStart = i + 18;
                i += 18;
            }
        } else if (std::memcmp(data.data() + i, end.data(), end.size()) == 0) {
            if (i == blockStart)
                return std::nullopt;
            return sfx::PayloadLayout{blockStart - 18, blockStart, i - blockStart, i + 15};
        }
    }
    return std::nullopt;
}

std::string Describe(const std::optional<sfx::PayloadLayout>& layout) {
    if (!layout)
        return "none";
    return std::to_string(layout->startMarker) + "/" + std::to_string(layout->blockOffset) + "/" +
           std::to_string(layout->blockSize) + "/" + std::to_string(layout->archiveOffset);
}

TEST(PayloadMarkers, AreTheFixedUpTexts) {
    EXPECT_EQ(sfx::StartMarker(), std::string(";!@Install@") + "!UTF-8!");
    EXPECT_EQ(sfx::EndMarker(), std::string(";!@Install") + "End@!");
}

// The stub carries the format code; a marker in it would be found in place of the payload's.
TEST(PayloadMarkers, FormatCodeDoesNotHoldThem) {
    const std::string library = SFX_BIN_DIR "/../libsfxformat.a";
    std::ifstream in(library, std::ios::binary);
    ASSERT_TRUE(in) << library;
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    // The search code is in there; an optimiser may fold the stored copies into the code.
    ASSERT_NE(bytes.find("LocatePayload"), std::string::npos);
    ASSERT_NE(bytes.find("MakeDataBlock"), std::string::npos);
    const std::pair<const char*, std::string> markers[] = {
        {"start marker", sfx::StartMarker()},
        {"end marker", sfx::EndMarker()},
        {"data block start marker", sfx::DataBlockStartMarker()},
        {"data block end marker", sfx::DataBlockEndMarker()},
    };
    for (const auto& [name, marker] : markers)
        EXPECT_EQ(bytes.find(marker), std::string::npos) << name;
}

TEST(FindPayload, AgreesWithTheByteScan) {
    const std::string S = sfx::StartMarker(), E = sfx::EndMarker();
    struct Case {
        const char* name;
        std::vector<std::string> pieces; // "#n" is n filler bytes
        std::string expected;            // start/block/size/archive or "none"
    };
    const Case cases[] = {
        {"typical layout", {"#100", S, "#32", E, "#50"}, "100/118/32/165"},
        {"too short to search", {S, E}, "none"},
        {"no start marker", {"#40", E, "#40"}, "none"},
        {"start without end", {"#10", S, "#100"}, "none"},
        {"end marker before the start marker is ignored",
         {E, "#5", S, "#16", E, "#30"},
         "20/38/16/69"},
        {"empty block", {"#10", S, E, "#40"}, "none"},
        {"empty block, a later end marker closes", {"#10", S, E, "#16", E, "#40"}, "10/28/31/74"},
        {"second start marker inside the block", {S, "#4", S, "#4", E, "#30"}, "0/18/26/59"},
        {"one-byte block", {S, "b", E, "#21"}, "0/18/1/34"},
        {"end marker at the last position", {S, "#16", E, "#6"}, "0/18/16/49"},
        {"end marker one past the last position", {S, "#16", E, "#5"}, "none"},
        {"prefixes of the markers",
         {S.substr(0, 17), S, "#3", E.substr(0, 14), E, "#30"},
         "17/35/17/67"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes data;
        for (const std::string& piece : c.pieces) {
            if (!piece.empty() && piece[0] == '#')
                AppendFiller(data, std::stoul(piece.substr(1)));
            else
                Append(data, piece);
        }
        const auto found = sfx::FindPayload(data);
        EXPECT_EQ(Describe(found), c.expected);
        EXPECT_EQ(Describe(found), Describe(NaiveScan(data)));
    }
}

TEST(FindPayload, AgreesWithTheByteScanOnRandomMixtures) {
    const std::string S = sfx::StartMarker(), E = sfx::EndMarker();
    const std::string pieces[] = {S, E, S.substr(0, 10), E.substr(0, 14), ";", "!", "a", "bb"};
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        Bytes data;
        const int count = static_cast<int>(random() % 12);
        for (int k = 0; k < count; ++k)
            Append(data, pieces[random() % std::size(pieces)]);
        ASSERT_EQ(Describe(sfx::FindPayload(data)), Describe(NaiveScan(data))) << round;
    }
}

// A configuration block: random vector and the PKCS#7-padded cipher text.
Bytes EncryptBlock(const std::string& plain, const std::array<std::uint8_t, 16>& key) {
    Bytes block(16);
    EXPECT_EQ(RAND_bytes(block.data(), 16), 1);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), block.data()),
              1);
    block.resize(16 + plain.size() + 16);
    int n = 0, tail = 0;
    EXPECT_EQ(EVP_EncryptUpdate(ctx.get(), block.data() + 16, &n,
                                reinterpret_cast<const std::uint8_t*>(plain.data()),
                                static_cast<int>(plain.size())),
              1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), block.data() + 16 + n, &tail), 1);
    block.resize(static_cast<std::size_t>(16 + n + tail));
    return block;
}

// Launcher files written as the build tool writes them.
class ReadConfigurationBlockTest : public testsupport::ScratchTest {
protected:
    std::filesystem::path Write(const Bytes& image, const Bytes& block, std::size_t archive = 64) {
        Bytes data = image;
        Append(data, sfx::StartMarker());
        data.insert(data.end(), block.begin(), block.end());
        Append(data, sfx::EndMarker());
        AppendFiller(data, archive, 0x37);
        return WriteRaw(data);
    }

    std::filesystem::path WriteRaw(const Bytes& data) {
        const auto path = folder_ / ("file" + std::to_string(counter_++));
        testsupport::WriteFile(path, data);
        return path;
    }

    int counter_ = 0;
};

TEST_F(ReadConfigurationBlockTest, DeciphersTheConfiguration) {
    const std::string config = "\xEF\xBB\xBF[main]\r\nProductName=Caf\xC3\xA9\r\n";
    const Bytes block = EncryptBlock(config, sfx::MakeConfigKey());
    const auto path = Write(Bytes(1000, 0x90), block);
    std::string text = "stale";
    sfx::PayloadLayout layout;
    ASSERT_EQ(sfx::ReadConfigurationBlock(path, text, &layout), cptlib::kHrOk);
    EXPECT_EQ(text, config);
    EXPECT_EQ(layout.startMarker, 1000u);
    EXPECT_EQ(layout.blockOffset, 1018u);
    EXPECT_EQ(layout.blockSize, block.size());
    EXPECT_EQ(layout.archiveOffset, 1018u + block.size() + 15);
}

TEST_F(ReadConfigurationBlockTest, BlocksThatGiveNoTextMeanAllDefaults) {
    struct Case {
        const char* name;
        Bytes block;
    };
    Bytes notWholeBlocks = EncryptBlock("[main]", sfx::MakeConfigKey());
    notWholeBlocks.pop_back();
    const Case cases[] = {
        {"only the vector", Bytes(16, 1)},
        {"shorter than the vector", Bytes(5, 1)},
        {"only padding", EncryptBlock("", sfx::MakeConfigKey())},
        {"cipher text not whole blocks", notWholeBlocks},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "stale";
        EXPECT_EQ(sfx::ReadConfigurationBlock(Write(Bytes(64, 0), c.block), text), cptlib::kHrOk);
        EXPECT_EQ(text, "");
    }
}

TEST_F(ReadConfigurationBlockTest, FailuresLeaveTheTextEmpty) {
    auto otherKey = sfx::MakeConfigKey();
    otherKey[0] ^= 0x80;
    Bytes startOnly(100, 0);
    Append(startOnly, sfx::StartMarker());
    AppendFiller(startOnly, 200);
    struct Case {
        const char* name;
        std::filesystem::path path;
        cptlib::HRESULT expected;
    };
    const Case cases[] = {
        {"missing file", folder_ / "absent", cptlib::HResultFromWin32(cptlib::kErrorFileNotFound)},
        {"a folder", folder_, cptlib::HResultFromWin32(cptlib::kErrorAccessDenied)},
        {"empty file", WriteRaw({}), cptlib::HRESULT_INVALID_DATA},
        {"start marker without end marker", WriteRaw(startOnly), cptlib::HRESULT_INVALID_DATA},
        {"empty block", Write(Bytes(10, 0), {}), cptlib::HRESULT_INVALID_DATA},
        // Any other key deciphers to bytes that are not UTF-8.
        {"foreign key", Write(Bytes(10, 0), EncryptBlock(std::string(200, 'a'), otherKey)),
         cptlib::HRESULT_INVALID_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "stale";
        EXPECT_EQ(sfx::ReadConfigurationBlock(c.path, text), c.expected);
        EXPECT_EQ(text, "");
    }
}

TEST_F(ReadConfigurationBlockTest, SearchesOnlyTheFirst20MiB) {
    const Bytes block = EncryptBlock("[main]\nA=1\n", sfx::MakeConfigKey());
    const std::size_t limit = 0x1400000;
    struct Case {
        const char* name;
        std::size_t endMarkerAt; // offset of the end marker in the file
        bool found;
    };
    const Case cases[] = {
        {"end marker at the last position", limit - 21, true},
        {"end marker one byte later", limit - 20, false},
        {"end marker across the limit", limit - 7, false},
        {"end marker behind the limit", limit + 100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t imageSize = c.endMarkerAt - block.size() - 18;
        const auto path = Write(Bytes(imageSize, 0x90), block, 4096);
        std::string text;
        EXPECT_EQ(sfx::ReadConfigurationBlock(path, text),
                  c.found ? cptlib::kHrOk : cptlib::HRESULT_INVALID_DATA);
        EXPECT_EQ(text, c.found ? "[main]\nA=1\n" : "");
        std::filesystem::remove(path);
    }
}

TEST(DecryptConfigurationBlock, NeedsASixteenByteKey) {
    const auto key = sfx::MakeConfigKey();
    const Bytes block = EncryptBlock("[main]", key);
    struct Case {
        const std::uint8_t* key;
        std::size_t keyLength;
        std::string expected;
    };
    const Case cases[] = {
        {key.data(), 16, "[main]"},
        {key.data(), 15, ""},
        {key.data(), 17, ""},
        {nullptr, 16, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keyLength);
        EXPECT_EQ(sfx::DecryptConfigurationBlock(block.data(), block.size(), c.key, c.keyLength),
                  c.expected);
    }
}

} // namespace
