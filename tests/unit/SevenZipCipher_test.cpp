// Enciphered 7z archives: the key derivation and the cipher agree with OpenSSL's command line,
// and archives 7zz makes with a password extract byte for byte, for every folder form it
// writes; a wrong, refused or missing password and enciphered headers end as they should.

#include "format/ArchiveReader.h"
#include "format/SevenZipAes.h"

#include "support/Archive.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using testsupport::ReadFile;
using testsupport::RunShell;
using testsupport::ShellQuote;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Hex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t byte : bytes) {
        out += digits[byte >> 4];
        out += digits[byte & 15];
    }
    return out;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Where two trees of name and content differ, in a line each; empty when they agree.
std::string Differences(const std::map<std::string, std::string>& got,
                        const std::map<std::string, std::string>& want) {
    std::string out;
    for (const auto& [name, bytes] : want) {
        const auto found = got.find(name);
        if (found == got.end()) {
            out += name + ": missing\n";
        } else if (found->second != bytes) {
            const auto at = std::mismatch(bytes.begin(), bytes.end(), found->second.begin(),
                                          found->second.end());
            out += name + ": " + std::to_string(found->second.size()) + " bytes, not " +
                   std::to_string(bytes.size()) + ", first difference at " +
                   std::to_string(at.first - bytes.begin()) + "\n";
        }
    }
    for (const auto& [name, bytes] : got) {
        if (!want.contains(name))
            out += name + ": not packed\n";
    }
    return out;
}

struct KeyCase {
    unsigned cyclesPower;
    std::string salt;
    std::u16string password;
};

TEST(SevenZipCipherTest, TheKeyIsTheDigestOpenSslComputesOverTheRounds) {
    const KeyCase cases[] = {
        {0, "", u"SECRET"},
        {6, "", u"SECRET"},
        {5, "0123456789abcdef", u"p\u00e4ss w\u00f6rd \u20ac"},
        {10, "salt", u""},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::string rounds;
        std::string password;
        for (const char16_t unit : c.password) {
            password += static_cast<char>(unit & 0xFF);
            password += static_cast<char>(unit >> 8);
        }
        for (std::uint64_t i = 0; i < (std::uint64_t(1) << c.cyclesPower); ++i) {
            rounds += c.salt + password;
            for (int b = 0; b < 8; ++b)
                rounds += static_cast<char>((i >> (8 * b)) & 0xFF);
        }
        WriteFile(dir.path() / "rounds", rounds);
        const auto digest =
            RunShell("openssl dgst -sha256 -r " + ShellQuote((dir.path() / "rounds").string()));
        ASSERT_EQ(digest.status, 0) << digest.err;
        const auto salt = Bytes(c.salt);
        EXPECT_EQ(Hex(*sevenzip::DeriveAesKey(c.cyclesPower, salt, c.password)),
                  digest.out.substr(0, 64))
            << "cycles " << c.cyclesPower << " salt " << c.salt;
    }
}

TEST(SevenZipCipherTest, RememberedKeysAreTheKeysOfTheirOwnSaltAndPassword) {
    const KeyCase cases[] = {
        {4, "", u"one"},  {4, "", u"two"},  {5, "", u"one"},  {4, "s", u"one"}, {4, "", u"one"},
        {4, "t", u"one"}, {4, "u", u"one"}, {4, "v", u"one"}, {4, "", u"two"},
    };
    sevenzip::AesKeyCache keys;
    for (const auto& c : cases) {
        const auto salt = Bytes(c.salt);
        EXPECT_EQ(Hex(*keys.Key(c.cyclesPower, salt, c.password)),
                  Hex(*sevenzip::DeriveAesKey(c.cyclesPower, salt, c.password)))
            << "cycles " << c.cyclesPower << " salt " << c.salt;
    }
}

TEST(SevenZipCipherTest, DecipheringAgreesWithOpenSslAcrossCalls) {
    TempDir dir;
    const std::string cipherText = testsupport::IncompressibleBytes(96);
    std::array<std::uint8_t, 32> key{};
    std::array<std::uint8_t, 16> iv{};
    const std::string material = testsupport::IncompressibleBytes(200).substr(150);
    std::copy_n(material.begin(), 32, key.begin());
    std::copy_n(material.begin() + 32, 16, iv.begin());
    WriteFile(dir.path() / "in", cipherText);
    const auto plain = RunShell("openssl enc -d -aes-256-cbc -nopad -K " + Hex(key) + " -iv " +
                                Hex(iv) + " -in " + ShellQuote((dir.path() / "in").string()) +
                                " -out " + ShellQuote((dir.path() / "out").string()));
    ASSERT_EQ(plain.status, 0) << plain.err;
    std::vector<std::uint8_t> data = Bytes(cipherText);
    sevenzip::AesCbcDecipher decipher(key, iv);
    decipher.Decipher(data.data(), 16); // the chain carries over to the next call
    decipher.Decipher(data.data() + 16, data.size() - 16);
    EXPECT_EQ(std::string(data.begin(), data.end()), ReadFile(dir.path() / "out"));
}

TEST(SevenZipCipherTest, MalformedCipherPropertiesAreRefused) {
    const std::vector<std::vector<std::uint8_t>> malformed = {
        {},
        {0xC0},                                    // lengths byte missing
        {0x80 | 19, 0x00},                         // one salt byte announced, none there
        {0x40 | 19, 0x0F, 1, 2, 3, 4, 5, 6, 7, 8}, // an IV of 16 + 1 bytes announced
    };
    for (const auto& properties : malformed) {
        sevenzip::AesProperties parsed;
        EXPECT_FALSE(sevenzip::ParseAesProperties(properties, parsed)) << Hex(properties);
    }
    sevenzip::AesProperties parsed;
    ASSERT_TRUE(sevenzip::ParseAesProperties(
        std::vector<std::uint8_t>{0xC0 | 19, 0x11, 0xAA, 0xBB, 0x01, 0x02}, parsed));
    EXPECT_EQ(parsed.cyclesPower, 19u);
    EXPECT_EQ(Hex(parsed.salt), "aabb");
    EXPECT_EQ(Hex(std::span<const std::uint8_t>(parsed.iv).first(3)), "010200");
}

// What one extraction pass delivered: file data and link targets by name, the first failure.
struct Extracted {
    ArchiveStatus status;
    ArchiveStatus indexStatus;
    std::map<std::string, std::string> data;
    int asked = 0;
};

Extracted ExtractAll(const fs::path& archive, const std::string& password,
                     cptlib::HRESULT answer = cptlib::kHrOk) {
    Extracted out;
    const auto reader = MakeArchiveReader(archive.string(), 0, [&](std::string& given) {
        ++out.asked;
        given = password;
        return answer;
    });
    ArchiveIndex index;
    out.indexStatus = reader->ReadIndex(index);
    if (!out.indexStatus.Ok())
        return out;
    for (;;) {
        ArchiveItem item;
        bool more = false;
        out.status = reader->NextItem(item, more);
        if (!out.status.Ok() || !more)
            return out;
        if (item.type == ArchiveItemType::Symlink)
            out.data[item.name] = "-> " + item.linkTarget;
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

class EncipheredArchiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path stage = dir.path() / "stage";
        fs::create_directories(stage / "bin");
        fs::create_directories(stage / "empty folder");
        // Executables, so that the branch converters have calls and jumps to convert.
        fs::copy_file("/bin/ls", stage / "bin/ls");
        fs::copy_file("/bin/sh", stage / "bin/sh");
        WriteFile(stage / "big.bin", testsupport::IncompressibleBytes(3 << 20 | 123));
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "line " + std::to_string(i) + "\n";
        WriteFile(stage / "text.txt", text);
        WriteFile(stage / "empty.txt", "");
        fs::create_symlink("text.txt", stage / "link");
        for (const auto& entry : fs::recursive_directory_iterator(stage)) {
            const std::string name = entry.path().lexically_relative(stage).string();
            if (entry.is_symlink())
                expected[name] = "-> " + fs::read_symlink(entry.path()).string();
            else if (entry.is_regular_file())
                expected[name] = ReadFile(entry.path());
        }
    }

    fs::path Pack(const std::string& options, const std::string& names = "'*'") {
        return testsupport::Pack7z(dir.path() / "stage", dir.path() / "test.7z", options, names);
    }

    TempDir dir;
    std::map<std::string, std::string> expected;
};

TEST_F(EncipheredArchiveTest, EveryFolderFormExtractsAsPacked) {
    const std::string forms[] = {
        "-m0=LZMA2 -mf=BCJ",
        "-m0=LZMA2 -mf=BCJ -ms=off",
        "-m0=LZMA",
        "-m0=LZMA -mf=BCJ -ms=off",
        "-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0:1 -mb0s1:2 -mb0s2:3",
        "-mf=BCJ2",
        "-m0=Copy",
        "-m0=Copy -ms=off",
        "-mx=1",
        "-mx=9 -mmt=2",
    };
    for (const auto& form : forms) {
        SCOPED_TRACE(form);
        fs::remove(dir.path() / "test.7z");
        const Extracted out = ExtractAll(Pack("-pSECRET " + form), "SECRET");
        ASSERT_TRUE(out.indexStatus.Ok()) << std::hex << out.indexStatus.code;
        EXPECT_TRUE(out.status.Ok()) << std::hex << out.status.code << " " << out.status.text;
        EXPECT_EQ(Differences(out.data, expected), "");
        EXPECT_GE(out.asked, 1);
    }
}

TEST_F(EncipheredArchiveTest, PlainAndEncipheredItemsOfOneArchiveBothExtract) {
    Pack("-m0=LZMA2", "text.txt big.bin");
    const fs::path archive = Pack("-pSECRET -mf=BCJ", "bin link empty.txt 'empty folder'");
    const Extracted out = ExtractAll(archive, "SECRET");
    EXPECT_TRUE(out.status.Ok()) << std::hex << out.status.code;
    EXPECT_EQ(Differences(out.data, expected), "");
    EXPECT_GE(out.asked, 1);

    // The plain items come out whatever the password; the enciphered ones then fail.
    const Extracted wrong = ExtractAll(archive, "NOT IT");
    EXPECT_EQ(wrong.status.code, HRESULT_WRONG_PASSWORD);
    ASSERT_TRUE(wrong.data.contains("text.txt"));
    EXPECT_TRUE(wrong.data.at("text.txt") == expected.at("text.txt"));
}

TEST_F(EncipheredArchiveTest, AWrongPasswordIsToldApartFromDamage) {
    const std::string forms[] = {"-m0=LZMA2 -mf=BCJ", "-m0=LZMA", "-mf=BCJ2", "-m0=Copy"};
    for (const auto& form : forms) {
        SCOPED_TRACE(form);
        fs::remove(dir.path() / "test.7z");
        const Extracted out = ExtractAll(Pack("-pSECRET " + form), "secret");
        EXPECT_TRUE(out.indexStatus.Ok());
        EXPECT_EQ(out.status.code, HRESULT_WRONG_PASSWORD) << std::hex << out.status.code;
        // Nothing wrong reaches the caller as a whole file.
        for (const auto& [name, bytes] : out.data) {
            if (expected.contains(name) && bytes.size() == expected.at(name).size() &&
                !bytes.empty()) {
                EXPECT_TRUE(bytes == expected.at(name)) << name;
            }
        }
    }
}

TEST_F(EncipheredArchiveTest, ARefusedQuestionEndsWithItsStatus) {
    const fs::path archive = Pack("-pSECRET");
    const Extracted refused = ExtractAll(archive, "", kHrAbort);
    EXPECT_EQ(refused.status.code, kHrAbort);
    EXPECT_EQ(refused.asked, 1);

    // Without anyone to ask, the same.
    const auto reader = MakeArchiveReader(archive.string(), 0);
    ArchiveIndex index;
    ASSERT_TRUE(reader->ReadIndex(index).Ok());
    ArchiveStatus status;
    bool more = true;
    while (status.Ok() && more) {
        ArchiveItem item;
        status = reader->NextItem(item, more);
    }
    EXPECT_EQ(status.code, kHrAbort);
}

TEST_F(EncipheredArchiveTest, EncipheredHeadersAreRefusedWithoutAsking) {
    const Extracted out = ExtractAll(Pack("-pSECRET -mhe=on"), "SECRET");
    EXPECT_EQ(out.indexStatus.code, HRESULT_HEADERS_ENCRYPTED);
    EXPECT_EQ(out.asked, 0);
}

} // namespace

namespace {

// A damaged enciphered archive fails, whatever part is hit; it never reads as whole.
TEST_F(EncipheredArchiveTest, DamageIsAFailureNeverData) {
    const fs::path archive = Pack("-pSECRET -m0=LZMA2 -mf=BCJ");
    const std::string original = ReadFile(archive);
    const fs::path damaged = dir.path() / "damaged.7z";
    struct Damage {
        const char* what;
        std::size_t at;
        bool cut; // cut off from `at` on, else one byte flipped there
    };
    const std::size_t size = original.size();
    const Damage cases[] = {
        {"first packed block", 40, false},          {"middle of the packed data", size / 2, false},
        {"last packed bytes", size - 200, false},   {"signature header", 12, false},
        {"cut in the packed data", size / 2, true}, {"cut in the headers", size - 20, true},
    };
    for (const auto& damage : cases) {
        SCOPED_TRACE(damage.what);
        std::string bytes = original;
        if (damage.cut)
            bytes.resize(damage.at);
        else
            bytes[damage.at] = static_cast<char>(bytes[damage.at] ^ 0x55);
        WriteFile(damaged, bytes);
        const Extracted out = ExtractAll(damaged, "SECRET");
        EXPECT_FALSE(out.indexStatus.Ok() && out.status.Ok());
        EXPECT_NE(Differences(out.data, expected), "");
    }
}

} // namespace
