// Whole runs under the limits and signals that real machines and administrators set: address
// space, descriptors, file size, an inherited "ignore" of hang-up and interrupt, a quit signal,
// a setup that leaves something behind in its folder. Every run ends decided: a status and a
// message that say what happened, and nothing of ours left where it should not be.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr int kFailed = 65;

// Records that it ran, and its own process id in $SETUP_MARK while it waits $SETUP_WAIT
// seconds; ends with $SETUP_STATUS.
const char* const kSetup = "#!/bin/sh\n"
                           "echo $$ > \"$SETUP_MARK\"\n"
                           "sleep \"${SETUP_WAIT:-0}\"\n"
                           "echo ran > \"$SETUP_RECORD\"\n"
                           "exit \"${SETUP_STATUS:-0}\"\n";

class ResourceLimits : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        WriteExecutable(product / "setup.sh", kSetup);
        WriteFile(product / "readme.txt", "read me\n");
    }

    fs::path Launcher(const fs::path& from = {}) {
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
        const fs::path out = dir / "launcher";
        const ProcessResult r =
            from.empty()
                ? CreateLauncher(dir / "config.txt", product, out, SmallStub(dir.path()))
                : CreateLauncherFromArchive(dir / "config.txt", from, out, SmallStub(dir.path()));
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Neither a display nor a terminal: what the launcher says goes to the log.
    std::map<std::string, std::string> Environment() const {
        return {{"LANG", "en_US.UTF-8"},           {"LC_ALL", ""},
                {"TMPDIR", tmp.string()},          {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},           {"SFX_LOG", log.string()},
                {"SETUP_RECORD", record.string()}, {"SETUP_MARK", mark.string()},
                {"L", (dir / "launcher").string()}};
    }

    // `script` runs with /bin/sh; "$L" names the launcher.
    ProcessResult Shell(const std::string& script, std::map<std::string, std::string> env = {}) {
        std::map<std::string, std::string> merged = Environment();
        for (auto& [key, value] : env)
            merged[key] = value;
        fs::remove(record);
        fs::remove(mark);
        fs::remove(log);
        return RunShell(script, merged, dir.path().string());
    }

    std::string Log() const { return fs::exists(log) ? ReadFile(log) : std::string(); }
    bool SetupRan() const { return fs::exists(record); }
    bool NothingLeft() const { return fs::is_empty(tmp); }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path product = dir / "product";
    fs::path record = dir / "record";
    fs::path mark = dir / "mark";
    fs::path log = dir / "run.log";
};

// The own file is larger than the whole address space allowed: reading its head and its
// resources must not need it mapped, and memory that runs out later ends with its reason.
TEST_F(ResourceLimits, AnAddressSpaceLimitBelowTheFileSizeEndsDecided) {
    WriteFile(product / "big.bin", std::string(100 << 20, '\0'));
    // Stored, so that the launcher file is as large as its contents.
    const fs::path archive = Pack7z(product, dir / "big.7z", "-mx0");
    fs::remove(product / "big.bin");
    Launcher(archive);

    const ProcessResult r = Shell("exec prlimit --as=67108864 \"$L\" /q");
    EXPECT_EQ(Log().find("is not found"), std::string::npos) << Log();
    if (r.status == 0) {
        EXPECT_TRUE(SetupRan());
    } else {
        EXPECT_EQ(r.status, kFailed) << r.err << Log();
        EXPECT_TRUE(Log().find("memory") != std::string::npos ||
                    Log().find("system resources") != std::string::npos)
            << Log();
    }
    EXPECT_TRUE(NothingLeft());
}

// Too few descriptors: at start-up (the signal watch's pipe) and during the extraction. The
// message names the reason, and the folder is removed although no descriptor is to spare.
TEST_F(ResourceLimits, ADescriptorLimitEndsWithTheReasonAndNoFolderLeft) {
    WriteFile(product / "data.bin", IncompressibleBytes(1 << 20));
    Launcher();
    for (const int limit : {8, 9, 10, 14}) {
        SCOPED_TRACE("nofile " + std::to_string(limit));
        const ProcessResult r =
            Shell("exec prlimit --nofile=" + std::to_string(limit) + " \"$L\" /q");
        EXPECT_EQ(r.status, kFailed) << r.err << Log();
        EXPECT_NE(Log().find("too many files are open"), std::string::npos) << Log();
        EXPECT_EQ(Log().find("cannot find the file"), std::string::npos) << Log();
        EXPECT_FALSE(SetupRan());
        EXPECT_TRUE(NothingLeft());
    }
}

// A pids cgroup (v1 or v2) that admits `limit` tasks, removed at the end; empty when this
// machine allows none to be made.
class PidsGroup {
public:
    explicit PidsGroup(int limit) {
        const std::string name = "sfx-limits-" + std::to_string(::getpid());
        for (const fs::path& root : {fs::path("/sys/fs/cgroup/pids"), fs::path("/sys/fs/cgroup")}) {
            if (!fs::exists(root / "cgroup.procs"))
                continue;
            if (root == "/sys/fs/cgroup" &&
                ReadFile(root / "cgroup.subtree_control").find("pids") == std::string::npos)
                continue;
            std::error_code ec;
            fs::create_directory(root / name, ec);
            if (ec || !fs::exists(root / name / "pids.max"))
                continue;
            path_ = root / name;
            WriteFile(path_ / "pids.max", std::to_string(limit));
            return;
        }
    }
    ~PidsGroup() {
        if (!path_.empty())
            ::rmdir(path_.c_str());
    }
    PidsGroup(const PidsGroup&) = delete;
    PidsGroup& operator=(const PidsGroup&) = delete;
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

// Few tasks allowed. At 4 the launcher's threads and decoders take them all, so the files are
// written without a writer thread and the run succeeds; the setup checks its files without starting
// a process. At 1 nothing can start beside the launcher: the run ends with the reason, not killed.
TEST_F(ResourceLimits, APidsLimitEndsDecided) {
    WriteExecutable(product / "setup.sh", "#!/bin/sh\n"
                                          "[ -s readme.txt ] && [ -s data3.bin ] || exit 9\n"
                                          "echo ran > \"$SETUP_RECORD\"\n");
    // Blocks of their own, so that several decoders start and take the tasks first.
    for (int i = 0; i < 4; ++i)
        WriteFile(product / ("data" + std::to_string(i) + ".bin"), IncompressibleBytes(3 << 20));
    Launcher(Pack7z(product, dir / "blocks.7z", "-m0=lzma2 -mx1 -ms=off -mmt=2"));
    struct Case {
        int limit;
        int status;
        const char* message; // in the log; none expected when empty
    };
    for (const Case c : {Case{4, 0, ""}, Case{1, kFailed, "Insufficient system resources"}}) {
        SCOPED_TRACE("pids " + std::to_string(c.limit));
        const PidsGroup group(c.limit);
        if (group.Path().empty())
            GTEST_SKIP() << "no pids cgroup can be made here";
        const ProcessResult r =
            Shell("echo $$ > " + ShellQuote((group.Path() / "cgroup.procs").string()) +
                      " && exec \"$L\" /q",
                  {{"SFX_DECODERS", "4"}});
        EXPECT_EQ(r.status, c.status) << r.err << Log();
        EXPECT_EQ(SetupRan(), c.status == 0) << Log();
        if (*c.message != '\0') {
            EXPECT_NE(Log().find(c.message), std::string::npos) << Log();
        }
        EXPECT_TRUE(NothingLeft());
    }
}

// `nohup` and a script's background job start the launcher with hang-up or interrupt ignored:
// neither the launcher nor the setup may be ended by it, before or during the setup.
TEST_F(ResourceLimits, AnInheritedIgnoreOfHangUpOrInterruptIsKept) {
    Launcher();
    struct Case {
        const char* signal;
        bool duringSetup;
    };
    for (const Case c :
         {Case{"HUP", false}, Case{"HUP", true}, Case{"INT", false}, Case{"INT", true}}) {
        const std::string what = std::string(c.signal) + (c.duringSetup ? " during" : " before");
        SCOPED_TRACE(what);
        // Before: once the run watches for stop signals. During: to the launcher and to the
        // setup, as a terminal's hang-up reaches the whole group.
        const std::string wait =
            c.duringSetup ? "while [ ! -s \"$SETUP_MARK\" ]; do sleep 0.01; done; "
                            "kill -" +
                                std::string(c.signal) + " $(cat \"$SETUP_MARK\"); "
                          : "while ! grep -q 'Start-up:' \"$SFX_LOG\" 2>/dev/null; do sleep 0.001; "
                            "done; ";
        const ProcessResult r =
            Shell("trap '' " + std::string(c.signal) + "; \"$L\" /q & pid=$!; " + wait + "kill -" +
                      c.signal + " $pid; wait $pid",
                  {{"SETUP_WAIT", "1"}, {"SETUP_STATUS", "3"}});
        EXPECT_EQ(r.status, 3) << r.err << Log();
        EXPECT_TRUE(SetupRan());
        EXPECT_TRUE(NothingLeft());
    }
}

// A write beyond the file size limit fails like a full disk instead of killing the run.
TEST_F(ResourceLimits, AFileSizeLimitEndsWithTheReason) {
    WriteFile(product / "data.bin", IncompressibleBytes(1 << 20));
    Launcher();
    const ProcessResult r = Shell("exec prlimit --fsize=524288 \"$L\" /q");
    EXPECT_EQ(r.status, kFailed) << r.err << Log();
    EXPECT_NE(Log().find("exceeds the limit"), std::string::npos) << Log();
    EXPECT_FALSE(SetupRan());
    EXPECT_TRUE(NothingLeft());
}

// SIGQUIT is a stop signal like SIGTERM during the setup too: passed on to the setup, whose
// status the run returns, and the folder removed (the launcher is not killed by it).
TEST_F(ResourceLimits, SigquitEndsTheRunLikeSigterm) {
    WriteExecutable(product / "setup.sh", "#!/bin/sh\ntrap 'exit 7' TERM QUIT\n"
                                          "echo $$ > \"$SETUP_MARK\"\n"
                                          "sleep 1\nexit 0\n");
    Launcher();
    for (const std::string signal : {"TERM", "QUIT"}) {
        SCOPED_TRACE(signal);
        // In the foreground (exec keeps the shell's process id): a background job of a script
        // starts with SIGQUIT ignored, which the launcher would keep.
        const ProcessResult r =
            Shell("(while [ ! -s \"$SETUP_MARK\" ]; do sleep 0.01; done; kill -" + signal +
                  " $$) & exec \"$L\" /q");
        EXPECT_EQ(r.status, 7) << r.err << Log();
        EXPECT_TRUE(NothingLeft());
    }
}

// The own file cannot be read where its payload begins (a bad spot on a disk, a network file
// system that fails): the run ends with the reason, not killed by SIGBUS.
TEST_F(ResourceLimits, AReadErrorInTheOwnFilesHeadEndsWithTheReason) {
#ifndef SFX_FAILING_READ_FS
    GTEST_SKIP() << "built without fuse3: no file system with a bad spot";
#else
    // Enough payload that the bad spot below lies inside the file.
    WriteFile(product / "data.bin", IncompressibleBytes(64 << 10));
    const fs::path launcher = Launcher();
    // The payload follows the stub's image. The system loads the image by whole pages, so a bad
    // spot in the image's last page would stop the program from starting at all: the spot
    // starts at the first page of the payload that the image does not share.
    const auto image = (fs::file_size(SmallStub(dir.path())) + 4095) / 4096 * 4096;
    ASSERT_GT(fs::file_size(launcher), image + 64);
    const fs::path mount = dir / "mnt";
    fs::create_directories(mount);
    const std::string script =
        "unshare -m sh -c '\"$0\" \"$L\" " + std::to_string(image) + " " +
        std::to_string(image + 64) +
        " \"$1\" & fs=$!; "
        "for i in $(seq 200); do [ -e \"$1/file\" ] && break; sleep 0.02; done; "
        "[ -e \"$1/file\" ] || exit 200; "
        "\"$1/file\" /q; status=$?; kill $fs; wait $fs; exit $status' " +
        ShellQuote(SFX_FAILING_READ_FS) + " " + ShellQuote(mount.string());
    const ProcessResult r = Shell(script);
    if (r.status == 200)
        GTEST_SKIP() << "no FUSE mount here: " << r.err;
    EXPECT_EQ(r.status, kFailed) << r.err << Log();
    EXPECT_NE(Log().find("I/O device error"), std::string::npos) << Log();
    EXPECT_FALSE(SetupRan());
    EXPECT_TRUE(NothingLeft());
#endif
}

// Runs `script` in a mount namespace of its own; status 200 when nothing can be mounted there.
std::string InPrivateMounts(const std::string& script) {
    return "unshare -m sh -c 'mount -t tmpfs tmpfs /mnt 2>/dev/null || exit 200; umount /mnt; " +
           script + "'";
}

// A setup that leaves something in its folder that cannot be removed (here a mount its helper
// keeps using): the install's own status is what the run returns, with a warning.
TEST_F(ResourceLimits, TheSetupsStatusStandsWhenOnlyTheCleanUpFails) {
    WriteExecutable(product / "setup.sh",
                    "#!/bin/sh\nmkdir busy && mount -t tmpfs tmpfs busy || exit 99\n"
                    "(cd busy && exec sleep 3) &\necho ran > \"$SETUP_RECORD\"\n"
                    "exit \"${SETUP_STATUS:-0}\"\n");
    Launcher();
    for (const int status : {0, 3}) {
        SCOPED_TRACE(status);
        const ProcessResult r =
            Shell(InPrivateMounts("\"$L\" /q"), {{"SETUP_STATUS", std::to_string(status)}});
        if (r.status == 200)
            GTEST_SKIP() << "no private mount namespace here";
        EXPECT_EQ(r.status, status) << r.err << Log();
        EXPECT_TRUE(SetupRan());
        EXPECT_NE(r.err.find("could not be removed"), std::string::npos) << r.err;
        EXPECT_NE(Log().find("could not be removed"), std::string::npos) << Log();
        fs::remove_all(tmp);
        fs::create_directories(tmp);
    }
}

// A setup that makes its folder read-only: the folder is still removed. Run as an ordinary
// user, since root may change a read-only folder anyway.
TEST_F(ResourceLimits, AFolderMadeReadOnlyUnderTheRunIsRemoved) {
    WriteExecutable(product / "setup.sh",
                    "#!/bin/sh\nchmod 555 .\necho ran > \"$SETUP_RECORD\"\nexit 0\n");
    Launcher();
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the launcher as another user";
    // The other user reaches the launcher, the temporary folder and the record.
    fs::permissions(dir.path(), fs::perms(0755));
    fs::permissions(tmp, fs::perms(01777));
    fs::create_directories(dir / "out");
    fs::permissions(dir / "out", fs::perms(01777));
    const ProcessResult r =
        Shell("exec setpriv --reuid=65534 --regid=65534 --clear-groups \"$L\" /q",
              {{"SETUP_RECORD", (dir / "out/record").string()},
               {"SFX_LOG", (dir / "out/run.log").string()},
               {"SETUP_MARK", (dir / "out/mark").string()}});
    EXPECT_EQ(r.status, 0) << r.err << ReadFile(dir / "out/run.log");
    EXPECT_TRUE(fs::exists(dir / "out/record"));
    EXPECT_TRUE(NothingLeft());
}

} // namespace
