// Whole runs on systems that differ from a plain desktop: a relative or noexec temporary folder,
// a run as root on behalf of another user whose desktop gets the setup file, and setup files
// that cannot be started. Each odd case is paired with its sound neighbour.

#include "cptlib/platform/ProgramSearch.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// Records the folder it runs in.
const char* const kSetup = "#!/bin/sh\npwd > \"$SETUP_RECORD\"\nexit 0\n";

class SystemQuirks : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteExecutable(product / "setup.sh", kSetup);
        WriteFile(product / "readme.txt", "read me\n");
    }

    fs::path Launcher(const std::string& config) {
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo\n" + config);
        const fs::path out = dir / "launcher";
        const ProcessResult r = CreateLauncher(dir / "config.txt", product, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Neither a display nor a terminal; everything the launcher says goes to the log.
    std::map<std::string, std::string> Environment() const {
        return {{"LANG", "en_US.UTF-8"},   {"LC_ALL", ""},
                {"TMPDIR", tmp.string()},  {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},   {"QT_QPA_PLATFORM", ""},
                {"SFX_LOG", log.string()}, {"SETUP_RECORD", record.string()}};
    }

    ProcessResult Run(std::vector<std::string> argv, std::map<std::string, std::string> env = {}) {
        std::map<std::string, std::string> merged = Environment();
        for (auto& [key, value] : env)
            merged[key] = value;
        fs::remove(record);
        fs::remove(log);
        return RunProcess(argv, merged, dir.path().string());
    }

    std::string Recorded() const {
        std::string text = fs::exists(record) ? ReadFile(record) : std::string();
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        return text;
    }
    std::string Log() const { return fs::exists(log) ? ReadFile(log) : std::string(); }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path product = dir / "product";
    fs::path record = dir / "record";
    fs::path log = dir / "run.log";
    fs::path stub;
};

TEST_F(SystemQuirks, ARelativeTmpdirIsIgnoredLikeAMissingOne) {
    const fs::path launcher = Launcher("SetupFileName=setup.sh\n");
    // "tmp" names a folder from the launcher's working folder.
    auto r = Run({launcher.string(), "/q"}, {{"TMPDIR", "tmp"}});
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_TRUE(Recorded().starts_with("/tmp/vrn")) << Recorded();
    EXPECT_FALSE(fs::exists(Recorded()));
    EXPECT_TRUE(fs::is_empty(tmp));

    r = Run({launcher.string(), "/q"});
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_EQ(fs::path(Recorded()).parent_path(), tmp);
    EXPECT_TRUE(fs::is_empty(tmp));
}

// Runs `argv` in a mount namespace of its own where each of `noexec` is a fresh tmpfs mounted
// noexec and each of `exec` one that allows execution. Status 200: nothing could be mounted.
ProcessResult RunWithMounts(const std::vector<fs::path>& noexec, const std::vector<fs::path>& exec,
                            const std::vector<std::string>& argv,
                            const std::map<std::string, std::string>& env, const fs::path& cwd) {
    const std::string unshare = cptlib::platform::FindProgram("unshare");
    if (unshare.empty())
        return {200, "", "no unshare"};
    std::string script;
    for (const auto& point : noexec)
        script += "mount -t tmpfs -o noexec,mode=1777 tmpfs " + ShellQuote(point.string()) +
                  " 2>/dev/null || exit 200; ";
    for (const auto& point : exec)
        script += "mount -t tmpfs -o mode=1777 tmpfs " + ShellQuote(point.string()) +
                  " 2>/dev/null || exit 200; ";
    std::vector<std::string> full = {unshare, "-m", "sh", "-c", script + "exec \"$@\"", "sh"};
    full.insert(full.end(), argv.begin(), argv.end());
    return RunProcess(full, env, cwd.string());
}

TEST_F(SystemQuirks, ANoexecTemporaryFolderGivesWayToTheNextPlaceThatCanRunTheSetup) {
    const fs::path launcher = Launcher("SetupFileName=[ExtractDir]setup.sh\n");
    const fs::path runtime = dir / "runtime";
    const fs::path cache = dir / "cache";
    fs::create_directories(runtime);
    fs::create_directories(cache);
    if (RunWithMounts({tmp}, {}, {"/bin/true"}, {}, dir.path()).status != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted in a mount namespace here (unshare -m)";

    std::map<std::string, std::string> env = Environment();
    env["XDG_RUNTIME_DIR"] = runtime.string();
    env["XDG_CACHE_HOME"] = cache.string();
    fs::remove(record);
    // The sound neighbour: a temporary folder that allows execution is used as it is.
    auto r = RunWithMounts({}, {tmp}, {launcher.string(), "/q"}, env, dir.path());
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_EQ(fs::path(Recorded()).parent_path(), tmp);

    struct Case {
        const char* name;
        std::vector<fs::path> noexec;
        fs::path expected;
    };
    const Case cases[] = {
        {"noexec TMPDIR", {tmp}, runtime},
        {"noexec TMPDIR and runtime folder", {tmp, runtime}, cache},
        {"all but /var/tmp", {tmp, runtime, cache}, "/var/tmp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(record);
        r = RunWithMounts(c.noexec, {}, {launcher.string(), "/q"}, env, dir.path());
        EXPECT_EQ(r.status, 0) << r.err << Log();
        EXPECT_EQ(fs::path(Recorded()).parent_path(), c.expected);
        EXPECT_FALSE(fs::exists(Recorded()));
    }

    // Nowhere to run it: nothing is extracted, and the message says why and what to change.
    fs::remove(record);
    env["SFX_LOG"] = log.string();
    fs::remove(log);
    r = RunWithMounts({tmp, runtime, cache, "/var/tmp"}, {}, {launcher.string(), "/q"}, env,
                      dir.path());
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(fs::exists(record));
    const std::string text = Log();
    EXPECT_NE(text.find("noexec"), std::string::npos) << text;
    EXPECT_NE(text.find("TMPDIR"), std::string::npos) << text;

    // A setup that is not started from the folder never needs one that allows execution.
    const fs::path other =
        Launcher("SetupFileName=/bin/sh\nSetupParams=-c \"pwd > $SETUP_RECORD\"\n");
    fs::remove(record);
    fs::remove(log);
    r = RunWithMounts({tmp}, {}, {other.string(), "/q"}, env, dir.path());
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_FALSE(Recorded().empty());
    EXPECT_EQ(Log().find("noexec"), std::string::npos) << Log();
}

// The launcher run as "nobody" when the test is root: what a user meets without rights.
std::vector<std::string> AsNobody(std::vector<std::string> argv) {
    argv.insert(argv.begin(), {cptlib::platform::FindProgram("setpriv"), "--reuid=65534",
                               "--regid=65534", "--clear-groups", "--"});
    return argv;
}

TEST_F(SystemQuirks, StartFailuresSayWhyInTheSystemsWords) {
    WriteExecutable(product / "plain.bin", "no interpreter line here\n");
    struct Case {
        const char* name;
        std::string config;
        std::string expected;
    };
    const Case cases[] = {
        {"no #! line", "SetupFileName=plain.bin\n", "not a program this system can run"},
        {"the sound neighbour", "SetupFileName=setup.sh\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path launcher = Launcher(c.config);
        auto r = Run({launcher.string(), "/q"});
        const std::string text = Log();
        if (c.expected.empty()) {
            EXPECT_EQ(r.status, 0) << text;
            EXPECT_FALSE(Recorded().empty());
            continue;
        }
        EXPECT_NE(r.status, 0);
        EXPECT_NE(text.find("The file could not be started"), std::string::npos) << text;
        EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        EXPECT_EQ(text.find("%1"), std::string::npos) << text;
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

TEST_F(SystemQuirks, ASetupFileTheUserMayNotReachIsAccessDenied) {
    if (::geteuid() != 0 || cptlib::platform::FindProgram("setpriv").empty())
        GTEST_SKIP() << "needs root and setpriv to run the launcher as another user";
    // Root's own folder, closed to others, holds the configured setup.
    const fs::path closed = dir / "closed";
    WriteExecutable(closed / "x.sh", kSetup);
    fs::permissions(closed, fs::perms(0700));
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(tmp, fs::perms::all);
    const fs::path launcher = Launcher("SetupFileName=" + (closed / "x.sh").string() + "\n");
    for (const bool asNobody : {true, false}) {
        SCOPED_TRACE(asNobody ? "as nobody" : "as root");
        const fs::path userLog = tmp / "user.log";
        std::vector<std::string> argv = {launcher.string(), "/q"};
        auto r = Run(asNobody ? AsNobody(argv) : argv, {{"SFX_LOG", userLog.string()}});
        const std::string text = fs::exists(userLog) ? ReadFile(userLog) : std::string();
        fs::remove(userLog);
        if (!asNobody) {
            EXPECT_EQ(r.status, 0) << text;
            continue;
        }
        EXPECT_NE(r.status, 0);
        EXPECT_NE(text.find("The file could not be started"), std::string::npos) << text;
        EXPECT_NE(text.find("Access is denied"), std::string::npos) << text;
        EXPECT_EQ(text.find("Filesystem error"), std::string::npos) << text;
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

// sudo and pkexec: the launcher is root, the setup file is no program and goes to the desktop of
// the user named by SUDO_UID, whose opener runs as that user and must be able to read it.
TEST_F(SystemQuirks, UnderSudoTheUsersDesktopCanReadTheSetupFile) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run on behalf of another user";
    const fs::path bin = dir / "bin";
    const fs::path out = dir / "out";
    fs::create_directories(out);
    // The fake opener records who it runs as and what it could read.
    WriteExecutable(bin / "xdg-open", "#!/bin/sh\n{ id -u; cat \"$1\" || echo unreadable; } > " +
                                          ShellQuote((out / "opened").string()) + " 2>&1\n");
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(bin, fs::perms(0755));
    fs::permissions(bin / "xdg-open", fs::perms(0755));
    fs::permissions(out, fs::perms::all);
    const fs::path launcher = Launcher("SetupFileName=readme.txt\n");
    std::map<std::string, std::string> env = {
        {"DISPLAY", ":97"}, {"PATH", bin.string() + ":/usr/bin:/bin"}, {"SUDO_UID", "65534"}};

    struct Case {
        const char* name;
        std::string sudoUid;
        fs::perms tmpMode;
        std::string opened; // empty: the opener never ran
    };
    const Case cases[] = {
        {"for the user", "65534", fs::perms(0755), "65534\nread me\n"},
        {"for root itself", "", fs::perms(0755), "0\nread me\n"},
        // A folder above the kept one that the user may not enter is not opened for them.
        {"a closed folder on the way", "65534", fs::perms(0700), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(out / "opened");
        fs::permissions(tmp, c.tmpMode);
        env["SUDO_UID"] = c.sudoUid;
        auto r = Run({launcher.string(), "/q"}, env);
        const std::string text = Log();
        if (c.opened.empty()) {
            EXPECT_NE(r.status, 0) << text;
            EXPECT_FALSE(fs::exists(out / "opened"));
            EXPECT_NE(text.find("Access is denied"), std::string::npos) << text;
            EXPECT_EQ(text.find("cannot find the file"), std::string::npos) << text;
            continue;
        }
        EXPECT_EQ(r.status, 0) << text;
        ASSERT_TRUE(fs::exists(out / "opened")) << text;
        EXPECT_EQ(ReadFile(out / "opened"), c.opened);
        // Kept for the desktop, the folder still closed to everybody else.
        ASSERT_EQ(std::distance(fs::directory_iterator(tmp), fs::directory_iterator()), 1);
        const fs::path kept = fs::directory_iterator(tmp)->path();
        EXPECT_EQ(ModeOf(kept) & 0007u, 0u);
        fs::remove_all(kept);
    }
}

// Disk full in TMPDIR at a terminal: the folder the user picks instead is where the setup runs,
// and [ExtractDir] names it in full whether the answer ends in "/" or not.
TEST_F(SystemQuirks, AfterDiskFullTheChosenFolderIsTheSetupsExtractDir) {
    using namespace std::chrono_literals;
    // Incompressible, so that the archive needs more room than the tiny disk has.
    WriteFile(product / "big.bin", IncompressibleBytes(3 * 1024 * 1024));
    WriteExecutable(product / "setup.sh", "#!/bin/sh\n{ pwd; echo \"$0\"; printf '%s\\n' \"$@\"; } "
                                          "> \"$SETUP_RECORD\"\nexit 7\n");
    const fs::path launcher =
        Launcher("SetupFileName=[ExtractDir]setup.sh\nSetupParams=--src [ExtractDir]data\n");
    const fs::path roomy = dir / "roomy";
    const fs::path left = dir / "left";
    fs::create_directories(roomy);
    const std::string unshare = cptlib::platform::FindProgram("unshare");
    if (unshare.empty() || RunWithMounts({}, {tmp}, {"/bin/true"}, {}, dir.path()).status != 0)
        GTEST_SKIP() << "a tmpfs cannot be mounted in a mount namespace here (unshare -m)";

    std::map<std::string, std::string> env = Environment();
    env["PATH"] = "/usr/bin:/bin";
    env["HOME"] = dir.path().string();
    env["TERM"] = "xterm";
    // What stays in the tiny TMPDIR is listed before the namespace and its tmpfs go.
    const std::vector<std::string> onTinyDisk = {
        unshare,
        "-m",
        "sh",
        "-c",
        "mount -t tmpfs -o size=1m,mode=1777 tmpfs \"$1\" || exit 200; shift; \"$@\"; s=$?; "
        "ls -A \"$0\" > \"$LEFT\"; exit $s",
        tmp.string(),
        tmp.string(),
        launcher.string()};
    env["LEFT"] = left.string();

    // The setup ran in a new folder below `parent`, as [ExtractDir]setup.sh with
    // --src [ExtractDir]data, every name in full; that folder is gone afterwards.
    const auto ExpectSetupRanIn = [&](const fs::path& parent) {
        // pwd, $0, then each argument.
        const std::string recorded = Recorded();
        const fs::path folder = recorded.substr(0, recorded.find('\n'));
        EXPECT_EQ(folder.parent_path(), parent) << recorded << Log();
        EXPECT_TRUE(folder.filename().string().starts_with("vrn")) << recorded;
        EXPECT_EQ(folder.filename().string().size(), 11u) << recorded;
        EXPECT_EQ(recorded, folder.string() + "\n" + (folder / "setup.sh").string() + "\n--src\n" +
                                (folder / "data").string());
        EXPECT_FALSE(fs::exists(folder));
    };

    // The sound neighbour: a roomy TMPDIR asks nothing.
    {
        fs::remove(record);
        PseudoTerminal terminal;
        terminal.Start({launcher.string()}, env, dir.path().string());
        EXPECT_EQ(terminal.WaitForExit(60s), 7) << terminal.Output() << Log();
        EXPECT_EQ(terminal.Output().find("Folder: "), std::string::npos) << terminal.Output();
        ExpectSetupRanIn(tmp);
        EXPECT_TRUE(fs::is_empty(tmp));
    }

    for (const std::string& answer :
         std::vector<std::string>{roomy.string(), roomy.string() + "/"}) {
        SCOPED_TRACE(answer);
        fs::remove(record);
        fs::remove(left);
        fs::remove(log);
        PseudoTerminal terminal;
        terminal.Start(onTinyDisk, env, dir.path().string());
        ASSERT_TRUE(terminal.WaitFor("Folder: ", 60s)) << terminal.Output() << Log();
        std::this_thread::sleep_for(100ms);
        terminal.Type(answer + "\n");
        EXPECT_EQ(terminal.WaitForExit(60s), 7) << terminal.Output() << Log();

        // The folder moved to is the launcher's own, removed like the temporary one.
        ExpectSetupRanIn(roomy);
        EXPECT_TRUE(fs::is_empty(roomy));
        EXPECT_EQ(ReadFile(left), "") << Log();
    }
}

} // namespace
