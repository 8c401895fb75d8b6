// The build tool's command line, packing options, reproducible output and interruption, run on
// real folders.

#include "format/ConfigBlock.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <set>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

class SfxbuildOptionsTest : public testing::Test {
protected:
    void SetUp() override {
        // The products here carry no setup program: an extract-only configuration needs none.
        WriteFile(folder_ / "setup.ini", "[main]\r\nExtractOnly=1\r\n");
        stub_ = SmallStub(folder_);
    }

    ProcessResult Sfxbuild(std::vector<std::string> args,
                           const std::map<std::string, std::string>& env = {}) {
        args.insert(args.begin(), BinPath("sfxbuild"));
        return RunProcess(args, env);
    }

    // create with the configuration and the stub, and `args`.
    ProcessResult Create(std::vector<std::string> args,
                         const std::map<std::string, std::string>& env = {}) {
        args.insert(args.begin(), {"create", "--config", (folder_ / "setup.ini").string(), "--stub",
                                   stub_.string()});
        return Sfxbuild(args, env);
    }

    // A product folder whose items are written in the given order, all with time `time`.
    fs::path Product(const std::string& name, const std::vector<std::string>& order,
                     fs::file_time_type time) {
        const fs::path dir = folder_ / name;
        fs::create_directories(dir);
        for (const std::string& item : order) {
            if (item == "link")
                fs::create_symlink("a.txt", dir / "link");
            else
                WriteFile(dir / item, "content of " + item + "\n" + std::string(4000, 'x'));
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir))
            if (!entry.is_symlink())
                fs::last_write_time(entry.path(), time);
        fs::last_write_time(dir, time);
        return dir;
    }

    std::string ArchiveListing(const fs::path& launcher) {
        std::string text;
        sfx::PayloadLayout layout;
        EXPECT_EQ(sfx::ReadConfigurationBlock(launcher, text, &layout), cptlib::kHrOk);
        const fs::path archive = folder_ / (launcher.filename().string() + ".7z");
        WriteFile(archive, ReadFile(launcher).substr(layout.archiveOffset));
        const ProcessResult listed =
            RunShell("7zz l -slt " + ShellQuote(archive.string()), {{"TZ", "UTC"}});
        EXPECT_EQ(listed.status, 0) << listed.err;
        return listed.out;
    }

    TempDir scratch_;
    const fs::path folder_ = scratch_.path();
    fs::path stub_;
};

fs::file_time_type FromEpoch(std::int64_t seconds) {
    return fs::file_time_type::clock::from_sys(
        std::chrono::sys_seconds(std::chrono::seconds(seconds)));
}

TEST_F(SfxbuildOptionsTest, SameInputsGiveTheSameBytes) {
    constexpr std::int64_t kEpoch = 1700000000;
    // The same items, written in another order and at other times, all after the epoch.
    const std::vector<std::string> order = {"b.txt", "a.txt", "sub/z.txt", "sub/c.txt", "link"};
    const fs::path one = Product("one", order, FromEpoch(kEpoch + 1000));
    const fs::path two = Product("two", {order.rbegin(), order.rend()}, FromEpoch(kEpoch + 99999));
    const std::map<std::string, std::string> epoch = {
        {"SOURCE_DATE_EPOCH", std::to_string(kEpoch)}};

    ASSERT_EQ(Create({"--dir", one.string(), "-o", (folder_ / "r1").string()}, epoch).status, 0);
    ASSERT_EQ(Create({"--dir", two.string(), "-o", (folder_ / "r2").string()}, epoch).status, 0);
    EXPECT_EQ(RunShell("cmp " + ShellQuote((folder_ / "r1").string()) + " " +
                       ShellQuote((folder_ / "r2").string()))
                  .status,
              0);
    // The item times are the epoch; the product folder keeps its own.
    const std::string listing = ArchiveListing(folder_ / "r1");
    EXPECT_NE(listing.find("Modified = 2023-11-14 22:13:20"), std::string::npos) << listing;
    EXPECT_EQ(listing.find("Created = "), std::string::npos) << listing;
    EXPECT_EQ(fs::last_write_time(one / "a.txt"), FromEpoch(kEpoch + 1000));

    // An item older than the epoch keeps its time.
    fs::last_write_time(one / "a.txt", FromEpoch(kEpoch - 86400));
    ASSERT_EQ(Create({"--dir", one.string(), "-o", (folder_ / "r3").string()}, epoch).status, 0);
    EXPECT_NE(ArchiveListing(folder_ / "r3").find("Modified = 2023-11-13 22:13:20"),
              std::string::npos);

    // --reproducible alone: the same folder gives the same bytes, in either option form; without
    // it the initialisation vector is drawn at random.
    ASSERT_EQ(
        Create({"--reproducible", "--dir", one.string(), "-o", (folder_ / "p1").string()}).status,
        0);
    ASSERT_EQ(
        Create({"--reproducible", "--dir=" + one.string(), "--output=" + (folder_ / "p2").string()})
            .status,
        0);
    EXPECT_TRUE(ReadFile(folder_ / "p1") == ReadFile(folder_ / "p2"));
    ASSERT_EQ(Create({"--dir", one.string(), "-o", (folder_ / "n1").string()}).status, 0);
    ASSERT_EQ(Create({"--dir", one.string(), "-o", (folder_ / "n2").string()}).status, 0);
    EXPECT_FALSE(ReadFile(folder_ / "n1") == ReadFile(folder_ / "n2"));

    // Nor does the stub carry the folder it was built in.
    EXPECT_EQ(ReadFile(BinPath("sfxstub")).find(SFX_SOURCE_DIR), std::string::npos);

    const ProcessResult bad = Create({"--dir", one.string(), "-o", (folder_ / "x").string()},
                                     {{"SOURCE_DATE_EPOCH", "yesterday"}});
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("SOURCE_DATE_EPOCH"), std::string::npos) << bad.err;
}

TEST_F(SfxbuildOptionsTest, PackingOptionsReachThePacker) {
    const fs::path dir = Product("p", {"a.txt", "b.txt", "c.txt"}, FromEpoch(1700000000));
    // A megabyte of noise twice: only a level whose dictionary holds a megabyte finds the copy.
    std::mt19937 noise(7);
    std::string block(1 << 20, '\0');
    for (char& c : block)
        c = static_cast<char>(noise());
    WriteFile(folder_ / "twice" / "data", block + block);
    const fs::path twice = folder_ / "twice";
    ASSERT_EQ(
        Create({"--dir", twice.string(), "--level=0", "-o", (folder_ / "l0").string()}).status, 0);
    ASSERT_EQ(Create({"--dir", twice.string(), "--level", "9", "--threads", "1", "-o",
                      (folder_ / "l9").string()})
                  .status,
              0);
    EXPECT_GT(fs::file_size(folder_ / "l0"), fs::file_size(folder_ / "l9") + (1 << 19));

    ASSERT_EQ(Create({"--dir", dir.string(), "--solid-block-size=off", "-o",
                      (folder_ / "nonsolid").string()})
                  .status,
              0);
    EXPECT_NE(ArchiveListing(folder_ / "nonsolid").find("Blocks = 3"), std::string::npos);
    ASSERT_EQ(Create({"--dir", dir.string(), "--solid-block-size", "16M", "-o",
                      (folder_ / "solid").string()})
                  .status,
              0);
    EXPECT_NE(ArchiveListing(folder_ / "solid").find("Blocks = 1"), std::string::npos);

    // Without a size, a large folder goes into blocks of balanced size (zeros pack fast).
    const fs::path large = folder_ / "large";
    fs::create_directories(large);
    for (const char* name : {"1", "2", "3", "4"}) {
        WriteFile(large / name, "");
        fs::resize_file(large / name, std::uintmax_t{20} << 20);
    }
    ASSERT_EQ(Create({"--dir", large.string(), "-o", (folder_ / "blocks").string()}).status, 0);
    EXPECT_NE(ArchiveListing(folder_ / "blocks").find("Blocks = 2"), std::string::npos)
        << ArchiveListing(folder_ / "blocks");

    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--level", "10"}, "--level takes a whole number from 0 to 9, not '10'"},
        {{"--level=-1"}, "not '-1'"},
        {{"--threads", "0"}, "--threads takes a whole number from 1"},
        {{"--threads", "two"}, "not 'two'"},
        {{"--solid-block-size", "12x"}, "--solid-block-size takes a size"},
        {{"--solid-block-size", "m"}, "not 'm'"},
    };
    std::set<fs::path> names;
    for (const auto& entry : fs::directory_iterator(folder_))
        names.insert(entry.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        std::vector<std::string> args = {"--dir", dir.string(), "-o", (folder_ / "bad").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const ProcessResult r = Create(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
    const ProcessResult archive = Create(
        {"--archive", (folder_ / "l0").string(), "--level", "9", "-o", (folder_ / "bad").string()});
    EXPECT_EQ(archive.status, 1);
    EXPECT_NE(archive.err.find("apply to --dir only"), std::string::npos) << archive.err;
    std::set<fs::path> after;
    for (const auto& entry : fs::directory_iterator(folder_))
        after.insert(entry.path());
    EXPECT_EQ(after, names);
}

TEST_F(SfxbuildOptionsTest, ExplainsItself) {
    const ProcessResult version = Sfxbuild({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(std::regex_match(version.out, std::regex("sfxbuild [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << version.out;

    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {{"--help"},
         {"sfxbuild create", "sfxbuild stamp", "sfxbuild info", "VRNID2", "SetupValues.dat"}},
        {{"create", "--help"},
         {"--config FILE", "--dir FOLDER", "--archive FILE.7z", "--stub FILE", "../lib/sfx",
          "--data QUERY", "SetupValues.dat", "-o, --output OUT", "--level 0..9",
          "--solid-block-size SIZE", "--threads N", "--reproducible", "SOURCE_DATE_EPOCH"}},
        // Help wins over what else is wrong.
        {{"create", "--level", "99", "-h"}, {"usage: sfxbuild create"}},
        {{"stamp", "--help"}, {"usage: sfxbuild stamp FILE NAME=VALUE", "ZQ_BRINDLE_PHASH"}},
        {{"help", "info"}, {"usage: sfxbuild info FILE"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult r = Sfxbuild(c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        for (const std::string& expected : c.expected)
            EXPECT_NE(r.out.find(expected), std::string::npos) << expected << "\n" << r.out;
    }

    const Case errors[] = {
        {{}, {"no command given", "create, stamp, info"}},
        {{"make"}, {"unknown command 'make'", "create, stamp, info"}},
        {{"create", "--colour"}, {"unknown option '--colour'", "sfxbuild create --help"}},
        {{"create", "--dir"}, {"--dir needs a value"}},
        {{"create", "--reproducible=yes"}, {"--reproducible takes no value"}},
        {{"create", "--dir", "d", "-o", "x"}, {"--config FILE is required"}},
        {{"info"}, {"usage: sfxbuild info FILE", "sfxbuild info --help"}},
    };
    for (const Case& c : errors) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const ProcessResult r = Sfxbuild(c.args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        for (const std::string& expected : c.expected)
            EXPECT_NE(r.err.find(expected), std::string::npos) << expected << "\n" << r.err;
    }

    // "--" lets a file name start with a dash.
    const fs::path dir = Product("p", {"a.txt"}, FromEpoch(1700000000));
    ASSERT_EQ(Create({"--dir", dir.string(), "-o", (folder_ / "-dash").string()}).status, 0);
    const ProcessResult info =
        RunProcess({BinPath("sfxbuild"), "info", "--", "-dash"}, {}, folder_.string());
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("ExtractOnly=1"), std::string::npos) << info.out;
}

// Whether a running program's command line mentions `text`.
bool SomeProcessMentions(const std::string& text) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (ReadFile(entry.path() / "cmdline").find(text) != std::string::npos)
            return true;
    }
    return false;
}

TEST_F(SfxbuildOptionsTest, AStopSignalEndsThePackerAndLeavesNothing) {
    // Random bytes at the highest level on one thread: packing takes many seconds.
    const fs::path dir = folder_ / "big";
    ASSERT_EQ(RunShell("mkdir -p " + ShellQuote(dir.string()) +
                       " && head -c 40000000 /dev/urandom > " + ShellQuote((dir / "data").string()))
                  .status,
              0);
    std::set<std::string> before;
    for (const auto& entry : fs::directory_iterator(folder_))
        before.insert(entry.path().filename().string());

    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        cptlib::platform::SpawnRequest request;
        request.program = BinPath("sfxbuild");
        request.arguments = {"create",
                             "--config",
                             (folder_ / "setup.ini").string(),
                             "--stub",
                             stub_.string(),
                             "--dir",
                             dir.string(),
                             "--level",
                             "9",
                             "--threads",
                             "1",
                             "-o",
                             (folder_ / "setup.bin").string()};
        request.input = request.output = request.error = cptlib::platform::Stream::Null();
        pid_t pid = -1;
        ASSERT_EQ(cptlib::platform::Spawn(request, pid), 0);
        // The packer runs once a 7zz command line names the output's work folder.
        const std::string marker = (folder_ / ".setup.bin.").string();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!SomeProcessMentions(marker) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(SomeProcessMentions(marker));
        ::kill(pid, signal);
        const cptlib::platform::ProcessEnd end =
            cptlib::platform::DecodeWaitStatus(cptlib::platform::WaitForProcess(pid));
        EXPECT_EQ(end.kind, cptlib::platform::ProcessEnd::Kind::Exited);
        EXPECT_EQ(end.value, 128 + signal);

        EXPECT_FALSE(SomeProcessMentions(marker));
        std::set<std::string> after;
        for (const auto& entry : fs::directory_iterator(folder_))
            after.insert(entry.path().filename().string());
        EXPECT_EQ(after, before);
    }
}

} // namespace
