// Runs that meet each other or the machine's limits in the folders they write: a launcher killed
// while its setup runs, launchers started together, an overwrite that does not end, a disk that
// fills up, and another user swapping folders under a run as root.

#include "cptlib/platform/FolderLock.h"
#include "cptlib/platform/Spawn.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

const std::string kPlain = "[main]\nProductName=Demo\nSetupFileName=setup.sh\n";

// A launcher started without waiting for it; its output goes to a file.
class Started {
public:
    Started(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
            const fs::path& errFile) {
        fd_ = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        cptlib::platform::SpawnRequest request = RequestFor(argv, env, "/");
        request.output = cptlib::platform::Stream::From(fd_);
        request.error = cptlib::platform::Stream::From(fd_);
        EXPECT_EQ(cptlib::platform::Spawn(request, pid_), 0);
    }
    ~Started() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            Wait();
        }
        ::close(fd_);
    }
    void Signal(int number) const { ::kill(pid_, number); }
    // The exit status, or 128 and the signal.
    int Wait() {
        const int status = cptlib::platform::WaitForProcess(pid_);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        found.push_back(entry.path());
    return found;
}

template <class Condition> bool WaitFor(Condition condition, std::chrono::seconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

class FolderRaces : public ::testing::Test {
protected:
    void SetUp() override {
        stub = SmallStub(dir.path());
        fs::create_directories(tmp);
    }

    // A launcher whose setup.sh runs `script`.
    fs::path Make(const std::string& name, const std::string& script) {
        const fs::path product = dir / (name + "-product");
        WriteExecutable(product / "setup.sh", "#!/bin/sh\n" + script);
        WriteFile(dir / (name + ".cfg"), kPlain);
        const fs::path out = dir / name;
        const auto r = CreateLauncher(dir / (name + ".cfg"), product, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    fs::path FromArchive(const fs::path& archive, const std::string& name) {
        WriteFile(dir / (name + ".cfg"), kPlain);
        const fs::path out = dir / name;
        const auto r = CreateLauncherFromArchive(dir / (name + ".cfg"), archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    std::map<std::string, std::string> Environment() const {
        return {{"PATH", "/usr/bin:/bin"},
                {"HOME", dir.path().string()},
                {"LANG", "en_US.UTF-8"},
                {"LC_ALL", ""},
                {"TMPDIR", tmp.string()},
                {"SFX_LOG", (dir / "log").string()},
                {"XDG_CACHE_HOME", (dir / "cache").string()}};
    }

    ProcessResult Run(const fs::path& launcher, std::vector<std::string> args = {}) {
        args.insert(args.begin(), launcher.string());
        return RunProcess(args, Environment(), dir.path().string());
    }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

// The setup holds the folder's lock: the launcher killed under it does not hand its folder to
// the next run's sweep, and the folder goes only once the setup has ended.
TEST_F(FolderRaces, AKilledLauncherLeavesItsSetupsFolderToTheSetup) {
    const fs::path started = dir / "started";
    const fs::path go = dir / "go";
    const fs::path finished = dir / "finished";
    const fs::path slow =
        Make("slow", "echo $$ > " + started.string() + "\nwhile [ ! -e " + go.string() +
                         " ]; do sleep 0.05; done\nls > " + finished.string() + "\n");
    const fs::path quick = Make("quick", "exit 0\n");

    Started first({slow.string(), "/q"}, Environment(), dir / "first.err");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(started) && ReadFile(started).ends_with('\n'); }))
        << ReadFile(dir / "first.err");
    const auto folders = Entries(tmp);
    ASSERT_EQ(folders.size(), 1u);
    first.Signal(SIGKILL);
    EXPECT_EQ(first.Wait(), 128 + SIGKILL);

    // The setup still runs in its folder.
    const auto second = Run(quick, {"/q"});
    EXPECT_EQ(second.status, 0) << second.err;
    EXPECT_TRUE(fs::exists(folders[0] / "setup.sh"));

    WriteFile(go, "");
    ASSERT_TRUE(WaitFor([&] { return fs::exists(finished) && !ReadFile(finished).empty(); }));
    EXPECT_NE(ReadFile(finished).find("setup.sh"), std::string::npos) << ReadFile(finished);
    // Once the setup has ended the folder is left over, and the next run takes it.
    ASSERT_TRUE(WaitFor(
        [&] {
            cptlib::platform::FolderLock probe;
            return cptlib::platform::LockStaleFolder(folders[0].string(), probe);
        },
        10s));
    const auto third = Run(quick, {"/q"});
    EXPECT_EQ(third.status, 0) << third.err;
    EXPECT_TRUE(fs::is_empty(tmp));
}

// A run's sweep never takes the folder another run is still opening: launchers started together
// all succeed and leave nothing.
TEST_F(FolderRaces, LaunchersStartedTogetherAllSucceed) {
    const fs::path launcher = Make("plain", "exit 0\n");
    // A folder being made, not yet renamed by its run, is not taken however it looks.
    fs::create_directory(tmp / "vrnpending1.new");
    for (const int together : {2, 3}) {
        for (int round = 0; round < 100; ++round) {
            std::vector<std::unique_ptr<Started>> runs;
            for (int i = 0; i < together; ++i)
                runs.push_back(std::make_unique<Started>(
                    std::vector<std::string>{launcher.string(), "/q"}, Environment(),
                    dir / ("run" + std::to_string(i) + ".err")));
            for (int i = 0; i < together; ++i)
                ASSERT_EQ(runs[static_cast<std::size_t>(i)]->Wait(), 0)
                    << together << " together, round " << round << ": "
                    << ReadFile(dir / ("run" + std::to_string(i) + ".err"));
        }
        EXPECT_EQ(Entries(tmp), std::vector<fs::path>{tmp / "vrnpending1.new"});
    }
}

// An existing file is replaced only by a complete, checked one: a damaged item, a cancel or
// SIGTERM during the overwrite leave the user's file as it was, and nothing of the run's.
TEST_F(FolderRaces, AnOverwriteThatDoesNotEndKeepsTheOldFile) {
    const fs::path product = dir / "product";
    fs::create_directories(product);
    WriteFile(product / "big.bin", IncompressibleBytes(64 * 1024 * 1024));
    const fs::path sound = FromArchive(Pack7z(product, dir / "sound.7z", "-mx=0"), "sound");
    std::string bytes = ReadFile(dir / "sound.7z");
    bytes[bytes.size() / 2] = static_cast<char>(bytes[bytes.size() / 2] ^ 0x55);
    WriteFile(dir / "damaged.7z", bytes);
    const fs::path damaged = FromArchive(dir / "damaged.7z", "damaged");
    fs::remove_all(product);

    const fs::path out = dir / "out";
    const std::string mine = "the user's own file\n";
    struct Case {
        const char* name;
        fs::path launcher;
        int signal; // 0: none
        int status;
    };
    for (const Case& c : {Case{"damaged", damaged, 0, 65}, Case{"SIGTERM", sound, SIGTERM, 130},
                          Case{"SIGINT", sound, SIGINT, 130}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        WriteFile(out / "big.bin", mine);
        struct stat before {};
        ASSERT_EQ(::stat((out / "big.bin").c_str(), &before), 0);
        Started run({c.launcher.string(), "/q", "/overwriteanswer", "YesToAll", "/x", out.string()},
                    Environment(), dir / "run.err");
        if (c.signal != 0) {
            // Signalled once the replacement is under way: the folder changed.
            const auto changed = [&] {
                struct stat now {};
                return Entries(out).size() != 1 || ::stat((out / "big.bin").c_str(), &now) != 0 ||
                       now.st_ino != before.st_ino || now.st_size != before.st_size;
            };
            ASSERT_TRUE(WaitFor(changed)) << ReadFile(dir / "run.err");
            run.Signal(c.signal);
        }
        EXPECT_EQ(run.Wait(), c.status) << ReadFile(dir / "run.err");
        EXPECT_EQ(Entries(out), std::vector<fs::path>{out / "big.bin"});
        EXPECT_EQ(ReadFile(out / "big.bin"), mine);
        EXPECT_TRUE(fs::is_empty(tmp));
    }
    // The overwrite itself still happens.
    const auto r = Run(sound, {"/q", "/overwriteanswer", "YesToAll", "/x", out.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(out / "big.bin"), 64u * 1024 * 1024);
    EXPECT_EQ(Entries(out).size(), 1u);
}

// A run killed outright while it replaced a file leaves its temporary file; the next run into
// that folder removes it, and only such files of this user's runs that no live run writes.
TEST_F(FolderRaces, TheNextRunRemovesWhatAKilledOverwriteLeft) {
    const fs::path product = dir / "product";
    WriteFile(product / "big.bin", IncompressibleBytes(64 * 1024 * 1024));
    const fs::path sound = FromArchive(Pack7z(product, dir / "sound.7z", "-mx=0"), "sound");
    fs::remove_all(product);
    const fs::path out = dir / "out";
    const std::string mine = "the user's own file\n";
    WriteFile(out / "big.bin", mine);
    {
        Started run({sound.string(), "/q", "/overwriteanswer", "YesToAll", "/x", out.string()},
                    Environment(), dir / "run.err");
        ASSERT_TRUE(WaitFor([&] { return Entries(out).size() == 2; })) << ReadFile(dir / "run.err");
        run.Signal(SIGKILL);
        EXPECT_EQ(run.Wait(), 128 + SIGKILL);
    }
    EXPECT_EQ(ReadFile(out / "big.bin"), mine);
    std::vector<fs::path> left = Entries(out);
    ASSERT_EQ(left.size(), 2u);
    const fs::path part = left[0] == out / "big.bin" ? left[1] : left[0];

    // What looks alike but is not to be taken.
    WriteFile(dir / "victim", "elsewhere\n");
    fs::create_symlink(dir / "victim", out / ".vrnlinklink.part");
    WriteFile(out / ".vrnnobody00.part", "another user's\n");
    ASSERT_EQ(::chown((out / ".vrnnobody00.part").c_str(), kNobody, kNobody), 0);
    WriteFile(out / "mine.part", "not a run's name\n");
    WriteFile(out / ".vrnheldheld.part", "a live run's\n");
    const int held = ::open((out / ".vrnheldheld.part").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    // Older than a fresh file a live run may not have marked yet.
    std::this_thread::sleep_for(3s);

    const auto r = Run(sound, {"/q", "/overwriteanswer", "YesToAll", "/x", out.string()});
    ::close(held);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fs::file_size(out / "big.bin"), 64u * 1024 * 1024);
    EXPECT_FALSE(fs::exists(fs::symlink_status(part))) << part;
    for (const char* kept :
         {".vrnlinklink.part", ".vrnnobody00.part", "mine.part", ".vrnheldheld.part"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(out / kept))) << kept;
    EXPECT_EQ(ReadFile(dir / "victim"), "elsewhere\n");
    EXPECT_EQ(Entries(out).size(), 5u);
}

// Links and files that replace existing entries are renamed over them: the name never goes
// missing, so that a failure or a stop at any point leaves the old entry.
TEST_F(FolderRaces, AnOverwrittenLinkIsReplacedNotRemoved) {
    const fs::path product = dir / "product";
    WriteFile(product / "a.txt", "new\n");
    fs::create_symlink("a.txt", product / "link");
    fs::create_symlink("a.txt", product / "was-file");
    const fs::path launcher = FromArchive(Pack7z(product, dir / "links.7z"), "links");
    const fs::path out = dir / "out";
    WriteFile(out / "a.txt", "old\n");
    fs::create_symlink("a.txt", out / "link");
    WriteFile(out / "was-file", "the user's\n");

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, out.c_str(), IN_DELETE), 0);
    const auto r = Run(launcher, {"/q", "/overwriteanswer", "YesToAll", "/x", out.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> removed;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            removed.emplace_back(event->len != 0 ? event->name : "");
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(removed, std::vector<std::string>{});
    EXPECT_EQ(fs::read_symlink(out / "link"), "a.txt");
    EXPECT_EQ(fs::read_symlink(out / "was-file"), "a.txt");
    EXPECT_EQ(ReadFile(out / "a.txt"), "new\n");
    EXPECT_EQ(Entries(out).size(), 3u);
}

// A disk that fills up part-way leaves complete files and no others: none at 0 bytes with the
// permissions of a finished one.
TEST_F(FolderRaces, ADiskFilledMidExtractionLeavesOnlyCompleteFiles) {
    const fs::path product = dir / "product";
    // Each file takes a page of the small disk, whose free space the sizes alone do not
    // exhaust, so the check before the extraction passes and a write fails part-way.
    constexpr int kFiles = 800;
    for (int i = 0; i < kFiles; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%04d", i);
        WriteFile(product / name, std::string(name) + "\n");
        fs::permissions(product / name, fs::perms(0755));
    }
    const fs::path launcher = FromArchive(Pack7z(product, dir / "many.7z"), "many");
    const fs::path mount = dir / "disk";
    fs::create_directories(mount);
    const auto r = RunShell(
        "unshare --mount --propagation private sh -c 'mount -t tmpfs -o size=2m tmpfs \"$1\" || "
        "exit 99; \"$2\" /qm /x \"$1/out\" 2>\"$3\"; echo \"status $?\"; cd \"$1/out\" && find . "
        "-type f -printf \"%s %m %f\\n\"' sh " +
            ShellQuote(mount.string()) + " " + ShellQuote(launcher.string()) + " " +
            ShellQuote((dir / "run.err").string()),
        Environment(), dir.path().string());
    if (r.status == 99 || r.out.empty())
        GTEST_SKIP() << "no private mount namespace with a tmpfs: " << r.err;
    std::istringstream lines(r.out);
    std::string line;
    std::getline(lines, line);
    EXPECT_NE(line, "status 0") << "the disk did not fill up";
    EXPECT_NE(ReadFile(dir / "run.err").find("not enough space"), std::string::npos)
        << ReadFile(dir / "run.err");
    int complete = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::uint64_t size = 0;
        std::string mode, name;
        fields >> size >> mode >> name;
        EXPECT_EQ(size, name.size() + 1) << line;
        EXPECT_EQ(mode, "755") << line;
        ++complete;
    }
    EXPECT_GT(complete, 0);
    EXPECT_LT(complete, kFiles);
}

// As root, another user who owns a folder on the way swaps the target for a link to a folder of
// their choosing as fast as they can: the run refuses every time and writes nothing there.
TEST_F(FolderRaces, RootExtractOnlyIsNeverRedirectedBySwaps) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as a second user";
    const fs::path launcher = Make("plain", "exit 0\n");
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    const fs::path theirs = dir / "theirs";
    const fs::path chosen = dir / "chosen"; // where the other user wants root's files
    fs::create_directories(theirs / "target");
    fs::create_directories(chosen);
    fs::create_directory_symlink(chosen, theirs / "decoy");
    ASSERT_EQ(::chown(theirs.c_str(), kNobody, kNobody), 0);

    const pid_t swapper = ::fork();
    ASSERT_GE(swapper, 0);
    if (swapper == 0) {
        if (::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0)
            ::_exit(1);
        // A failed assertion returns from the test without the kill below: the swapper must
        // not outlive it (the setting is cleared by the change of user, so it comes after).
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() == 1)
            ::_exit(1);
        const std::string a = (theirs / "target").string();
        const std::string b = (theirs / "decoy").string();
        for (;;)
            ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
    }
    int refused = 0;
    for (int i = 0; i < 200; ++i) {
        const auto r = Run(launcher, {"/x", (theirs / "target").string()});
        if (r.status == 65 &&
            r.err.find("The folder '" + theirs.string() +
                       "' belongs to another user (nobody); a run as root does not extract") !=
                std::string::npos)
            ++refused;
        else
            ADD_FAILURE() << "run " << i << ": " << r.status << " " << r.err;
        ASSERT_TRUE(fs::is_empty(chosen)) << "run " << i << " wrote where the other user chose";
    }
    ::kill(swapper, SIGKILL);
    int status = 0;
    ::waitpid(swapper, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status)) << "the swapper did not run as the other user";
    EXPECT_EQ(refused, 200);
    EXPECT_TRUE(fs::is_empty(tmp));
}

} // namespace
