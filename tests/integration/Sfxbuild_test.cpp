// Runs the built sfxbuild on real folders and archives and reads the results the way the
// launcher does.

#include "cptlib/resources/ResourceUtils.h"
#include "format/ConfigBlock.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

std::string Utf16Le(std::string_view ascii) {
    std::string out;
    for (const char c : ascii) {
        out += c;
        out += '\0';
    }
    return out;
}

std::uint64_t Le64(const std::string& bytes) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8 && i < bytes.size(); ++i)
        v |= std::uint64_t{static_cast<std::uint8_t>(bytes[i])} << (8 * i);
    return v;
}

class SfxbuildTest : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(folder_ / "payload" / "sub");
        WriteFile(folder_ / "payload" / "readme.txt", "read me\n");
        WriteFile(folder_ / "payload" / ".hidden", "hidden\n");
        WriteFile(folder_ / "payload" / "sub" / "setup.sh", "#!/bin/sh\nexit 0\n");
        fs::permissions(folder_ / "payload" / "sub" / "setup.sh", fs::perms(0755));
        fs::create_symlink("readme.txt", folder_ / "payload" / "link");
        WriteFile(folder_ / "setup.ini", kConfig);
        // A stub stripped of debugging information is named on every create.
        stub_ = SmallStub(folder_);
        if (stub_ != BinPath("sfxstub"))
            stubArgs_ = {"--stub", stub_.string()};
    }

    ProcessResult Sfxbuild(std::vector<std::string> args) {
        args.insert(args.begin(), BinPath("sfxbuild"));
        return RunProcess(args);
    }

    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_))
            names.insert(entry.path().filename().string());
        return names;
    }

    fs::path MakeArchive() { return Pack7z(folder_ / "payload", folder_ / "payload.7z"); }

    // Create arguments with the stub: none when the default one beside sfxbuild is used.
    std::vector<std::string> Create(std::vector<std::string> args) const {
        args.insert(args.begin(), "create");
        args.insert(args.end(), stubArgs_.begin(), stubArgs_.end());
        return args;
    }

    static constexpr const char* kConfig = "[main]\r\nProductName=\"Demo \xC3\x9C\"\r\n"
                                           "SetupFileName=sub/setup.sh\r\n";
    TempDir scratch_;
    const fs::path folder_ = scratch_.path();
    fs::path stub_;
    std::vector<std::string> stubArgs_;
};

TEST_F(SfxbuildTest, CreatesALauncherFromAFolder) {
    const fs::path out = folder_ / "setup.bin";
    const ProcessResult r = Sfxbuild(Create({"--config", (folder_ / "setup.ini").string(), "--dir",
                                             (folder_ / "payload").string(), "-o", out.string()}));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fs::status(out).permissions() & fs::perms::all, fs::perms(0755));

    // The launcher finds and deciphers the configuration.
    std::string text;
    sfx::PayloadLayout layout;
    ASSERT_EQ(sfx::ReadConfigurationBlock(out, text, &layout), cptlib::kHrOk);
    EXPECT_EQ(text, kConfig);
    const std::string file = ReadFile(out);
    const std::string stub = ReadFile(stub_);
    EXPECT_EQ(layout.startMarker, stub.size());

    // The image is the stub; only the size and digest slots differ.
    std::uint64_t slot = 0, digest = 0;
    std::uint32_t slotSize = 0, digestSize = 0;
    ASSERT_EQ(cptlib::LocateFileResource(out, cptlib::kRtRcData, "_VRN_VERIFY", std::nullopt, slot,
                                         slotSize),
              cptlib::kHrOk);
    ASSERT_EQ(cptlib::LocateFileResource(out, cptlib::kRtRcData, "_VRN_DIGEST", std::nullopt,
                                         digest, digestSize),
              cptlib::kHrOk);
    ASSERT_EQ(digestSize, 32u);
    std::string image = file.substr(0, stub.size());
    EXPECT_EQ(Le64(image.substr(slot, 8)), file.size());
    EXPECT_NE(image.substr(digest, 32), std::string(32, '\0'));
    image.replace(slot, 8, std::string(8, '\0'));
    image.replace(digest, 32, std::string(32, '\0'));
    EXPECT_TRUE(image == stub);
    std::string verify;
    ASSERT_EQ(cptlib::ReadFileResource(out, "_VRN_VERIFY", verify), cptlib::kHrOk);
    EXPECT_EQ(Le64(verify), file.size());

    // The archive runs to the end of the file, packed as asked, with modes and the link kept.
    const fs::path archive = folder_ / "extracted.7z";
    WriteFile(archive, file.substr(layout.archiveOffset));
    const ProcessResult listed = RunShell("7zz l -slt " + ShellQuote(archive.string()));
    ASSERT_EQ(listed.status, 0) << listed.err;
    const std::string& listing = listed.out;
    for (const char* expected : {"Path = readme.txt", "Path = .hidden", "Path = sub/setup.sh",
                                 "-rwxr-xr-x", "Path = link", "lrwxrwxrwx", "Method = BCJ LZMA2"})
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;

    const ProcessResult info = Sfxbuild({"info", out.string()});
    ASSERT_EQ(info.status, 0) << info.err;
    for (const std::string& expected :
         {"image: offset 0, size " + std::to_string(stub.size()),
          "configuration block: offset " + std::to_string(layout.blockOffset) + ", size " +
              std::to_string(layout.blockSize),
          "archive: offset " + std::to_string(layout.archiveOffset) + ", size " +
              std::to_string(file.size() - layout.archiveOffset),
          std::string("    ProductName=\"Demo \xC3\x9C\"\n"),
          "_VRN_VERIFY           8  " + std::to_string(file.size()),
          std::string("VRNID               256  (empty)")})
        EXPECT_NE(info.out.find(expected), std::string::npos) << expected << "\n" << info.out;
    EXPECT_EQ(info.out.find("data block"), std::string::npos);
    // Nothing is left behind but the result.
    std::set<std::string> expected = {"payload", "setup.ini", "setup.bin", "extracted.7z"};
    if (!stubArgs_.empty())
        expected.insert("stub");
    EXPECT_EQ(Listing(), expected);
}

TEST_F(SfxbuildTest, TakesAnArchiveAsItIsAndAppendsTheDataBlock) {
    const fs::path archive = MakeArchive();
    const fs::path out = folder_ / "setup.bin";
    const ProcessResult r =
        Sfxbuild(Create({"--config", (folder_ / "setup.ini").string(), "--archive",
                         archive.string(), "--data", "k1=a%20b&k2=", "-o", out.string()}));
    ASSERT_EQ(r.status, 0) << r.err;

    std::string text;
    sfx::PayloadLayout layout;
    ASSERT_EQ(sfx::ReadConfigurationBlock(out, text, &layout), cptlib::kHrOk);
    const std::string file = ReadFile(out);
    const std::string archiveBytes = ReadFile(archive);
    EXPECT_TRUE(file.substr(layout.archiveOffset, archiveBytes.size()) == archiveBytes);
    const std::string block = Utf16Le("##DATA##k1=a%20b&k2=##ENDDATA##");
    EXPECT_EQ(file.size(), layout.archiveOffset + archiveBytes.size() + block.size());
    EXPECT_EQ(file.substr(file.size() - block.size()), block);
    std::string verify;
    ASSERT_EQ(cptlib::ReadFileResource(out, "_VRN_VERIFY", verify), cptlib::kHrOk);
    EXPECT_EQ(Le64(verify), file.size());

    const ProcessResult info = Sfxbuild({"info", out.string()});
    ASSERT_EQ(info.status, 0) << info.err;
    const std::string expected = "data block: offset " +
                                 std::to_string(file.size() - block.size()) + ", size " +
                                 std::to_string(block.size()) + ", query k1=a%20b&k2=";
    EXPECT_NE(info.out.find(expected), std::string::npos) << info.out;
}

TEST_F(SfxbuildTest, StampsSlotsInPlace) {
    const fs::path out = folder_ / "setup.bin";
    ASSERT_EQ(Sfxbuild(Create({"--config", (folder_ / "setup.ini").string(), "--dir",
                               (folder_ / "payload").string(), "-o", out.string()}))
                  .status,
              0);
    const auto size = fs::file_size(out);
    const std::string phash = "0123456789abcdef0123456789abcdef01"; // fills all 34 bytes
    ProcessResult r = Sfxbuild(
        {"stamp", out.string(), "VRNID=first value \xE2\x82\xAC", "ZQ_BRINDLE_PHASH=" + phash});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Sfxbuild({"stamp", out.string(), "VRNID=short"});
    ASSERT_EQ(r.status, 0) << r.err;

    EXPECT_EQ(fs::file_size(out), size);
    std::string bytes;
    ASSERT_EQ(cptlib::ReadFileResource(out, "VRNID", bytes), cptlib::kHrOk);
    EXPECT_EQ(bytes, "short" + std::string(251, '\0')); // the longer value is gone
    ASSERT_EQ(cptlib::ReadFileResource(out, "ZQ_BRINDLE_PHASH", bytes), cptlib::kHrOk);
    EXPECT_EQ(bytes, phash);
    ASSERT_EQ(cptlib::ReadFileResource(out, "VRNID2", bytes), cptlib::kHrOk);
    EXPECT_EQ(bytes, std::string(256, '\0'));
    // The configuration and the size check are untouched.
    std::string text;
    ASSERT_EQ(sfx::ReadConfigurationBlock(out, text), cptlib::kHrOk);
    ASSERT_EQ(cptlib::ReadFileResource(out, "_VRN_VERIFY", bytes), cptlib::kHrOk);
    EXPECT_EQ(Le64(bytes), size);

    const ProcessResult info = Sfxbuild({"info", out.string()});
    EXPECT_NE(info.out.find("VRNID               256  short\n"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("ZQ_BRINDLE_PHASH     34  " + phash), std::string::npos) << info.out;
}

TEST_F(SfxbuildTest, CreateFailuresLeaveNoOutput) {
    const fs::path config = folder_ / "setup.ini";
    const fs::path out = folder_ / "setup.bin";
    const fs::path archive = MakeArchive();
    WriteFile(folder_ / "latin1.ini", "[main]\nProductName=Caf\xE9\n");
    WriteFile(folder_ / "fake.7z", "PK\x03\x04 not seven zip");
    const std::string whole = ReadFile(archive);
    WriteFile(folder_ / "cut.7z", whole.substr(0, whole.size() - 10));
    ASSERT_EQ(Sfxbuild(Create({"--config", config.string(), "--archive", archive.string(), "-o",
                               (folder_ / "built.bin").string()}))
                  .status,
              0);

    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string names; // the file the message must name
    };
    const std::string dir = (folder_ / "payload").string();
    const Case cases[] = {
        {"missing configuration",
         {"--config", (folder_ / "none.ini").string(), "--dir", dir},
         "none.ini"},
        {"configuration not UTF-8",
         {"--config", (folder_ / "latin1.ini").string(), "--dir", dir},
         "latin1.ini"},
        {"archive not 7z",
         {"--config", config.string(), "--archive", (folder_ / "fake.7z").string()},
         "fake.7z"},
        {"archive cut short",
         {"--config", config.string(), "--archive", (folder_ / "cut.7z").string()},
         "cut.7z"},
        {"missing archive",
         {"--config", config.string(), "--archive", (folder_ / "none.7z").string()},
         "none.7z"},
        {"missing folder",
         {"--config", config.string(), "--dir", (folder_ / "nodir").string()},
         "nodir' does not exist or is not a folder"},
        {"stub not a program",
         {"--config", config.string(), "--dir", dir, "--stub", config.string()},
         "setup.ini"},
        {"stub that already carries a payload",
         {"--config", config.string(), "--dir", dir, "--stub", (folder_ / "built.bin").string()},
         "built.bin"},
        {"bad escape in the data",
         {"--config", config.string(), "--dir", dir, "--data", "a=%4"},
         "setup.bin"},
        {"data pair without '='",
         {"--config", config.string(), "--dir", dir, "--data", "a=1&novalue"},
         "--data takes NAME=VALUE pairs joined by &, not 'novalue'"},
        {"data pair without a name",
         {"--config", config.string(), "--dir", dir, "--data", "=x"},
         "--data takes NAME=VALUE pairs joined by &, not '=x'"},
    };
    const auto before = Listing();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-o", out.string()});
        if (std::find(args.begin(), args.end(), "--stub") == args.end())
            args = Create(args);
        else
            args.insert(args.begin(), "create");
        const ProcessResult r = Sfxbuild(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err; // exactly one line
        EXPECT_EQ(r.err.rfind("sfxbuild: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.names), std::string::npos) << r.err;
        EXPECT_EQ(Listing(), before); // no output, no temporary files
    }

    // The output may not land in the folder being packed, where the temporary files would be
    // packed too.
    const ProcessResult inside =
        Sfxbuild(Create({"--config", config.string(), "--dir", dir, "-o",
                         (folder_ / "payload" / "sub" / "setup.bin").string()}));
    EXPECT_EQ(inside.status, 1);
    EXPECT_NE(inside.err.find("lies inside the folder"), std::string::npos) << inside.err;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "payload" / "sub"),
                            fs::directory_iterator()),
              1);

    // An earlier output survives a failed run unchanged.
    WriteFile(out, "earlier output");
    const ProcessResult r = Sfxbuild(
        Create({"--config", (folder_ / "latin1.ini").string(), "--dir", dir, "-o", out.string()}));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(ReadFile(out), "earlier output");
}

TEST_F(SfxbuildTest, StampFailuresChangeNothing) {
    const fs::path out = folder_ / "setup.bin";
    ASSERT_EQ(Sfxbuild(Create({"--config", (folder_ / "setup.ini").string(), "--dir",
                               (folder_ / "payload").string(), "-o", out.string()}))
                  .status,
              0);
    const std::string original = ReadFile(out);
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"unknown slot", {"NOPE=1"}, "unknown slot 'NOPE'"},
        {"value too long", {std::string("VRNID=") + std::string(257, 'x')}, "257 bytes"},
        {"phash too long", {"ZQ_BRINDLE_PHASH=" + std::string(35, 'x')}, "slot holds 34"},
        {"the size slot",
         {"_VRN_VERIFY=12"},
         "'_VRN_VERIFY' is not a value slot; the slots are VRNID (256 bytes), VRNID2 (256) and "
         "ZQ_BRINDLE_PHASH (34)"},
        {"the digest slot", {"_VRN_DIGEST=12"}, "'_VRN_DIGEST' is not a value slot"},
        {"no value", {"VRNID"}, "'VRNID' is not NAME=VALUE"},
        // A good assignment before a bad one is not written either.
        {"good then bad", {"VRNID=ok", "VRNID2=" + std::string(300, 'y')}, "'VRNID2'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"stamp", out.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = Sfxbuild(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_NE(r.err.find(out.string()), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_TRUE(ReadFile(out) == original);
    }
    const ProcessResult missing = Sfxbuild({"stamp", (folder_ / "none.bin").string(), "VRNID=1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err,
              "sfxbuild: cannot open '" + (folder_ / "none.bin").string() + "': no such file\n");
    EXPECT_FALSE(fs::exists(folder_ / "none.bin"));

    // A text file is no launcher file to any of the looking commands: a usage error, not damage.
    for (const char* command : {"info", "list", "verify"}) {
        SCOPED_TRACE(command);
        const ProcessResult r = Sfxbuild({command, (folder_ / "setup.ini").string()});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("setup.ini"), std::string::npos) << r.err;
    }
}

} // namespace
