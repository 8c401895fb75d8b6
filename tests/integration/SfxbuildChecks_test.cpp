// The build tool's checks of a product before it is shipped, and its look into a finished
// launcher file: verify, list, info --json, and stamp's refusals.

#include "format/ConfigBlock.h"
#include "format/Payload.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <functional>
#include <set>
#include <sstream>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr const char* kGoodConfig = "[main]\nProductName=Demo\nSetupFileName=sub/setup.sh\n";

class SfxbuildChecks : public testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(product_ / "sub");
        WriteFile(product_ / "readme.txt", "read me\n");
        WriteExecutable(product_ / "sub" / "setup.sh", "#!/bin/sh\nexit 0\n");
        stub_ = SmallStub(top_);
    }

    static ProcessResult Sfxbuild(std::vector<std::string> args) {
        args.insert(args.begin(), BinPath("sfxbuild"));
        return RunProcess(args);
    }

    // `create` from `product_` (or `archive` when given) with this configuration.
    ProcessResult Create(const std::string& config, const fs::path& archive = {}) {
        WriteFile(top_ / "config.txt", config);
        std::vector<std::string> args = {
            "create", "--config",   (top_ / "config.txt").string(), "--stub", stub_.string(),
            "-o",     out_.string()};
        if (archive.empty())
            args.insert(args.end(), {"--dir", product_.string()});
        else
            args.insert(args.end(), {"--archive", archive.string()});
        return Sfxbuild(args);
    }

    std::set<std::string> Listing() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(top_))
            names.insert(entry.path().filename().string());
        return names;
    }

    // A built launcher file whose product holds a file large enough for damage inside it.
    fs::path Built() {
        std::string text;
        for (int i = 0; i < 5000; ++i)
            text += "line " + std::to_string(i * 7919 % 10007) + " of the product\n";
        WriteFile(product_ / "data.txt", text);
        const ProcessResult r =
            Create(std::string(kGoodConfig) + "; a configuration long enough for several cipher "
                                              "blocks, so that one can be damaged in its middle\n");
        EXPECT_EQ(r.status, 0) << r.err;
        return out_;
    }

    TempDir scratch_;
    const fs::path top_ = scratch_.path();
    const fs::path product_ = top_ / "product";
    const fs::path out_ = top_ / "setup.bin";
    fs::path stub_;
};

struct CheckCase {
    const char* what;
    std::function<void(const fs::path& product)> prepare; // the product, before create
    std::string config;
    std::string error; // part of the one-line error; empty: create succeeds
};

void Fifo(const fs::path& path) {
    ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
}

TEST_F(SfxbuildChecks, CreateRefusesWhatTheLauncherWouldFailOnAndAcceptsItsNeighbours) {
    const auto none = [](const fs::path&) {};
    const std::string good = kGoodConfig;
    const CheckCase cases[] = {
        {"link out of the folder",
         [](const fs::path& p) { fs::create_symlink("../outside.txt", p / "up"); }, good,
         "link 'up' -> '../outside.txt' leaves the folder"},
        {"link out of the folder from below",
         [](const fs::path& p) { fs::create_symlink("../../x", p / "sub" / "up"); }, good,
         "link 'sub/up' -> '../../x' leaves the folder"},
        {"absolute link", [](const fs::path& p) { fs::create_symlink("/etc/passwd", p / "abs"); },
         good, "link 'abs' -> '/etc/passwd' leaves the folder"},
        {"link inside",
         [](const fs::path& p) { fs::create_symlink("../readme.txt", p / "sub" / "in"); }, good,
         ""},
        {"FIFO", [](const fs::path& p) { Fifo(p / "pipe"); }, good, "'pipe' is a FIFO"},
        {"file named like the FIFO", [](const fs::path& p) { WriteFile(p / "pipe", "x"); }, good,
         ""},
        {"socket",
         [](const fs::path& p) {
             const ProcessResult r = RunShell(
                 "python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind(\"sock\")'", {},
                 p.string());
             ASSERT_EQ(r.status, 0) << r.err;
         },
         good, "'sock' is a socket"},
        {"name that is not UTF-8", [](const fs::path& p) { WriteFile(p / "bad\xFF", "x"); }, good,
         "the name 'bad\xFF' is not valid UTF-8"},
        {"name in UTF-8", [](const fs::path& p) { WriteFile(p / "gut\xC3\xBC", "x"); }, good, ""},
        {"setup file missing", none, "[main]\nSetupFileName=sub/missing.sh\n",
         "[main] SetupFileName 'sub/missing.sh' is not in the folder"},
        {"no SetupFileName: setup.exe is missing", none, "[main]\nProductName=Demo\n",
         "[main] SetupFileName 'setup.exe' is not in the folder"},
        {"no SetupFileName, setup.exe under product/",
         [](const fs::path& p) { WriteFile(p / "product" / "setup.exe", "x"); },
         "[main]\nProductName=Demo\n", ""},
        {"extract-only files start no setup", none, "[main]\nExtractOnly=1\n", ""},
        {"SetupFileName64 missing", none, good + "SetupFileName64=setup64.sh\n",
         "[main] SetupFileName64 'setup64.sh' is not in the folder"},
        {"SetupFileName64 present", [](const fs::path& p) { WriteFile(p / "setup64.sh", "x"); },
         good + "SetupFileName64=setup64.sh\n", ""},
        {"LANG_ section's setup file missing", none,
         good + "[LANG_de-DE]\nSetupFileName=setup-de.sh\n",
         "[LANG_de-DE] SetupFileName 'setup-de.sh' is not in the folder"},
        {"LANG_ section's setup file present", none,
         good + "[LANG_de-DE]\nSetupFileName=readme.txt\n", ""},
        {"[ExtractDir] before a missing file", none, "[main]\nSetupFileName=[ExtractDir]nope.sh\n",
         "SetupFileName 'nope.sh' is not in the folder"},
        {"[ExtractDir] before the setup file", none,
         "[main]\nSetupFileName=[ExtractDir]sub/setup.sh\n", ""},
        {"a folder only the target knows", none,
         "[main]\nSetupFileName=[ProgramFilesFolder]tool/setup.sh\n", ""},
        {"culture no string table knows", none, good + "[LANG_xx-XX]\nProductName=X\n",
         "[LANG_xx-XX]: neither the launcher's language choice nor a string table knows the "
         "culture 'xx-XX'"},
        {"culture with an underscore", none, good + "[LANG_en_US]\nProductName=X\n",
         "culture 'en_US' (did you mean en-US?)"},
        {"culture of a neutral string table", none, good + "[LANG_de-AT]\nProductName=X\n", ""},
        // The language choice offers these by name, whatever the string tables are.
        {"cultures of the language choice", none,
         good + "[LANG_zh-Hant]\nProductName=X\n[LANG_zh-Hans]\nProductName=X\n"
                "[LANG_en-II]\nProductName=X\n[LANG_sl-SI]\nProductName=X\n",
         ""},
        {"setup script without execute bit",
         [](const fs::path& p) { fs::permissions(p / "sub" / "setup.sh", fs::perms(0644)); }, good,
         "[main] SetupFileName 'sub/setup.sh' is a program without an execute bit"},
        {"setup program without execute bit",
         [](const fs::path& p) {
             WriteFile(p / "setup", "\x7F"
                                    "ELF and the rest");
         },
         "[main]\nSetupFileName=setup\n", "'setup' is a program without an execute bit"},
        // A document is handed to the desktop on purpose.
        {"document as the setup", none, "[main]\nSetupFileName=readme.txt\n", ""},
        {"setup.exe without execute bit",
         [](const fs::path& p) { WriteFile(p / "setup.exe", "#!"); },
         "[main]\nSetupFileName=setup.exe\n", ""},
        {"link to a script with execute bit",
         [](const fs::path& p) { fs::create_symlink("sub/setup.sh", p / "go"); },
         "[main]\nSetupFileName=go\n", ""},
    };
    for (const CheckCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(product_);
        fs::remove(out_);
        SetUp();
        c.prepare(product_);
        WriteFile(top_ / "config.txt", c.config);
        const std::set<std::string> before = Listing();
        const ProcessResult r = Create(c.config);
        if (c.error.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_TRUE(r.err.starts_with("sfxbuild: ")) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(Listing(), before); // nothing written
    }
}

TEST_F(SfxbuildChecks, ArchivesGetTheSameItemChecks) {
    fs::create_symlink("../../outside", product_ / "sub" / "up");
    const fs::path leaving = Pack7z(product_, top_ / "leaving.7z");
    fs::remove(product_ / "sub" / "up");
    Fifo(product_ / "pipe");
    const fs::path fifo = Pack7z(product_, top_ / "fifo.7z");
    fs::remove(product_ / "pipe");
    const fs::path clean = Pack7z(product_, top_ / "clean.7z");
    // 7zz keeps the absolute name with -spf.
    const fs::path absolute = Pack7z(product_, top_ / "absolute.7z", "-spf",
                                     ShellQuote((product_ / "readme.txt").string()));

    struct Case {
        fs::path archive;
        std::string config;
        std::string error; // empty: create succeeds
    };
    const Case cases[] = {
        {leaving, kGoodConfig, "link 'sub/up' -> '../../outside' leaves the folder"},
        {fifo, kGoodConfig, "'pipe' is a device, socket or FIFO"},
        {absolute, "[main]\nExtractOnly=1\n",
         "item '" + (product_ / "readme.txt").string() + "' has a name the launcher refuses"},
        {clean, "[main]\nSetupFileName=setup.sh\n",
         "[main] SetupFileName 'setup.sh' is not in the archive '" + clean.string() +
             "' (nor under product/)"},
        {clean, kGoodConfig, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.archive.string() + " " + c.config);
        fs::remove(out_);
        const ProcessResult r = Create(c.config, c.archive);
        if (c.error.empty()) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.err, "");
            continue;
        }
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("archive '" + c.archive.string() + "'"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out_));
    }
}

TEST_F(SfxbuildChecks, UnknownKeysAndSectionsAreWarningsWithTheNearestKey) {
    const ProcessResult r =
        Create(std::string(kGoodConfig) + "SetupFileNme=x\nShowUnzipLanguageDialog=0\nZzz=1\n"
                                          "[LANG_de-DE]\nProgresTitle=T\n[mian]\nA=1\n[extras]\n"
                                          "B=2\n");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out_));
    for (const char* expected :
         {"[main] unknown key 'SetupFileNme', which the launcher ignores (did you mean "
          "SetupFileName?)\n",
          "[main] unknown key 'ShowUnzipLanguageDialog', which the launcher ignores (did you "
          "mean ShowUnzipLanguageDlg?)\n",
          "[main] unknown key 'Zzz', which the launcher ignores\n",
          "[LANG_de-DE] unknown key 'ProgresTitle', which the launcher ignores (did you mean "
          "ProgressTitle?)\n",
          "unknown section [mian], which the launcher ignores (did you mean main?)\n",
          "unknown section [extras], which the launcher ignores (sections are main and "
          "LANG_<culture>)\n"})
        EXPECT_NE(r.err.find(expected), std::string::npos) << expected << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 6) << r.err;
}

TEST_F(SfxbuildChecks, EveryMistakeIsReportedInOneRun) {
    fs::create_symlink("/etc/passwd", product_ / "abs");
    fs::create_symlink("../outside", product_ / "up");
    Fifo(product_ / "pipe");
    const ProcessResult r =
        Create("[main]\nSetupFileName=missing.sh\n[LANG_xx-XX]\nProductName=X\n");
    EXPECT_EQ(r.status, 1);
    std::vector<std::string> lines;
    std::istringstream in(r.err);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 6u) << r.err;
    std::sort(lines.begin(), lines.end() - 1);
    const std::string folder = "sfxbuild: folder '" + product_.string() + "': ";
    const std::string config = "sfxbuild: configuration '" + (top_ / "config.txt").string() + "': ";
    const std::vector<std::string> expected = {
        config + "[LANG_xx-XX]: neither the launcher's language choice nor a string table knows "
                 "the culture 'xx-XX'",
        config + "[main] SetupFileName 'missing.sh' is not in the folder '" + product_.string() +
            "' (nor under product/)",
        folder + "'pipe' is a FIFO; only files, folders and links can be shipped",
        folder + "link 'abs' -> '/etc/passwd' leaves the folder; the launcher refuses it "
                 "(--follow takes it as what it points at)",
        folder + "link 'up' -> '../outside' leaves the folder; the launcher refuses it (--follow "
                 "takes it as what it points at)",
        "sfxbuild: 5 problems; '" + out_.string() + "' was not written",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_FALSE(fs::exists(out_));
}

TEST_F(SfxbuildChecks, WarnsAboutEmptyLanguageSectionsAndWordsWhereNumbersAreRead) {
    const ProcessResult r = Create(std::string(kGoodConfig) +
                                   "ExtractOnly=yes\nSfxProgressVisible=maybe\nSetupShow= 1 \n"
                                   "[LANG_en-US]\n[LANG_de-DE]\nProductName=D\nSetupShow=on\n");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string where =
        "sfxbuild: warning: configuration '" + (top_ / "config.txt").string() + "': ";
    EXPECT_EQ(
        r.err,
        where +
            "[LANG_en-US] has no entries, so the launcher does not see it and does not "
            "offer its culture; give it at least one key (e.g. ProductName=...)\n" +
            where + "[main] ExtractOnly='yes' is not a number; the launcher reads it as 0\n" +
            where +
            "[main] SfxProgressVisible='maybe' is not a number; the launcher reads it as 0\n" +
            where + "[LANG_de-DE] SetupShow='on' is not a number; the launcher reads it as 0\n");
}

TEST_F(SfxbuildChecks, FollowTakesLinksOutOfTheFolderAsWhatTheyPointAt) {
    WriteFile(top_ / "outside.txt", "outside\n");
    fs::create_directories(top_ / "outside-dir");
    WriteFile(top_ / "outside-dir" / "f.txt", "in a folder outside\n");
    fs::create_symlink(top_ / "outside.txt", product_ / "abs");
    fs::create_symlink("../outside-dir", product_ / "dir");
    fs::create_symlink("readme.txt", product_ / "inside");
    fs::create_symlink("/nonexistent/target", product_ / "dangling");
    WriteFile(top_ / "config.txt", kGoodConfig);
    const std::vector<std::string> args = {
        "create", "--follow",     "--config", (top_ / "config.txt").string(),
        "--stub", stub_.string(), "--dir",    product_.string(),
        "-o",     out_.string()};
    ProcessResult r = Sfxbuild(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("link 'dangling' -> '/nonexistent/target' points at nothing"),
              std::string::npos)
        << r.err;
    fs::remove(product_ / "dangling");
    r = Sfxbuild(args);
    ASSERT_EQ(r.status, 0) << r.err;
    r = Sfxbuild({"list", out_.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected : {"-rw-r--r--            8 ", " abs\n", " dir/f.txt\n",
                                 "lrwxrwxrwx           10 ", " inside -> readme.txt\n"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    // The product folder itself is left as it was.
    EXPECT_TRUE(fs::is_symlink(product_ / "abs"));
}

TEST_F(SfxbuildChecks, AVenvShipsWithFollowAndItsSetupRuns) {
    if (!fs::exists("/usr/bin/python3"))
        GTEST_SKIP() << "no /usr/bin/python3 to make a venv with";
    // Its bin/python3 is a link to the system's interpreter, outside the product.
    ProcessResult r = RunProcess(
        {"/usr/bin/python3", "-m", "venv", "--without-pip", (product_ / "venv").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::is_symlink(product_ / "venv" / "bin" / "python3"));
    WriteExecutable(
        product_ / "sub" / "setup.sh",
        "#!/bin/sh\ncd \"$(dirname \"$0\")/..\" && venv/bin/python -c "
        "'import sys; print(sys.prefix == sys.base_prefix, sys.prefix.endswith(\"/venv\"))'"
        " > \"$SETUP_RECORD\"\n");
    WriteFile(top_ / "config.txt", kGoodConfig);
    const std::vector<std::string> args = {
        "create",          "--config",     (top_ / "config.txt").string(),
        "--stub",          stub_.string(), "--dir",
        product_.string(), "-o",           out_.string()};
    r = Sfxbuild(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("link 'venv/bin/python3' -> '/usr/bin/python3' leaves the folder"),
              std::string::npos)
        << r.err;
    std::vector<std::string> follow = args;
    follow.insert(follow.begin() + 1, "--follow");
    r = Sfxbuild(follow);
    ASSERT_EQ(r.status, 0) << r.err;

    fs::create_directories(top_ / "tmp");
    r = RunProcess({out_.string()}, {{"LANG", "en_US.UTF-8"},
                                     {"LC_ALL", ""},
                                     {"DISPLAY", ""},
                                     {"WAYLAND_DISPLAY", ""},
                                     {"TMPDIR", (top_ / "tmp").string()},
                                     {"SETUP_RECORD", (top_ / "record.txt").string()}});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    // The venv's own interpreter ran, in the venv that was extracted.
    EXPECT_EQ(ReadFile(top_ / "record.txt"), "False True\n");
}

TEST_F(SfxbuildChecks, NoChecksMakesABrokenProductOnPurpose) {
    fs::create_symlink("/etc/passwd", product_ / "abs");
    WriteFile(top_ / "config.txt", "[main]\nSetupFileName=missing\n");
    const ProcessResult r =
        Sfxbuild({"create", "--no-checks", "--config", (top_ / "config.txt").string(), "--stub",
                  stub_.string(), "--dir", product_.string(), "-o", out_.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(out_));
}

TEST_F(SfxbuildChecks, VerifyTellsIntactFromDamaged) {
    const fs::path file = Built();
    ProcessResult r = Sfxbuild({"verify", file.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("intact (4 items,"), std::string::npos) << r.out;

    const std::string bytes = ReadFile(file);
    sfx::PayloadLayout layout;
    std::string text;
    ASSERT_EQ(sfx::ReadConfigurationBlock(file, text, &layout), cptlib::kHrOk);
    ASSERT_GE(layout.blockSize, 64u);
    const auto flipped = [&](std::uint64_t at) {
        std::string copy = bytes;
        copy[at] = static_cast<char>(copy[at] ^ 0x20);
        return copy;
    };
    struct Damage {
        const char* what;
        std::string bytes;
        const char* message;
    };
    const Damage damages[] = {
        {"cut by one byte", bytes.substr(0, bytes.size() - 1), "(cut short)"},
        {"one byte more", bytes + "x", "(extended)"},
        // Past the IV, and not in the last cipher block, so that whole plain blocks change.
        {"a byte of the configuration block", flipped(layout.blockOffset + 16 + 3),
         "the configuration block is damaged"},
        // Inside the packed data behind the archive's 32-byte signature header.
        {"a byte of the archive", flipped(layout.archiveOffset + 32 + 200), "is damaged"},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        WriteFile(top_ / "damaged.bin", d.bytes);
        r = Sfxbuild({"verify", (top_ / "damaged.bin").string()});
        EXPECT_EQ(r.status, 2) << r.out << r.err;
        EXPECT_NE(r.err.find(d.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }

    r = Sfxbuild({"verify", (top_ / "missing.bin").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.bin"), std::string::npos) << r.err;
    r = Sfxbuild({"verify"});
    EXPECT_EQ(r.status, 1);
}

TEST_F(SfxbuildChecks, ListShowsTypeModeSizeTimeAndName) {
    fs::permissions(product_ / "readme.txt", fs::perms(0640));
    // 2021-03-04 05:06:07 UTC.
    const auto when = std::chrono::file_clock::from_sys(
        std::chrono::sys_seconds(std::chrono::seconds(1614834367)));
    fs::last_write_time(product_ / "readme.txt", when);
    fs::create_symlink("readme.txt", product_ / "link");
    ASSERT_EQ(Create(kGoodConfig).status, 0);

    const ProcessResult r = Sfxbuild({"list", out_.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* expected :
         {"-rw-r-----            8 2021-03-04 05:06:07 readme.txt\n", "-rwx------           17 ",
          " sub/setup.sh\n", "lrwxrwxrwx           10 ", " link -> readme.txt\n", "drwx"})
        EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4) << r.out;

    const ProcessResult notLauncher = Sfxbuild({"list", (top_ / "config.txt").string()});
    EXPECT_EQ(notLauncher.status, 1);
}

TEST_F(SfxbuildChecks, InfoJsonParsesBackToTheFileFacts) {
    const std::string config = "[main]\nProductName=\"Demo \xC3\x9C \\\\ \t tab\"\n"
                               "SetupFileName=sub/setup.sh\n";
    ASSERT_EQ(Create(config).status, 0);
    ASSERT_EQ(Sfxbuild({"stamp", out_.string(), "VRNID=abc\"q"}).status, 0);
    const ProcessResult r = Sfxbuild({"info", out_.string(), "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    WriteFile(top_ / "info.json", r.out);
    const ProcessResult parsed = RunProcess(
        {"/usr/bin/python3", "-c",
         "import json,sys\n"
         "d=json.load(open(sys.argv[1],encoding='utf-8'))\n"
         "p=d['payload']\n"
         "s={x['name']:x for x in d['slots']}\n"
         "print(d['size'],p['start_marker']['offset'],p['configuration_block']['offset'],"
         "p['configuration_block']['size'],p['archive']['offset'],p['archive']['size'],"
         "d['data_block'],s['_VRN_VERIFY']['value'],s['VRNID']['value'],sep='|')\n"
         "sys.stdout.buffer.write(d['configuration'].encode())\n",
         (top_ / "info.json").string()});
    ASSERT_EQ(parsed.status, 0) << parsed.err << r.out;

    std::string text;
    sfx::PayloadLayout layout;
    ASSERT_EQ(sfx::ReadConfigurationBlock(out_, text, &layout), cptlib::kHrOk);
    const std::uint64_t size = fs::file_size(out_);
    const std::string expected =
        std::to_string(size) + "|" + std::to_string(layout.startMarker) + "|" +
        std::to_string(layout.blockOffset) + "|" + std::to_string(layout.blockSize) + "|" +
        std::to_string(layout.archiveOffset) + "|" + std::to_string(size - layout.archiveOffset) +
        "|None|" + std::to_string(size) + "|abc\"q\n" + config;
    EXPECT_EQ(parsed.out, expected);
}

TEST_F(SfxbuildChecks, StampRefusesMarkersAndLineBreaks) {
    ASSERT_EQ(Create(kGoodConfig).status, 0);
    const std::string before = ReadFile(out_);
    for (const char* value :
         {";!@Install@!UTF-8!", "x;!@InstallEnd@!y", "one\nVRNID3=forged", "carriage\rreturn"}) {
        SCOPED_TRACE(value);
        const ProcessResult r = Sfxbuild({"stamp", out_.string(), std::string("VRNID=") + value});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("the value for 'VRNID' holds"), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(ReadFile(out_) == before);
    }
    const ProcessResult r = Sfxbuild({"stamp", out_.string(), "VRNID=;!@Install@ but no marker"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(ReadFile(out_) == before);
}

} // namespace
