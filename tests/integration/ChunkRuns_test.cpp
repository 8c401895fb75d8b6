// Launcher files whose archive has one solid block of many independent LZMA2 runs (as block-wise
// compressors write it): extract-only gives 7zz's tree with its modes while the runs decode side
// by side, a damaged run in the middle ends 65 with nothing left in the temporary folder and
// nothing after it written, and the decoders stay within their memory budget at the cap.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

std::string Lines(int lines, int seed) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * seed) + " of file " + std::to_string(seed) + "\n";
    return text;
}

class ChunkRuns : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\n");
    }

    fs::path Launcher(const fs::path& product, const std::string& options,
                      const std::string& name) {
        const fs::path archive = Pack7z(product, dir / (name + ".7z"), options + " -ms=on");
        const fs::path out = dir / name;
        const auto r = CreateLauncherFromArchive(dir / "config.txt", archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    ProcessResult Run(std::vector<std::string> args, const std::string& decoders = "4") {
        return RunProcess(args,
                          {{"LANG", "en_US.UTF-8"},
                           {"LC_ALL", ""},
                           {"TMPDIR", tmp.string()},
                           {"SFX_DECODERS", decoders},
                           {"SFX_LOG", (dir / "log").string()}},
                          dir.path().string());
    }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

TEST_F(ChunkRuns, ExtractOnlyGivesSevenZipsTreeWithItsModes) {
    const fs::path product = dir / "product";
    for (int i = 0; i < 4; ++i)
        WriteFile(product / "data" / ("part" + std::to_string(i) + ".txt"),
                  Lines(50000 + 7919 * i, i + 1));
    WriteFile(product / "noise.bin", IncompressibleBytes((3 << 19) + 5));
    fs::create_directories(product / "bin");
    fs::copy_file("/bin/ls", product / "bin" / "tool");
    WriteFile(product / "setup.sh", "#!/bin/sh\nexit 0\n");
    WriteFile(product / "private.txt", Lines(100, 9));
    fs::create_directories(product / "empty");
    fs::create_symlink("data/part0.txt", product / "latest");
    fs::permissions(product / "setup.sh", fs::perms(0755));
    fs::permissions(product / "private.txt", fs::perms(0600));
    fs::permissions(product / "bin" / "tool", fs::perms(0750));
    fs::permissions(product / "data", fs::perms(0700));
    for (const std::string form : {"-m0=lzma2:d=1m:c=1m -mx=1", "-m0=BCJ -m1=LZMA2:d=1m:c=1m"}) {
        SCOPED_TRACE(form);
        fs::remove_all(dir / "ours");
        fs::remove_all(dir / "theirs");
        fs::remove(dir / "log");
        const fs::path launcher = Launcher(product, form, "runs-setup");
        const auto r = Run({launcher.string(), "/q", "/x", (dir / "ours").string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(ReadFile(dir / "log").find("independent runs"), std::string::npos)
            << ReadFile(dir / "log");
        const auto theirs =
            RunShell("7zz x -snld -bso0 -bsp0 -o" + ShellQuote((dir / "theirs").string()) + " " +
                         ShellQuote((dir / "runs-setup.7z").string()),
                     {}, dir.path().string());
        ASSERT_EQ(theirs.status, 0) << theirs.err;
        std::size_t entries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dir / "theirs")) {
            ++entries;
            const fs::path relative = entry.path().lexically_relative(dir / "theirs");
            const fs::path ours = dir / "ours" / relative;
            SCOPED_TRACE(relative.string());
            ASSERT_TRUE(fs::exists(fs::symlink_status(ours)));
            EXPECT_EQ(ModeOf(ours), ModeOf(entry.path()));
            if (entry.is_symlink()) {
                EXPECT_EQ(fs::read_symlink(ours), fs::read_symlink(entry.path()));
            } else if (entry.is_regular_file()) {
                EXPECT_TRUE(ReadFile(ours) == ReadFile(entry.path()));
            }
        }
        std::size_t ours = 0;
        for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(dir / "ours"))
            ++ours;
        EXPECT_EQ(ours, entries);
        EXPECT_EQ(entries, 12u);
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

TEST_F(ChunkRuns, ADamagedRunInTheMiddleEndsWith65) {
    const fs::path product = dir / "product";
    for (int i = 0; i < 6; ++i)
        WriteFile(product / ("f" + std::to_string(i) + ".txt"), Lines(60000, i + 1));
    const fs::path launcher = Launcher(product, "-m0=lzma2:d=1m:c=1m -mx=1", "damaged-setup");
    // Compressed bytes of the third file, in a run of its own: each file is about 1.4 MiB.
    std::string bytes = ReadFile(launcher);
    const auto archive = bytes.rfind(std::string("7z\xBC\xAF\x27\x1C", 6));
    ASSERT_NE(archive, std::string::npos);
    const std::uint64_t packed = bytes.size() - archive;
    const std::uint64_t at = archive + 32 + packed * 45 / 100;
    for (std::uint64_t i = at; i < at + 64; ++i)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    WriteFile(launcher, bytes);
    for (const char* decoders : {"1", "4"}) {
        SCOPED_TRACE(decoders);
        fs::remove_all(dir / "out");
        const auto r = Run({launcher.string(), "/q", "/x", (dir / "out").string()}, decoders);
        EXPECT_EQ(r.status, 65) << r.err;
        EXPECT_TRUE(fs::is_empty(tmp));
        // The last files lie in runs after the damage: never written.
        for (const char* after : {"f4.txt", "f5.txt"})
            EXPECT_FALSE(fs::exists(dir / "out" / after)) << after;
    }
}

// Runs far larger than the budget for decoding ahead: held output stays within it however
// many decoders there are.
TEST_F(ChunkRuns, DecodingAheadStaysWithinTheBudgetAtTheDecoderCap) {
    if (!fs::exists("/usr/bin/time"))
        GTEST_SKIP() << "no /usr/bin/time to measure the peak";
    const fs::path tiny = dir / "tiny";
    WriteFile(tiny / "a.txt", "a\n");
    const fs::path product = dir / "product";
    WriteFile(product / "big.txt", Lines(3600000, 3)); // about 100 MiB: four runs of 24 MiB
    const fs::path launchers[] = {Launcher(tiny, "-mx=1", "tiny-setup"),
                                  Launcher(product, "-m0=lzma2:d=1m:c=24m -mx=1", "big-setup")};
    std::int64_t peak[2] = {};
    for (int i = 0; i < 2; ++i) {
        const fs::path out = dir / ("out" + std::to_string(i));
        const auto r = Run(
            {"/usr/bin/time", "-f", "peak %M", launchers[i].string(), "/q", "/x", out.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto mark = r.err.rfind("peak ");
        ASSERT_NE(mark, std::string::npos) << r.err;
        peak[i] = std::stoll(r.err.substr(mark + 5));
        fs::remove_all(out);
    }
    EXPECT_NE(ReadFile(dir / "log").find("independent runs"), std::string::npos);
    // The consumer's run (1 MiB dictionary, its 4 MiB of pieces, the piece being read and the
    // block handed on), the 32 MiB shared by the decoders ahead, the writer's 8 MiB of buffers
    // and 16 MiB for allocator slack. Decoders that held whole runs ahead would take 72 MiB.
    constexpr std::int64_t kBudgetKiB = (1 + 6 + 32 + 8 + 16) * 1024;
    EXPECT_LE(peak[1], peak[0] + kBudgetKiB) << "tiny " << peak[0] << " KiB";
}

} // namespace
