// The digest of every byte of a launcher file: `verify` checks it together with the items, plain
// and enciphered, with and without the password; the launcher checks it as it extracts and
// starts no setup from a file that fails it.

#include "cptlib/resources/ResourceUtils.h"
#include "format/ConfigBlock.h"
#include "format/FileDigest.h"
#include "format/LittleEndian.h"
#include "format/Payload.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Offset and size of the ELF section `name`, read from the section headers.
std::pair<std::uint64_t, std::uint64_t> ElfSection(const std::string& file,
                                                   const std::string& name) {
    const auto bytes = AsBytes(file);
    const auto at = [&](std::uint64_t offset, int size) -> std::uint64_t {
        switch (size) {
        case 2:
            return sfx::ReadLittleEndian<std::uint16_t>(bytes, offset).value_or(0);
        case 4:
            return sfx::ReadLittleEndian<std::uint32_t>(bytes, offset).value_or(0);
        default:
            return sfx::ReadLittleEndian<std::uint64_t>(bytes, offset).value_or(0);
        }
    };
    const std::uint64_t table = at(0x28, 8), entry = at(0x3A, 2), count = at(0x3C, 2);
    const std::uint64_t names = at(table + entry * at(0x3E, 2) + 0x18, 8);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t header = table + entry * i;
        if (file.compare(names + at(header, 4), name.size() + 1, name.c_str(), name.size() + 1) ==
            0)
            return {at(header + 0x18, 8), at(header + 0x20, 8)};
    }
    return {0, 0};
}

class FileDigest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(product_);
        fs::create_directories(tmp_);
        WriteExecutable(product_ / "setup.sh", "#!/bin/sh\necho started > \"$SETUP_RECORD\"\n");
        WriteFile(product_ / "data.bin", IncompressibleBytes(300000));
        WriteFile(top_ / "config.txt", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                                       "; long enough for several cipher blocks\n");
        WriteFile(top_ / "password.txt", "sesame\n");
        WriteFile(top_ / "wrong.txt", "open up\n");
        stub_ = SmallStub(top_);
    }

    static ProcessResult Sfxbuild(std::vector<std::string> args) {
        args.insert(args.begin(), BinPath("sfxbuild"));
        return RunProcess(args);
    }

    fs::path Build(const std::string& name, bool enciphered) {
        const fs::path out = top_ / name;
        std::vector<std::string> args = {
            "create",       "--config",        (top_ / "config.txt").string(),
            "--dir",        product_.string(), "--stub",
            stub_.string(), "--data",          "customer=4711",
            "-o",           out.string()};
        if (enciphered)
            args.insert(args.end(), {"--password-file", (top_ / "password.txt").string()});
        const ProcessResult r = Sfxbuild(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    ProcessResult RunLauncher(const fs::path& launcher) {
        return RunProcess({launcher.string()},
                          {{"LANG", "en_US.UTF-8"},
                           {"LC_ALL", ""},
                           {"DISPLAY", ""},
                           {"WAYLAND_DISPLAY", ""},
                           {"TMPDIR", tmp_.string()},
                           {"SETUP_RECORD", record_.string()}},
                          top_.string());
    }

    TempDir scratch_;
    const fs::path top_ = scratch_.path();
    const fs::path product_ = top_ / "product";
    const fs::path tmp_ = top_ / "tmp";
    const fs::path record_ = top_ / "record.txt";
    fs::path stub_;
};

struct Damage {
    const char* what;
    // Changes the file's bytes; `layout` is where its payload lies.
    std::function<void(std::string& bytes, const sfx::PayloadLayout& layout)> apply;
};

TEST_F(FileDigest, VerifyFindsDamageAnywherePlainAndEnciphered) {
    const auto flip = [](std::string& bytes, std::uint64_t at) {
        bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    };
    const Damage damages[] = {
        {"none", [](std::string&, const sfx::PayloadLayout&) {}},
        {"64 bytes of .text",
         [](std::string& bytes, const sfx::PayloadLayout&) {
             const auto [offset, size] = ElfSection(bytes, ".text");
             ASSERT_GT(size, 4096u);
             bytes.replace(offset + size / 2, 64, std::string(64, '\xCC'));
         }},
        {"4 KiB of .rsrc zeroed",
         [](std::string& bytes, const sfx::PayloadLayout&) {
             const auto [offset, size] = ElfSection(bytes, ".rsrc");
             ASSERT_GT(size, 8192u);
             bytes.replace(offset + size / 2, 4096, std::string(4096, '\0'));
         }},
        // Past the IV, and not in the last cipher block, so that whole plain blocks change.
        {"a byte of the configuration block",
         [&](std::string& bytes, const sfx::PayloadLayout& layout) {
             flip(bytes, layout.blockOffset + 16 + 3);
         }},
        {"a byte of the archive's packed data",
         [&](std::string& bytes, const sfx::PayloadLayout& layout) {
             flip(bytes, layout.archiveOffset + 32 + 200);
         }},
        // The value's last digit, in UTF-16LE before the 22-byte end marker.
        {"a byte of the data block",
         [](std::string& bytes, const sfx::PayloadLayout&) {
             const std::size_t at = bytes.size() - 22 - 2;
             ASSERT_EQ(bytes[at], '1');
             bytes[at] = '2';
         }},
    };
    struct Expectation {
        int status;
        const char* part; // of stdout when intact, of stderr otherwise
    };
    enum Password { None, Right, Wrong };
    for (const bool enciphered : {false, true}) {
        const fs::path built = Build(enciphered ? "enc.bin" : "plain.bin", enciphered);
        const std::string original = ReadFile(built);
        sfx::PayloadLayout layout;
        std::string text;
        ASSERT_EQ(sfx::ReadConfigurationBlock(built, text, &layout), cptlib::kHrOk);
        for (const Damage& damage : damages) {
            std::string bytes = original;
            damage.apply(bytes, layout);
            const fs::path file = top_ / "damaged.bin";
            WriteFile(file, bytes);
            const bool intact = std::string(damage.what) == "none";
            for (const Password password : {None, Right, Wrong}) {
                if (!enciphered && password != None)
                    continue;
                SCOPED_TRACE(std::string(damage.what) + (enciphered ? ", enciphered" : "") +
                             (password == Right   ? ", right password"
                              : password == Wrong ? ", wrong password"
                                                  : ""));
                std::vector<std::string> args = {"verify", file.string()};
                if (password != None)
                    args.insert(
                        args.end(),
                        {"--password-file",
                         (top_ / (password == Right ? "password.txt" : "wrong.txt")).string()});
                const ProcessResult r = Sfxbuild(args);
                Expectation expected{2, "damaged.bin"};
                if (intact && !enciphered)
                    expected = {0, "intact (2 items, "};
                else if (intact && password == None)
                    expected = {0, "intact (0 items, 0 bytes decoded and checked; 2 enciphered "
                                   "items not decoded without --password-file; digest of every "
                                   "byte matches)"};
                else if (intact && password == Right)
                    expected = {0, "intact (2 items, "};
                else if (intact)
                    expected = {1, "the password of --password-file does not decipher item"};
                EXPECT_EQ(r.status, expected.status) << r.out << r.err;
                const std::string& said = expected.status == 0 ? r.out : r.err;
                EXPECT_NE(said.find(expected.part), std::string::npos) << said;
                EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
                if (expected.status == 0) {
                    EXPECT_NE(said.find("digest of every byte matches"), std::string::npos) << said;
                }
            }
        }
    }
}

TEST_F(FileDigest, StampingKeepsTheDigestAndFilesWithoutOneVerifyAsBefore) {
    const fs::path file = Build("plain.bin", false);
    ProcessResult r = Sfxbuild({"stamp", file.string(), "VRNID=", "VRNID2="});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, ""); // empty slots: the data block is still forwarded
    r = Sfxbuild({"stamp", file.string(), "VRNID=customer 1", "ZQ_BRINDLE_PHASH=h"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The file was made with --data: its pairs stop being forwarded now.
    EXPECT_EQ(r.err, "sfxbuild: warning: '" + file.string() +
                         "': its data block (create --data) is no longer forwarded once a slot "
                         "holds a value; the launcher forwards the slots instead\n");
    r = Sfxbuild({"verify", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("digest of every byte matches"), std::string::npos) << r.out;

    // A file built before digests: the slot is all zeros.
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(cptlib::LocateFileResource(file, cptlib::kRtRcData, std::string(sfx::kDigestSlotName),
                                         std::nullopt, offset, size),
              cptlib::kHrOk);
    ASSERT_EQ(size, sfx::kDigestSize);
    std::string bytes = ReadFile(file);
    bytes.replace(offset, size, std::string(size, '\0'));
    WriteFile(file, bytes);
    r = Sfxbuild({"verify", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no digest"), std::string::npos) << r.out;
    fs::permissions(file, fs::perms(0755));
    r = RunLauncher(file);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(ReadFile(record_), "started\n");
}

TEST_F(FileDigest, TheLauncherStartsNoSetupFromAFileWhoseImageWasDamaged) {
    const fs::path file = Build("plain.bin", false);
    ProcessResult r = RunLauncher(file);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_EQ(ReadFile(record_), "started\n");
    fs::remove(record_);

    // The icon: bytes that a run without windows never uses, so only the digest can tell.
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(cptlib::LocateFileResource(file, 3, "#1", std::nullopt, offset, size), cptlib::kHrOk);
    ASSERT_GE(size, 64u);
    std::string bytes = ReadFile(file);
    bytes.replace(offset + size / 2, 64, std::string(64, '\x5A'));
    WriteFile(file, bytes);
    fs::permissions(file, fs::perms(0755));

    r = RunLauncher(file);
    EXPECT_EQ(r.status, 65) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find("The setup file is corrupted."), std::string::npos)
        << r.out << r.err;
    EXPECT_FALSE(fs::exists(record_));
    EXPECT_TRUE(fs::is_empty(tmp_));
}

} // namespace
