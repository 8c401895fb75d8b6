// Whole runs of launcher files made by sfxbuild: extract-only into a folder, damaged and hostile
// archives, and a run stopped by a signal. TMPDIR points into the test's folder, so that it can
// be checked that no run leaves a temporary folder behind.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

const std::string kBadArchive = "The setup file is corrupted. If you downloaded this file from "
                                "the Internet, please download it again.";

class ExtractRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\n");
    }

    // A 7z archive of `folder`'s contents, links kept as links.
    fs::path Pack(const fs::path& folder, const std::string& name,
                  const std::string& options = "") {
        return Pack7z(folder, dir / name, options);
    }

    fs::path Launcher(const fs::path& archive, const std::string& name) {
        const fs::path out = dir / name;
        auto r = CreateLauncherFromArchive(dir / "config.txt", archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    ProcessResult Run(const fs::path& launcher, std::vector<std::string> args) {
        args.insert(args.begin(), launcher.string());
        return RunProcess(args, Environment(), dir.path().string());
    }

    std::map<std::string, std::string> Environment() const {
        return {{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""}, {"TMPDIR", tmp.string()}};
    }

    bool TmpIsEmpty() const { return fs::is_empty(tmp); }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

TEST_F(ExtractRun, ExtractOnlyLeavesTheCompleteTreeWithModes) {
    const fs::path product = dir / "product";
    WriteFile(product / "setup.exe", "#!/bin/sh\nexit 0\n");
    WriteFile(product / "docs/readme.txt", "read me\n");
    WriteFile(product / "docs/private.txt", "mine\n");
    WriteFile(product / "bin/tool", std::string(100000, 't'));
    WriteFile(product / "a/b/c/deep.txt", "deep\n");
    fs::create_directories(product / "empty");
    fs::create_symlink("docs/readme.txt", product / "latest");
    fs::permissions(product / "setup.exe", fs::perms(0755));
    fs::permissions(product / "docs/private.txt", fs::perms(0600));
    fs::permissions(product / "bin/tool", fs::perms(0750));
    fs::permissions(product / "a/b", fs::perms(0700));
    const fs::path launcher = Launcher(Pack(product, "product.7z"), "demo-setup");

    for (const bool quiet : {false, true}) {
        SCOPED_TRACE(quiet ? "/q" : "normal level");
        const fs::path out = dir / (quiet ? "out-quiet" : "out");
        std::vector<std::string> args = {"/x", out.string()};
        if (quiet)
            args.insert(args.begin(), "/q");
        auto r = Run(launcher, args);
        ASSERT_EQ(r.status, 0) << r.err;
        std::size_t entries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(product)) {
            ++entries;
            const fs::path relative = entry.path().lexically_relative(product);
            const fs::path copy = out / relative;
            SCOPED_TRACE(relative.string());
            ASSERT_TRUE(fs::exists(fs::symlink_status(copy)));
            EXPECT_EQ(ModeOf(copy), ModeOf(entry.path()));
            if (entry.is_symlink()) {
                EXPECT_EQ(fs::read_symlink(copy), fs::read_symlink(entry.path()));
            } else if (entry.is_regular_file()) {
                EXPECT_EQ(ReadFile(copy), ReadFile(entry.path()));
            }
        }
        EXPECT_EQ(entries, 12u);
        EXPECT_TRUE(TmpIsEmpty());
        const bool announced =
            r.err.find("The installation files have been successfully extracted into the "
                       "folder:") != std::string::npos &&
            r.err.find(out.string() + "/") != std::string::npos;
        EXPECT_EQ(announced, !quiet) << r.err;
        if (quiet) {
            EXPECT_EQ(r.err, "");
        }
    }
}

// Without a folder, /x extracts into a folder named after the launcher in the current folder;
// a switch after /x is a switch, never a folder such as "/q" at the root.
TEST_F(ExtractRun, ExtractOnlyWithoutAFolderNamesOneAfterTheLauncher) {
    const fs::path product = dir / "product";
    WriteFile(product / "setup.exe", "#!/bin/sh\nexit 0\n");
    const fs::path archive = Pack(product, "product.7z");
    std::error_code ec;
    const bool rootQ = fs::exists("/q", ec);
    struct Case {
        std::string launcher;
        std::vector<std::string> args;
        std::string folder; // below the current folder
    };
    const Case cases[] = {
        {"demo-setup", {"/x", "/q"}, "demo-setup-files"}, {"demo.run", {"/x", "-q"}, "demo"},
        {".hidden", {"/x", "/q"}, "extracted"},           {".hidden.run", {"/q", "/x"}, ".hidden"},
        {"demo-setup", {"/x", "out", "/q"}, "out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.launcher + " " + ::testing::PrintToString(c.args));
        const fs::path launcher = Launcher(archive, c.launcher);
        const ProcessResult r = Run(launcher, c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        // Silent: /q took effect.
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(ReadFile(dir / c.folder / "setup.exe"), "#!/bin/sh\nexit 0\n");
        EXPECT_FALSE(fs::exists(dir / "setup.exe"));
        EXPECT_EQ(fs::exists("/q", ec), rootQ);
        EXPECT_TRUE(TmpIsEmpty());
        fs::remove_all(dir / c.folder);
        fs::remove(launcher);
    }
}

TEST_F(ExtractRun, NormalRunLeavesNoTemporaryFolder) {
    const fs::path product = dir / "product";
    WriteFile(product / "setup.exe", "#!/bin/sh\nexit 0\n");
    fs::permissions(product / "setup.exe", fs::perms::owner_all);
    const fs::path launcher = Launcher(Pack(product, "product.7z"), "demo-setup");
    auto r = Run(launcher, {"/q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(ExtractRun, ACorruptedArchiveEndsWith65AfterItsMessage) {
    const fs::path product = dir / "product";
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i * 7919 % 10007) + " of the product\n";
    WriteFile(product / "data.txt", text);
    const fs::path archive = Pack(product, "product.7z");
    std::string bytes = ReadFile(archive);
    // The packed data follows the 32-byte signature header.
    ASSERT_GT(bytes.size(), 200u);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x55);
    WriteFile(archive, bytes);
    const fs::path launcher = Launcher(archive, "damaged-setup");

    for (std::vector<std::string> args :
         {std::vector<std::string>{"/qm"}, {"/qm", "/x", (dir / "out").string()}}) {
        SCOPED_TRACE(args.size());
        const fs::path log = dir / "run.log";
        fs::remove(log);
        auto environment = Environment();
        environment["SFX_LOG"] = log.string();
        args.insert(args.begin(), launcher.string());
        auto r = RunProcess(args, environment, dir.path().string());
        EXPECT_EQ(r.status, 65);
        EXPECT_NE(r.err.find(kBadArchive), std::string::npos) << r.err;
        // The damaged item is named behind the message, and in the log.
        EXPECT_NE(r.err.find(kBadArchive + "\n\ndata.txt"), std::string::npos) << r.err;
        EXPECT_NE(ReadFile(log).find("Damaged or refused item: 'data.txt'."), std::string::npos)
            << ReadFile(log);
        EXPECT_TRUE(TmpIsEmpty());
    }
}

TEST_F(ExtractRun, AnArchiveWritingOutsideIsRefused) {
    // A link pointing out of the folder, then a file written through it.
    fs::create_directories(dir / "stage1");
    fs::create_directories(dir / "stage2/link");
    fs::create_symlink("../../outside", dir / "stage1/link");
    WriteFile(dir / "stage2/link/evil.txt", "evil\n");
    const fs::path archive = dir / "evil.7z";
    Pack7z(dir / "stage1", archive, "", "link");
    Pack7z(dir / "stage2", archive, "", "link/evil.txt");
    ASSERT_FALSE(HasFailure());
    const fs::path launcher = Launcher(archive, "evil-setup");

    const fs::path out = dir / "deep/er/out";
    fs::create_directories(out);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/qm"}, {"/qm", "/x", out.string()}}) {
        SCOPED_TRACE(args.size());
        auto r = Run(launcher, args);
        EXPECT_EQ(r.status, 65);
        // The refusal says why, names the refused link and blames no download.
        EXPECT_NE(r.err.find("The setup file contains a link that leads outside the folder it "
                             "is extracted to. For safety, such links are not extracted.\n\nlink"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(kBadArchive), std::string::npos) << r.err;
        EXPECT_TRUE(TmpIsEmpty());
        EXPECT_FALSE(fs::exists(dir / "outside"));
        EXPECT_FALSE(fs::exists(dir / "deep/outside"));
        EXPECT_FALSE(fs::exists(dir / "deep/er/outside"));
    }
}

// Starts a launcher with its output in files, so that the test can signal it while it runs.
class RunningLauncher {
public:
    RunningLauncher(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, const fs::path& outputFolder) {
        errPath_ = (outputFolder / "stderr.txt").string();
        const int errFd = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (errFd < 0)
            throw std::runtime_error("cannot create " + errPath_);
        cptlib::platform::SpawnRequest request;
        request.program = argv.at(0);
        request.arguments.assign(argv.begin() + 1, argv.end());
        request.environment = MergedEnvironment(env);
        request.input = cptlib::platform::Stream::Null();
        request.output = cptlib::platform::Stream::Null();
        request.error = cptlib::platform::Stream::From(errFd);
        const int rc = cptlib::platform::Spawn(request, pid_);
        ::close(errFd);
        if (rc != 0)
            throw std::runtime_error("cannot start " + argv[0]);
    }
    ~RunningLauncher() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            cptlib::platform::WaitForProcess(pid_);
        }
    }
    void Signal(int number) const { ::kill(pid_, number); }
    int Wait() {
        const int status = cptlib::platform::WaitForProcess(pid_);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string Err() const { return ReadFile(errPath_); }

private:
    pid_t pid_ = -1;
    std::string errPath_;
};

TEST_F(ExtractRun, SigtermDuringExtractionEndsWith130AndLeavesNoTemporaryFolder) {
    const fs::path product = dir / "product";
    fs::create_directories(product);
    // Incompressible data, stored, so that building is quick and writing takes a while.
    WriteFile(product / "big.bin", IncompressibleBytes(96 * 1024 * 1024));
    WriteFile(product / "big2.bin", IncompressibleBytes(32 * 1024 * 1024));
    // One block, and blocks decoded side by side.
    const fs::path launchers[] = {Launcher(Pack(product, "big.7z", "-mx=0"), "big-setup"),
                                  Launcher(Pack(product, "many.7z", "-mx=0 -ms=1f"), "many-setup")};
    fs::remove_all(product);

    for (const auto& [number, launcher] :
         {std::pair{SIGTERM, launchers[0]}, {SIGHUP, launchers[0]}, {SIGTERM, launchers[1]}}) {
        SCOPED_TRACE(number);
        SCOPED_TRACE(launcher.filename().string());
        RunningLauncher run({launcher.string(), "/q"}, Environment(), dir.path());
        // Wait until the data is being written into the temporary folder.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool writing = false;
        while (!writing && std::chrono::steady_clock::now() < deadline) {
            std::error_code ec;
            for (const auto& entry : fs::directory_iterator(tmp, ec))
                writing = writing || fs::exists(entry.path() / "big.bin");
            if (!writing)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_TRUE(writing);
        run.Signal(number);
        EXPECT_EQ(run.Wait(), 130) << run.Err();
        EXPECT_TRUE(TmpIsEmpty());
    }
}

// Text of `lines` lines that differs with `seed`, so that blocks do not repeat each other.
std::string Lines(int lines, int seed) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * 7919 % 10007 + seed) + " of part " +
                std::to_string(seed) + "\n";
    return text;
}

// Many solid blocks, decoded side by side, extract exactly as the reference archiver does.
TEST_F(ExtractRun, ManyBlocksExtractAsTheReferenceArchiverDoes) {
    const fs::path product = dir / "product";
    for (int i = 0; i < 10; ++i) {
        const fs::path name =
            product / ("part" + std::to_string(i % 3)) / ("f" + std::to_string(i));
        WriteFile(name, i % 4 == 0 ? IncompressibleBytes((1 << 20) + i * 513) : Lines(40000, i));
        fs::permissions(name, i % 2 ? fs::perms(0640) : fs::perms(0755));
    }
    fs::copy_file("/bin/ls", product / "ls");
    fs::create_symlink("part0/f0", product / "link");
    fs::create_directories(product / "empty");
    for (const std::string options : {"-ms=1m", "-ms=1f -mf=BCJ2", "-ms=e -m0=lzma"}) {
        SCOPED_TRACE(options);
        fs::remove_all(dir / "ours");
        fs::remove_all(dir / "reference");
        fs::remove(dir / "product.7z");
        const fs::path archive = Pack(product, "product.7z", options);
        const fs::path launcher = Launcher(archive, "demo-setup");
        auto r = Run(launcher, {"/q", "/x", (dir / "ours").string()});
        ASSERT_EQ(r.status, 0) << r.err;
        r = RunShell("7zz x -snl -bso0 -bsp0 -o" + ShellQuote((dir / "reference").string()) + " " +
                     ShellQuote(archive.string()));
        ASSERT_EQ(r.status, 0) << r.err;
        std::size_t entries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "reference")) {
            ++entries;
            const fs::path relative = entry.path().lexically_relative(dir / "reference");
            const fs::path copy = dir / "ours" / relative;
            SCOPED_TRACE(relative.string());
            ASSERT_TRUE(fs::exists(fs::symlink_status(copy)));
            EXPECT_EQ(ModeOf(copy), ModeOf(entry.path()));
            if (entry.is_symlink()) {
                EXPECT_EQ(fs::read_symlink(copy), fs::read_symlink(entry.path()));
            } else if (entry.is_regular_file()) {
                EXPECT_EQ(ReadFile(copy), ReadFile(entry.path()));
            }
        }
        std::size_t ours = 0;
        for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(dir / "ours"))
            ++ours;
        EXPECT_EQ(ours, entries);
        EXPECT_EQ(entries, 16u);
    }
}

// A damaged block between sound ones fails as a damaged one-block archive does.
TEST_F(ExtractRun, ADamagedBlockBetweenSoundOnesEndsWith65) {
    const fs::path product = dir / "product";
    for (int i = 0; i < 6; ++i)
        WriteFile(product / ("f" + std::to_string(i) + ".txt"), Lines(30000, i));
    // Stored blocks of one file each: the fourth file's bytes lie at a known place.
    const fs::path archive = Pack(product, "product.7z", "-ms=1f -mx=0");
    std::string bytes = ReadFile(archive);
    const std::string fourth = ReadFile(product / "f3.txt");
    const auto at = bytes.find(fourth.substr(0, 4096));
    ASSERT_NE(at, std::string::npos);
    bytes[at + 1000] = static_cast<char>(bytes[at + 1000] ^ 0x55);
    WriteFile(archive, bytes);
    const fs::path launcher = Launcher(archive, "damaged-setup");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"/qm"}, {"/qm", "/x", (dir / "out").string()}}) {
        SCOPED_TRACE(args.size());
        args.insert(args.begin(), launcher.string());
        auto r = RunProcess(args, Environment(), dir.path().string());
        EXPECT_EQ(r.status, 65);
        EXPECT_NE(r.err.find(kBadArchive + "\n\nf3.txt"), std::string::npos) << r.err;
        EXPECT_TRUE(TmpIsEmpty());
    }
    // Items after the damaged one are never written.
    for (const char* after : {"f4.txt", "f5.txt"})
        EXPECT_FALSE(fs::exists(dir / "out" / after)) << after;
}

// Peak memory of an archive of many large blocks: the decoders' dictionaries and their buffers
// on top of what a tiny archive takes.
TEST_F(ExtractRun, PeakMemoryOfManyLargeBlocksStaysWithinTheDecodersBudget) {
    if (!fs::exists("/usr/bin/time"))
        GTEST_SKIP() << "no /usr/bin/time to measure the peak";
    const fs::path tiny = dir / "tiny";
    WriteFile(tiny / "a.txt", "a\n");
    const fs::path product = dir / "product";
    for (int i = 0; i < 12; ++i)
        WriteFile(product / ("f" + std::to_string(i) + ".txt"), Lines(250000, i));
    constexpr std::int64_t kDictionaryKiB = 8 << 10;
    const fs::path launchers[] = {
        Launcher(Pack(tiny, "tiny.7z"), "tiny-setup"),
        Launcher(Pack(product, "many.7z", "-mx=1 -md=8m -ms=1f"), "many-setup")};
    std::int64_t peak[2] = {};
    for (int i = 0; i < 2; ++i) {
        const fs::path out = dir / ("out" + std::to_string(i));
        auto r = RunProcess(
            {"/usr/bin/time", "-f", "peak %M", launchers[i].string(), "/q", "/x", out.string()},
            Environment(), dir.path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        const auto mark = r.err.rfind("peak ");
        ASSERT_NE(mark, std::string::npos) << r.err;
        peak[i] = std::stoll(r.err.substr(mark + 5));
    }
    // A decoder per core, four at most, each with its dictionary, 4 MiB of pieces of its own,
    // the piece being read and the consumer's block; 48 MiB of pieces the decoders share;
    // 16 MiB for allocator slack.
    const std::int64_t decoders = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    const std::int64_t budgetKiB = decoders * (kDictionaryKiB + 6 * 1024) + 48 * 1024 + 16 * 1024;
    EXPECT_LE(peak[1], peak[0] + budgetKiB) << "tiny " << peak[0] << " KiB";
}

} // namespace
