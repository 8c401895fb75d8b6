// Hostile archives made byte by byte: each run ends quickly with the damaged-file status, its
// peak memory stays far below what the archive claims, and no temporary folder is left. The
// build tool refuses the same archives.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/HostileArchive.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr auto kTimeBound = std::chrono::seconds(10);
constexpr long kMemoryBoundKiB = 64 * 1024;

struct MeasuredRun {
    int status = -1; // exit status, 128 + signal, or -1 when it had to be killed
    std::chrono::milliseconds elapsed{};
    long maxRssKiB = 0; // of the launcher process alone
    std::string err;
};

// Runs `argv` with stderr in a file; killed when it outlives the time bound.
MeasuredRun RunMeasured(const std::vector<std::string>& argv,
                        const std::map<std::string, std::string>& env, const fs::path& folder) {
    const std::string errPath = (folder / "stderr.txt").string();
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (errFd < 0)
        throw std::runtime_error("cannot create " + errPath);
    cptlib::platform::SpawnRequest request = RequestFor(argv, env, folder.string());
    request.output = cptlib::platform::Stream::Null();
    request.error = cptlib::platform::Stream::From(errFd);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = cptlib::platform::Spawn(request, pid);
    ::close(errFd);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    MeasuredRun run;
    int status = 0;
    struct rusage usage {};
    for (;;) {
        const pid_t ended = ::wait4(pid, &status, WNOHANG, &usage);
        if (ended == pid)
            break;
        if (std::chrono::steady_clock::now() - start > kTimeBound) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now() - start);
            run.err = ReadFile(errPath);
            return run;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.maxRssKiB = usage.ru_maxrss;
    run.err = ReadFile(errPath);
    return run;
}

void WriteBytes(const fs::path& path, const hostile::Bytes& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

class HostileArchive : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\n");
    }

    fs::path Launcher(const fs::path& archive, const std::string& name) {
        const fs::path out = dir / name;
        const auto r = CreateLauncherFromArchive(dir / "config.txt", archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    MeasuredRun Run(const fs::path& launcher, std::vector<std::string> args) {
        args.insert(args.begin(), launcher.string());
        return RunMeasured(
            args, {{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""}, {"TMPDIR", tmp.string()}}, dir.path());
    }

    void ExpectRefusedQuickly(const MeasuredRun& run) {
        EXPECT_EQ(run.status, 65) << run.err;
        EXPECT_LT(run.elapsed, kTimeBound);
        EXPECT_LT(run.maxRssKiB, kMemoryBoundKiB);
        EXPECT_TRUE(fs::is_empty(tmp));
    }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

struct HostileCase {
    const char* name;
    std::function<hostile::Bytes()> make;
};

const HostileCase kHostileCases[] = {
    {"looping header", [] { return hostile::LoopingHeader(); }},
    // Another reader takes the count on trust: half a gigabyte and seconds for 100 bytes.
    {"huge stream count", [] { return hostile::HugeStreamCount(); }},
    {"link target one byte over the path limit", [] { return hostile::LongLinkTarget(4096); }},
    {"link target of 900 KiB", [] { return hostile::LongLinkTarget(900 * 1024); }},
    {"header claiming 1.2 GiB", [] { return hostile::HugeEncodedHeader(1'288'490'188); }},
    {"header claiming 2^63 bytes", [] { return hostile::HugeEncodedHeader(1ull << 63); }},
};

TEST_F(HostileArchive, DamagedOrOverclaimingArchivesEndWith65QuicklyInLittleMemory) {
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        const hostile::Bytes bytes = c.make();
        ASSERT_LE(bytes.size(), 1u << 20);
        const fs::path archive = dir / "hostile.7z";
        WriteBytes(archive, bytes);
        const fs::path launcher = Launcher(archive, "hostile-setup");
        for (std::vector<std::string> args :
             {std::vector<std::string>{"/q"}, {"/q", "/x", (dir / "out").string()}}) {
            SCOPED_TRACE(args.size());
            ExpectRefusedQuickly(Run(launcher, args));
            EXPECT_FALSE(fs::exists(dir / "out/link"));
            EXPECT_FALSE(fs::exists(dir / "out/data.txt"));
        }
        // The same archive named by /e to a sound launcher.
        const fs::path product = dir / "product";
        WriteFile(product / "readme.txt", "read me\n");
        const fs::path sound = Launcher(Pack7z(product, dir / "sound.7z"), "sound-setup");
        ExpectRefusedQuickly(Run(sound, {"/q", "/e", archive.string()}));
        fs::remove_all(product);
        fs::remove(dir / "sound.7z");
    }
}

// The build tool refuses what the launcher would refuse: `create` with its checks, and
// `verify` of a launcher file made without them.
TEST_F(HostileArchive, TheBuildToolRefusesThem) {
    for (const HostileCase& c : kHostileCases) {
        SCOPED_TRACE(c.name);
        const fs::path archive = dir / "hostile.7z";
        WriteBytes(archive, c.make());
        const fs::path out = dir / "checked-setup";
        const ProcessResult created = RunProcess(
            {BinPath("sfxbuild"), "create", "--config", (dir / "config.txt").string(), "--archive",
             archive.string(), "--stub", stub.string(), "-o", out.string()});
        EXPECT_NE(created.status, 0);
        EXPECT_NE(created.err.find("cannot list the items"), std::string::npos) << created.err;
        EXPECT_FALSE(fs::exists(out));
        const ProcessResult verified =
            RunProcess({BinPath("sfxbuild"), "verify", Launcher(archive, "hostile-setup")});
        EXPECT_NE(verified.status, 0) << verified.out;
    }
}

// Only a regular file is read as an archive: a FIFO nobody writes to and a folder end the run
// at once instead of blocking it.
TEST_F(HostileArchive, OnlyARegularFileIsReadWithE) {
    const fs::path product = dir / "product";
    WriteFile(product / "readme.txt", "read me\n");
    const fs::path launcher = Launcher(Pack7z(product, dir / "sound.7z"), "sound-setup");
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_directories(dir / "folder");
    for (const fs::path& path : {fifo, dir / "folder"}) {
        SCOPED_TRACE(path);
        ExpectRefusedQuickly(Run(launcher, {"/q", "/e", path.string()}));
        ExpectRefusedQuickly(
            Run(launcher, {"/q", "/x", (dir / "out").string(), "/e", path.string()}));
    }
}

// A dictionary of 1.5 GiB claimed for a few megabytes of data: decoding needs only what the
// data fills, so the run succeeds in little memory.
TEST_F(HostileArchive, AHugeDictionaryClaimCostsOnlyWhatTheDataFills) {
    const fs::path product = dir / "product";
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "line " + std::to_string(i * 7919 % 10007) + "\n";
    WriteFile(product / "data.txt", text);
    const fs::path packed = Pack7z(product, dir / "plain.7z", "-m0=lzma2 -mhc=off");
    const std::string original = ReadFile(packed);
    const hostile::Bytes claimed =
        hostile::WithLzma2Dictionary(hostile::Bytes(original.begin(), original.end()), 37);
    ASSERT_FALSE(claimed.empty());
    WriteBytes(dir / "claimed.7z", claimed);
    const fs::path launcher = Launcher(dir / "claimed.7z", "claimed-setup");
    const MeasuredRun run = Run(launcher, {"/q", "/x", (dir / "out").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.elapsed, kTimeBound);
    EXPECT_LT(run.maxRssKiB, kMemoryBoundKiB);
    EXPECT_EQ(ReadFile(dir / "out/data.txt"), text);
    EXPECT_TRUE(fs::is_empty(tmp));
}

} // namespace
