// Archives whose headers claim more than their bytes pay for (pack streams by the million,
// dictionaries far beyond their data, a folder an item, streams that do not end where the
// header says, pack streams past the end of the file): each run ends quickly in bounded memory,
// with 65 where the archive is damaged and the files where it is sound, nothing left behind;
// the build tool's `create --archive`, `verify` and `list` agree within the same bounds. Then
// the decoders under an address-space limit, a pids limit and one processor.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/HostileArchive.h"
#include "support/LauncherFile.h"
#include "support/MeasuredRun.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

namespace {

using namespace testsupport;
using hostile::Bytes;
using hostile::PutFixed;
using hostile::PutNumber;
namespace fs = std::filesystem;

// Processor time and wall time; a run still going at kWallBound is stopped.
constexpr auto kTimeBound = std::chrono::seconds(5);
constexpr auto kWallBound = std::chrono::seconds(30);
constexpr long kMemoryBoundKiB = 64 * 1024;

// Raw LZMA2 of `data`, with its one property byte.
Bytes Lzma2(const Bytes& data, std::uint8_t& property) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 1);
    options.dict_size = 1u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(data.size() + data.size() / 8 + 4096);
    std::size_t size = 0;
    EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &size,
                                     out.size()),
              LZMA_OK);
    out.resize(size);
    EXPECT_EQ(lzma_properties_encode(&filters[0], &property), LZMA_OK);
    return out;
}

// Streams info of one LZMA2 folder: `packSize` bytes at `packPosition`, claimed to unpack to
// `unpackSize`, no check sum.
Bytes Lzma2Streams(std::uint64_t packPosition, std::uint64_t packSize, std::uint64_t unpackSize,
                   std::uint8_t property) {
    Bytes out = {0x06};
    PutNumber(out, packPosition);
    PutNumber(out, 1);
    out.push_back(0x09);
    PutNumber(out, packSize);
    out.insert(out.end(), {0x00, 0x07, 0x0B, 0x01, 0x00});
    out.insert(out.end(), {0x01, 0x21, 0x21, 0x01, property}); // one coder, LZMA2
    out.push_back(0x0C);
    PutNumber(out, unpackSize);
    out.insert(out.end(), {0x00, 0x00});
    return out;
}

// `padding` as packed data, then `header` packed with LZMA2 as the encoded header.
Bytes WithEncodedHeader(const Bytes& padding, const Bytes& header) {
    std::uint8_t property = 0;
    const Bytes packed = Lzma2(header, property);
    Bytes data = padding;
    data.insert(data.end(), packed.begin(), packed.end());
    Bytes next = {0x17};
    const Bytes streams = Lzma2Streams(padding.size(), packed.size(), header.size(), property);
    next.insert(next.end(), streams.begin(), streams.end());
    return hostile::Assemble(data, next);
}

// A header that lists `count` pack streams of no bytes and nothing else: a byte each in the
// header, sixteen in a reader's lists.
Bytes ManyPackStreams(std::size_t count, std::size_t padding) {
    Bytes header = {0x01, 0x04, 0x06, 0x00};
    PutNumber(header, count);
    header.push_back(0x09);
    header.resize(header.size() + count, 0x00);
    header.insert(header.end(), {0x00, 0x00, 0x00});
    return WithEncodedHeader(Bytes(padding, 0x5A), header);
}

std::string FileName(std::size_t i) {
    return "f" + std::to_string(i);
}

// `count` items of one byte, each in a folder of its own (stored).
Bytes OneFolderAnItem(std::size_t count) {
    Bytes header = {0x01, 0x04, 0x06, 0x00};
    PutNumber(header, count);
    header.push_back(0x09);
    header.resize(header.size() + count, 0x01);
    header.insert(header.end(), {0x00, 0x07, 0x0B});
    PutNumber(header, count);
    header.push_back(0x00);
    for (std::size_t i = 0; i < count; ++i)
        header.insert(header.end(), {0x01, 0x01, 0x00});
    header.push_back(0x0C);
    header.resize(header.size() + count, 0x01);
    header.insert(header.end(), {0x00, 0x00});
    Bytes names = {0x00};
    for (std::size_t i = 0; i < count; ++i) {
        for (const char c : FileName(i))
            names.insert(names.end(), {static_cast<std::uint8_t>(c), 0});
        names.insert(names.end(), {0, 0});
    }
    header.push_back(0x05);
    PutNumber(header, count);
    header.push_back(0x11);
    PutNumber(header, names.size());
    header.insert(header.end(), names.begin(), names.end());
    header.insert(header.end(), {0x00, 0x00});
    return hostile::Assemble(Bytes(count, 'x'), header);
}

Bytes TextBytes(std::size_t size) {
    Bytes data;
    data.reserve(size + 16);
    std::uint64_t state = 88172645463325252ull;
    while (data.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (const char c : std::to_string(state % 100000) + " ")
            data.push_back(static_cast<std::uint8_t>(c));
    }
    data.resize(size);
    return data;
}

// One item whose LZMA2 stream holds `holds` bytes while the header says 1,024, without a CRC.
Bytes StreamLongerThanClaimed(std::size_t holds) {
    std::uint8_t property = 0;
    const Bytes packed = Lzma2(TextBytes(holds), property);
    return hostile::Assemble(packed,
                             hostile::PlainHeader(Lzma2Streams(0, packed.size(), 1024, property),
                                                  hostile::OneFile("data.txt", 0100644)));
}

// One stored item of `size` bytes whose pack stream claims 10 MB more than the file has.
Bytes PackStreamPastTheEnd(std::size_t size) {
    const Bytes data = TextBytes(size);
    return hostile::Assemble(
        data, hostile::PlainHeader(hostile::StoredStreams(data.size() + 10'000'000, data.size()),
                                   hostile::OneFile("data.txt", 0100644)));
}

// One folder of `coders` copy coders with `streams` inputs and outputs each, every stream but
// one input bound: some 80 KB of header for 4,096 streams of each kind at 64 × 64.
Bytes WideCoders(std::size_t coders, std::size_t streams) {
    const Bytes data = {'d', 'a', 't', 'a'};
    const std::size_t total = coders * streams;
    Bytes info = {0x06};
    PutNumber(info, 0);
    PutNumber(info, 1);
    info.push_back(0x09);
    PutNumber(info, data.size());
    info.insert(info.end(), {0x00, 0x07, 0x0B});
    PutNumber(info, 1);
    info.push_back(0x00);
    PutNumber(info, coders);
    for (std::size_t c = 0; c < coders; ++c) {
        info.insert(info.end(), {0x11, 0x00}); // complex, id of one byte: copy
        PutNumber(info, streams);
        PutNumber(info, streams);
    }
    for (std::size_t i = 0; i + 1 < total; ++i) {
        PutNumber(info, i);
        PutNumber(info, i + 1);
    }
    info.push_back(0x0C);
    for (std::size_t i = 0; i < total; ++i)
        PutNumber(info, data.size());
    info.insert(info.end(), {0x00, 0x00});
    return hostile::Assemble(data,
                             hostile::PlainHeader(info, hostile::OneFile("data.txt", 0100644)));
}

struct BoundCase {
    const char* name;
    std::function<Bytes(const fs::path& dir)> make;
    bool sound;                     // extracts, and the build tool takes it
    bool listable;                  // its headers alone are sound
    std::size_t items;              // extracted files when sound
    const char* setup = "data.txt"; // an item the configuration names
    const char* says = nullptr;     // words the failure must hold
};

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// Four folders of `size` zero bytes each, made by 7zz, claiming a 1.5 GiB dictionary.
Bytes ClaimedDictionary(const fs::path& dir, std::size_t size) {
    const fs::path product = dir / "zeros";
    for (int i = 0; i < 4; ++i)
        // Executable: the setup named in the configuration is one of them.
        WriteExecutable(product / ("zero" + std::to_string(i)), std::string(size, '\0'));
    const fs::path packed =
        Pack7z(product, dir / "zeros.7z", "-m0=lzma2:d=1m -ms=off -mhc=off -mmt=1");
    const std::string bytes = ReadFile(packed);
    fs::remove_all(product);
    fs::remove(packed);
    return hostile::WithLzma2Dictionary(Bytes(bytes.begin(), bytes.end()), 37);
}

const BoundCase kCases[] = {
    {"10 M pack streams in a small archive", [](auto&) { return ManyPackStreams(10'000'000, 0); },
     false, false, 0},
    {"20 M pack streams in 1 MiB",
     [](auto&) { return ManyPackStreams(20'000'000, (1u << 20) - 4096); }, false, false, 0},
    {"four folders of 8 MiB zeros claiming a 1.5 GiB dictionary",
     [](const fs::path& dir) { return ClaimedDictionary(dir, 8u << 20); }, true, true, 4, "zero0"},
    {"20,000 folders of one byte", [](auto&) { return OneFolderAnItem(20'000); }, true, true,
     20'000, "f0"},
    {"50,000 folders of one byte in 1 MiB", [](auto&) { return OneFolderAnItem(50'000); }, true,
     true, 50'000, "f0"},
    {"stream of 300,000 bytes claiming 1,024",
     [](auto&) { return StreamLongerThanClaimed(300'000); }, false, true, 0},
    {"stream of 2 MiB (1 MiB packed) claiming 1,024",
     [](auto&) { return StreamLongerThanClaimed(2u << 20); }, false, true, 0},
    {"pack stream 10 MB past the end", [](auto&) { return PackStreamPastTheEnd(1000); }, false,
     false, 0},
    {"pack stream of 1 MiB, 10 MB past the end",
     [](auto&) { return PackStreamPastTheEnd(1u << 20); }, false, false, 0},
    {"64 coders of 64 outputs", [](auto&) { return WideCoders(64, 64); }, false, true, 0,
     "data.txt", "The archive's Copy coder has 64 outputs; coders with more than one output"},
};

class ArchiveBounds : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\n");
    }

    MeasuredRun Run(std::vector<std::string> argv, std::map<std::string, std::string> env = {}) {
        env.insert({{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""}, {"TMPDIR", tmp.string()}});
        return RunMeasured(argv, env, dir.path(), kWallBound + std::chrono::seconds(5));
    }

    static void ExpectWithinBounds(const MeasuredRun& run) {
        EXPECT_LT(run.cpu, kTimeBound);
        EXPECT_LT(run.elapsed, kTimeBound);
        EXPECT_LT(run.maxRssKiB, kMemoryBoundKiB);
        EXPECT_GT(run.maxRssKiB, 0);
    }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

// Every run with the decoder count at its cap, so that the bound holds on any machine.
TEST_F(ArchiveBounds, ClaimsCostOnlyWhatTheArchivePaysFor) {
    const std::map<std::string, std::string> fourDecoders = {{"SFX_DECODERS", "4"}};
    for (const BoundCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Bytes bytes = c.make(dir.path());
        ASSERT_FALSE(bytes.empty());
        ASSERT_LE(bytes.size(), (1u << 20) + 4096);
        const fs::path archive = dir / "bounds.7z";
        WriteBytes(archive, bytes);
        WriteFile(dir / "config.txt",
                  std::string("[main]\nProductName=Demo Product\nSetupFileName=") + c.setup + "\n");
        const fs::path launcher = dir / "bounds-setup";
        const auto made = CreateLauncherFromArchive(dir / "config.txt", archive, launcher, stub);
        ASSERT_EQ(made.status, 0) << made.err;

        // Many files are written where the disk does not set the pace, where there is such a
        // place.
        const fs::path out =
            fs::is_directory("/dev/shm")
                ? fs::path("/dev/shm") / ("sfx-bounds-" + std::to_string(::getpid()))
                : dir / "out";
        std::map<std::string, std::string> env = fourDecoders;
        env["SFX_LOG"] = (dir / "log").string();
        const MeasuredRun run = Run({launcher.string(), "/q", "/x", out.string()}, env);
        EXPECT_EQ(run.status, c.sound ? 0 : 65) << run.err;
        if (c.says != nullptr) {
            const std::string log = ReadFile(dir / "log");
            EXPECT_NE(log.find(c.says), std::string::npos) << log;
        }
        fs::remove(dir / "log");
        ExpectWithinBounds(run);
        EXPECT_TRUE(fs::is_empty(tmp));
        if (c.sound) {
            std::size_t files = 0;
            for (const auto& entry : fs::directory_iterator(out))
                files += entry.is_regular_file() ? 1 : 0;
            EXPECT_EQ(files, c.items);
        }
        fs::remove_all(out);

        const MeasuredRun verified = Run({BinPath("sfxbuild"), "verify", launcher.string()});
        EXPECT_EQ(verified.status == 0, c.sound) << verified.out << verified.err;
        ExpectWithinBounds(verified);
        const MeasuredRun listed = Run({BinPath("sfxbuild"), "list", launcher.string()});
        EXPECT_EQ(listed.status == 0, c.listable) << listed.err;
        ExpectWithinBounds(listed);
        const fs::path checked = dir / "checked-setup";
        const MeasuredRun created =
            Run({BinPath("sfxbuild"), "create", "--config", (dir / "config.txt").string(),
                 "--archive", archive.string(), "--stub", stub.string(), "-o", checked.string()});
        EXPECT_EQ(created.status == 0, c.sound) << created.err;
        EXPECT_EQ(fs::exists(checked), c.sound);
        ExpectWithinBounds(created);
        fs::remove(checked);
        fs::remove(launcher);
    }
}

} // namespace

namespace {

// 100,000 one-byte files in 100 folders, as 7zz packs them: more items than a count cap
// allowed an archive of this size, while their lists cost what the archive pays for. They
// extract as `7zz x` gives them.
TEST(TinyItems, AHundredThousandExtractLike7zz) {
    const fs::path root =
        fs::is_directory("/dev/shm")
            ? fs::path("/dev/shm") / ("sfx-tiny-" + std::to_string(::getpid()))
            : fs::temp_directory_path() / ("sfx-tiny-" + std::to_string(::getpid()));
    const fs::path product = root / "product";
    for (int d = 0; d < 100; ++d) {
        const fs::path folder = product / ("d" + std::to_string(d));
        fs::create_directories(folder);
        for (int f = 0; f < 1000; ++f)
            std::ofstream(folder / ("f" + std::to_string(f)))
                << static_cast<char>('a' + (d + f) % 26);
    }
    Pack7z(product, root / "tiny.7z", "-mmt=2");
    fs::remove_all(product);
    TempDir dir;
    WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\n");
    const fs::path launcher = dir / "tiny-setup";
    const auto made = CreateLauncherFromArchive(dir / "config.txt", root / "tiny.7z", launcher,
                                                SmallStub(dir.path()));
    ASSERT_EQ(made.status, 0) << made.err;
    fs::create_directories(dir / "tmp");
    const MeasuredRun run =
        RunMeasured({launcher.string(), "/q", "/x", (root / "out").string()},
                    {{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""}, {"TMPDIR", (dir / "tmp").string()}},
                    dir.path(), std::chrono::seconds(300));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_LT(run.maxRssKiB, kMemoryBoundKiB);
    EXPECT_TRUE(fs::is_empty(dir / "tmp"));
    fs::create_directories(root / "reference");
    ASSERT_EQ(RunShell("7zz x -bso0 -bsp0 ../tiny.7z", {}, (root / "reference").string()).status,
              0);
    const ProcessResult compared = RunShell("diff -r reference out", {}, root.string());
    EXPECT_EQ(compared.status, 0) << compared.out.substr(0, 2000);
    fs::remove_all(root);
}

// Four folders of 50 MiB (a 256 KiB pattern varied a little), 16 MiB dictionaries: four
// decoders take more memory and threads than the limits below leave.
class DecoderLimits : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared_ = new TempDir();
        const fs::path product = shared_->path() / "product";
        const std::string pattern = IncompressibleBytes(256u << 10);
        fs::create_directories(product);
        for (int i = 0; i < 4; ++i) {
            std::ofstream out(product / ("block" + std::to_string(i)), std::ios::binary);
            for (int k = 0; k < 200; ++k) {
                std::string chunk = pattern;
                chunk[static_cast<std::size_t>(k) * 1000] = static_cast<char>(i);
                out << chunk;
            }
        }
        Pack7z(product, shared_->path() / "blocks.7z", "-m0=lzma2:d=16m -mx1 -ms=off -mmt=2");
        WriteFile(shared_->path() / "config.txt", "[main]\nProductName=Demo Product\n");
        const auto made =
            CreateLauncherFromArchive(shared_->path() / "config.txt", shared_->path() / "blocks.7z",
                                      shared_->path() / "blocks-setup", SmallStub(shared_->path()));
        ASSERT_EQ(made.status, 0) << made.err;
    }
    static void TearDownTestSuite() {
        delete shared_;
        shared_ = nullptr;
    }

    void SetUp() override { fs::create_directories(tmp); }

    // The launcher extracting at /x through `prefix` (a command and its arguments).
    MeasuredRun Extract(std::vector<std::string> prefix, const std::string& decoders = "4") {
        prefix.insert(prefix.end(),
                      {(shared_->path() / "blocks-setup").string(), "/q", "/x", out.string()});
        return RunMeasured(prefix,
                           {{"LANG", "en_US.UTF-8"},
                            {"LC_ALL", ""},
                            {"TMPDIR", tmp.string()},
                            {"SFX_DECODERS", decoders},
                            {"SFX_LOG", (dir / "log").string()}},
                           dir.path(), std::chrono::seconds(120));
    }

    // Success with every block whole, or a failure that says why (in the log at /q); never a
    // crash, nothing left.
    void ExpectDecided(const MeasuredRun& run, const char* why) {
        const std::string log = ReadFile(dir / "log");
        EXPECT_EQ(run.err.find("terminate called"), std::string::npos) << run.err;
        EXPECT_TRUE(run.status == 0 || run.status == 65) << run.status << run.err << log;
        EXPECT_TRUE(fs::is_empty(tmp));
        if (run.status == 0) {
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(fs::file_size(out / ("block" + std::to_string(i))), 200u * (256u << 10));
        } else {
            EXPECT_NE(log.find(why), std::string::npos) << log;
        }
        fs::remove_all(out);
        fs::remove(dir / "log");
    }

    static TempDir* shared_;
    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path out = dir / "out";
};

TempDir* DecoderLimits::shared_ = nullptr;

// The decoders' part: none throws out of its thread, and a decoder that finds no memory
// gives way to fewer. (The launcher's own writer thread may still find no room under these
// limits; its failure is reported by the launcher, with a code of its own.)
TEST_F(DecoderLimits, AnAddressSpaceLimitEndsDecided) {
    for (const char* limit : {"--as=134217728", "--as=167772160", "--as=201326592"}) {
        SCOPED_TRACE(limit);
        ExpectDecided(Extract({"prlimit", limit, "--"}), "");
    }
}

// A pids cgroup (v1 or v2) with `limit` tasks; empty when this machine allows none.
fs::path PidsCgroup(const std::string& name, int limit) {
    for (const fs::path& root : {fs::path("/sys/fs/cgroup/pids"), fs::path("/sys/fs/cgroup")}) {
        if (!fs::exists(root / "cgroup.procs"))
            continue;
        if (root == "/sys/fs/cgroup" &&
            ReadFile(root / "cgroup.subtree_control").find("pids") == std::string::npos)
            continue;
        const fs::path group = root / name;
        std::error_code ec;
        fs::create_directory(group, ec);
        if (ec || !fs::exists(group / "pids.max"))
            continue;
        std::ofstream(group / "pids.max") << limit;
        return group;
    }
    return {};
}

// Four tasks: the launcher's own threads and the consumer's decoder take them, so that no
// further decoder starts; the decoders fall back to one instead of failing. (With fewer tasks
// than the launcher's own threads the decoders are never reached.)
TEST_F(DecoderLimits, APidsLimitFallsBackToFewerDecoders) {
    for (const int limit : {4}) {
        SCOPED_TRACE(limit);
        const fs::path group = PidsCgroup(
            "sfx-decoders-" + std::to_string(::getpid()) + "-" + std::to_string(limit), limit);
        if (group.empty())
            GTEST_SKIP() << "no pids cgroup can be made here";
        const MeasuredRun run =
            Extract({"sh", "-c", "echo $$ > \"$0/cgroup.procs\" && exec \"$@\"", group.string()});
        const std::string log = ReadFile(dir / "log");
        EXPECT_NE(log.find("1 from here on"), std::string::npos) << log;
        ExpectDecided(run, "");
        ::rmdir(group.c_str());
    }
}

// The decoders follow the affinity mask, not the machine's processor count.
TEST_F(DecoderLimits, OneProcessorMeansOneDecoder) {
    const MeasuredRun run = Extract({"taskset", "-c", "0"}, "");
    const std::string log = ReadFile(dir / "log");
    EXPECT_NE(log.find("up to 1 decoding at once"), std::string::npos) << log;
    EXPECT_EQ(run.status, 0);
    ExpectDecided(run, "");
}

} // namespace
