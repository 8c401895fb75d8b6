// Runs that nobody watches or answers: stderr to a pipe whose reader has gone, extract-only runs
// without a terminal or display, a log file that cannot be written, and a full disk. Each
// checks the exit status, that the temporary folder (TMPDIR points into the test's folder) is
// left empty, and that the user's own files are unchanged.

#include "cptlib/platform/ProgramSearch.h"
#include "support/ClosedPipeRun.h"
#include "support/RunProcess.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// Ends 3; 4 when it inherited an ignored SIGPIPE, 9 when it inherited the launcher's log file.
const char* const kSetup = "#!/bin/sh\n"
                           "m=$(sed -n 's/^SigIgn:[[:space:]]*//p' /proc/$$/status)\n"
                           "[ $(( 0x$m & 0x1000 )) -eq 0 ] || exit 4\n"
                           "if [ -n \"$SFX_LOG\" ]; then\n"
                           "  for f in /proc/$$/fd/*; do\n"
                           "    [ \"$(readlink \"$f\")\" = \"$SFX_LOG\" ] && exit 9\n"
                           "  done\n"
                           "fi\n"
                           "exit 3\n";

class UnattendedRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteFile(product / "setup.exe", kSetup);
        fs::permissions(product / "setup.exe", fs::perms(0755));
        WriteFile(product / "readme.txt", "from the archive\n");
        WriteFile(product / "added.txt", "added\n");
    }

    fs::path Launcher(const std::string& config, const std::string& name = "demo-setup") {
        WriteFile(dir / (name + ".cfg"), config);
        const fs::path out = dir / name;
        auto r = CreateLauncher(dir / (name + ".cfg"), product, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Neither a display nor a terminal: stdin is /dev/null, stderr a pipe.
    std::map<std::string, std::string> Environment() const {
        return {{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""},          {"TMPDIR", tmp.string()},
                {"DISPLAY", ""},         {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""},
                {"SFX_LOG", ""}};
    }

    ProcessResult Run(const fs::path& launcher, std::vector<std::string> args,
                      std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), launcher.string());
        std::map<std::string, std::string> merged = Environment();
        for (auto& [key, value] : env)
            merged[key] = value;
        return RunProcess(args, merged, dir.path().string());
    }

    bool TmpIsEmpty() const { return fs::is_empty(tmp); }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path product = dir / "product";
    fs::path stub;
};

std::size_t Lines(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST_F(UnattendedRun, AClosedStderrReaderKillsNothingAndTheRunEndsAsItWould) {
    const fs::path launcher = Launcher("[main]\nProductName=Demo\n");
    const fs::path missing = Launcher("[main]\nSetupFileName=missing.exe\n", "missing-setup");
    WriteFile(dir / "blocker", "a file where a folder is needed\n");
    struct Case {
        std::string name;
        fs::path launcher;
        std::vector<std::string> args;
        int status;
    };
    // Every case but the first writes a message to stderr on its way.
    const std::vector<Case> cases = {
        {"setup's status", launcher, {}, 3},
        {"extract-only success box", launcher, {"/x", (dir / "out").string()}, 0},
        {"extraction failure at /qm", launcher, {"/qm", "/x", (dir / "blocker/out").string()}, 65},
        {"setup not found at /qm", missing, {"/qm"}, 126},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), c.launcher.string());
        const ClosedPipeResult r = RunWithStderrToClosedPipe(
            argv, Environment(), dir.path().string(), std::chrono::seconds(30));
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(TmpIsEmpty());
    }
    EXPECT_EQ(ReadFile(dir / "out/readme.txt"), "from the archive\n");
}

TEST_F(UnattendedRun, ExtractOnlyWithNobodyToAskKeepsTheUsersFilesInTheProposedFolder) {
    const fs::path docs = dir / "docs";
    const fs::path launcher = Launcher("[main]\nProductName=Demo\nExtractOnly=1\n"
                                       "DefaultExtractDir=" +
                                       docs.string() + "\n");
    const fs::path log = dir / "run.log";
    struct Case {
        std::vector<std::string> args;
        bool userFileThere;
        int status;
        std::string readme; // afterwards
        bool messageOnStderr;
    };
    const std::string mine = "the user's own\n";
    const std::string fresh = "from the archive\n";
    const Case cases[] = {
        {{}, true, 65, mine, true},
        {{"/qm"}, true, 65, mine, true},
        {{"/q"}, true, 65, mine, false},
        {{"/q", "/overwriteanswer", "YesToAll"}, true, 0, fresh, false},
        {{"/overwriteanswer", "No"}, true, 0, mine, false},
        {{}, false, 0, fresh, false},
        {{"/q"}, false, 0, fresh, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.args.size() << (c.args.empty() ? "" : c.args[0])
                                        << " user file " << c.userFileThere);
        fs::remove_all(docs);
        fs::create_directories(docs);
        WriteFile(docs / "notes.txt", "notes\n");
        if (c.userFileThere)
            WriteFile(docs / "readme.txt", mine);
        fs::remove(log);
        auto r = Run(launcher, c.args, {{"SFX_LOG", log.string()}});
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(ReadFile(docs / "readme.txt"), c.readme);
        EXPECT_EQ(ReadFile(docs / "notes.txt"), "notes\n");
        // Extracted straight into the proposed folder, not into a folder below it.
        EXPECT_EQ(ReadFile(docs / "added.txt"), "added\n");
        EXPECT_TRUE(TmpIsEmpty());
        const std::string logText = ReadFile(log);
        const bool kept = c.readme == mine && c.userFileThere;
        EXPECT_EQ(logText.find("Kept the existing file '" + (docs / "readme.txt").string()) !=
                      std::string::npos,
                  kept && c.status != 0)
            << logText;
        if (c.status != 0) {
            // The reason is in the log at every level, and on stderr above /q.
            EXPECT_NE(logText.find("/overwriteanswer"), std::string::npos) << logText;
            EXPECT_EQ(r.err.find("/overwriteanswer") != std::string::npos, c.messageOnStderr)
                << r.err;
        }
    }
}

TEST_F(UnattendedRun, ExtractIntoAnExistingFolderWithoutATerminalFailsNamingTheAnswerSwitch) {
    const fs::path launcher = Launcher("[main]\nProductName=Demo\n");
    const fs::path out = dir / "out";
    const std::string mine = "the user's own\n";
    struct Case {
        std::vector<std::string> args;
        int status;
        bool replaced;
    };
    const Case cases[] = {
        {{}, 65, false},      {{"/qm"}, 65, false},
        {{"/qb"}, 65, false}, {{"/overwriteanswer", "YesToAll"}, 0, true},
        {{"/q"}, 0, true}, // a folder the user named takes the silent default, yes to all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.args.size() << (c.args.empty() ? "" : c.args[0]));
        fs::remove_all(out);
        WriteFile(out / "readme.txt", mine);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"/x", out.string()});
        auto r = Run(launcher, args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(ReadFile(out / "readme.txt"), c.replaced ? "from the archive\n" : mine);
        EXPECT_TRUE(TmpIsEmpty());
        if (c.status != 0) {
            EXPECT_NE(r.err.find("/overwriteanswer"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find(out.string() + "/readme.txt"), std::string::npos) << r.err;
        }
    }
}

TEST_F(UnattendedRun, ALogFileThatCannotBeWrittenWarnsOnceAndTheRunGoesOn) {
    const fs::path launcher = Launcher("[main]\nProductName=Demo\n");
    fs::create_directories(dir / "a-folder");
    // As root every file can be opened; the other user's file is then tried as "nobody".
    const bool root = ::geteuid() == 0 && !cptlib::platform::FindProgram("setpriv").empty();
    const fs::path othersFile = root ? dir / "root-only.log" : fs::path("/etc/passwd");
    if (root) {
        WriteFile(othersFile, "root's\n");
        fs::permissions(othersFile, fs::perms(0644));
        // The scratch folder is private; "nobody" must reach the launcher file in it.
        fs::permissions(dir.path(), fs::perms(0755));
        fs::permissions(tmp, fs::perms::all);
    }
    const std::string before = ReadFile(othersFile);
    struct Case {
        std::string name;
        fs::path log;
        bool asNobody;
    };
    const Case cases[] = {
        {"a folder", dir / "a-folder", false},
        {"a file of the kernel", "/proc/version", false},
        {"a missing parent folder", dir / "no/such/run.log", false},
        {"a file of another user", othersFile, root},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {launcher.string(), "/q"};
        if (c.asNobody)
            argv.insert(argv.begin(), {cptlib::platform::FindProgram("setpriv"), "--reuid=65534",
                                       "--regid=65534", "--clear-groups", "--"});
        std::map<std::string, std::string> env = Environment();
        env["SFX_LOG"] = c.log.string();
        auto r = RunProcess(argv, env, dir.path().string());
        EXPECT_EQ(r.status, 3) << r.err;
        EXPECT_EQ(Lines(r.err), 1u) << r.err;
        EXPECT_NE(r.err.find("SFX_LOG"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.log.string()), std::string::npos) << r.err;
        EXPECT_TRUE(TmpIsEmpty());
    }
    EXPECT_FALSE(fs::exists(dir / "no"));
    EXPECT_TRUE(fs::is_empty(dir / "a-folder"));
    EXPECT_EQ(ReadFile(othersFile), before);
}

TEST_F(UnattendedRun, TheLogFileIsWrittenButNotInheritedByTheSetup) {
    const fs::path launcher = Launcher("[main]\nProductName=Demo\n");
    const fs::path log = dir / "run.log";
    auto r = Run(launcher, {"/q"}, {{"SFX_LOG", log.string()}});
    // 9 would mean the setup found the log among its open files.
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string text = ReadFile(log);
    EXPECT_NE(text.find("Starting the setup"), std::string::npos) << text;
    EXPECT_NE(text.find("Exit code: 3"), std::string::npos) << text;
    EXPECT_TRUE(TmpIsEmpty());
}

// Runs the launcher in a mount namespace of its own whose TMPDIR is a 1 MiB tmpfs; prints
// "LEFT:" and what the run left there. Exit status 200: the file system could not be mounted.
ProcessResult RunOnATinyDisk(const std::vector<std::string>& launcherArgs,
                             const fs::path& mountPoint, std::map<std::string, std::string> env,
                             const fs::path& directory) {
    const std::string unshare = cptlib::platform::FindProgram("unshare");
    if (unshare.empty())
        return {200, "", "no unshare"};
    std::vector<std::string> argv = {
        unshare,
        "-m",
        "sh",
        "-c",
        "m=$1; shift; mount -t tmpfs -o size=1m tmpfs \"$m\" 2>/dev/null || exit 200; "
        "\"$@\"; s=$?; echo \"LEFT:$(ls -A \"$m\")\"; exit $s",
        "sh",
        mountPoint.string()};
    argv.insert(argv.end(), launcherArgs.begin(), launcherArgs.end());
    env["TMPDIR"] = mountPoint.string();
    return RunProcess(argv, env, directory.string());
}

TEST_F(UnattendedRun, DiskFullShowsItsMessageAtTheQuietLevelsAndIsLoggedAtTheSilentOne) {
    // Incompressible, so that the archive needs more room than the tiny disk has.
    WriteFile(product / "big.bin", IncompressibleBytes(2 * 1024 * 1024));
    const fs::path launcher = Launcher("[main]\nProductName=Demo\n");
    const fs::path mountPoint = dir / "tiny";
    fs::create_directories(mountPoint);
    const auto probe = RunOnATinyDisk({"true"}, mountPoint, Environment(), dir.path());
    if (probe.status != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted here (unshare -m, mount): " << probe.err;

    const std::string diskFull = "There is not enough space on the disk.";
    const fs::path log = dir / "run.log";
    for (const std::string level : {"/qm", "/qb", "/qx", "/q"}) {
        SCOPED_TRACE(level);
        std::map<std::string, std::string> env = Environment();
        env["SFX_LOG"] = log.string();
        fs::remove(log);
        auto r = RunOnATinyDisk({launcher.string(), level}, mountPoint, env, dir.path());
        EXPECT_EQ(r.status, 65) << r.err;
        EXPECT_EQ(r.out, "LEFT:\n");
        EXPECT_EQ(r.err.find(diskFull) != std::string::npos, level != "/q") << r.err;
        EXPECT_NE(ReadFile(log).find(diskFull), std::string::npos) << ReadFile(log);
    }
}

} // namespace
