// LZMA2 streams of several independent runs (dictionary resets, as block-wise compressors
// write them): found from the chunk headers alone, decoded side by side into what one decoder
// gives, failing at a damaged run's place, and stopping promptly when the reader goes.

#include "format/ArchiveReader.h"
#include "format/Lzma2Chunks.h"
#include "format/SevenZipHeader.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using Bytes = std::vector<std::uint8_t>;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

std::string Text(int lines, int seed) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i * seed) + " of part " + std::to_string(seed) + "\n";
    return text;
}

// Raw LZMA2 of `data`, end marker included: a stream that begins with a dictionary reset.
Bytes Lzma2(const std::string& data) {
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 1);
    options.dict_size = 1u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    Bytes out(data.size() + data.size() / 8 + 4096);
    std::size_t size = 0;
    EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr,
                                     reinterpret_cast<const std::uint8_t*>(data.data()),
                                     data.size(), out.data(), &size, out.size()),
              LZMA_OK);
    out.resize(size);
    return out;
}

std::string Decode(const Bytes& stream) {
    lzma_options_lzma options{};
    options.dict_size = 1u << 20;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::string out(8u << 20, '\0');
    std::size_t in = 0;
    std::size_t produced = 0;
    const lzma_ret result =
        lzma_raw_buffer_decode(filters, nullptr, stream.data(), &in, stream.size(),
                               reinterpret_cast<std::uint8_t*>(out.data()), &produced, out.size());
    EXPECT_EQ(result, LZMA_OK);
    out.resize(produced);
    return out;
}

ArchiveStatus Scan(const Bytes& stream, std::uint64_t packSize, std::uint64_t unpackSize,
                   std::vector<sevenzip::Lzma2Segment>& segments) {
    const auto readAt = [&](std::uint64_t offset, std::uint8_t* out, std::size_t size,
                            std::size_t& done) -> std::uint32_t {
        done = offset < stream.size()
                   ? static_cast<std::size_t>(std::min<std::uint64_t>(size, stream.size() - offset))
                   : 0;
        std::memcpy(out, stream.data() + offset, done);
        return 0;
    };
    return sevenzip::ScanLzma2Segments(readAt, packSize, unpackSize, segments);
}

// Three streams joined into one: text, incompressible bytes (stored chunks, whose reset is
// another control byte) and a little text.
struct Joined {
    std::vector<std::string> parts;
    std::vector<Bytes> streams;
    Bytes bytes;
    std::uint64_t unpacked = 0;
};

Joined Join() {
    Joined joined;
    joined.parts = {Text(20000, 3), testsupport::IncompressibleBytes(150000), Text(300, 5)};
    for (const std::string& part : joined.parts) {
        joined.streams.push_back(Lzma2(part));
        joined.bytes.insert(joined.bytes.end(), joined.streams.back().begin(),
                            joined.streams.back().end() - 1); // without its end marker
        joined.unpacked += part.size();
    }
    joined.bytes.push_back(0x00);
    return joined;
}

TEST(Lzma2Runs, EachDictionaryResetStartsARunThatDecodesAlone) {
    const Joined joined = Join();
    ASSERT_EQ(joined.streams[1].front(), 0x01) << "the incompressible part is stored";
    std::vector<sevenzip::Lzma2Segment> segments;
    ASSERT_TRUE(Scan(joined.bytes, joined.bytes.size(), joined.unpacked, segments).Ok());
    ASSERT_EQ(segments.size(), 3u);
    std::uint64_t at = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(segments[i].packOffset, at);
        EXPECT_EQ(segments[i].packSize, joined.streams[i].size() - 1);
        EXPECT_EQ(segments[i].unpackSize, joined.parts[i].size());
        Bytes run(joined.bytes.begin() + static_cast<std::ptrdiff_t>(segments[i].packOffset),
                  joined.bytes.begin() +
                      static_cast<std::ptrdiff_t>(segments[i].packOffset + segments[i].packSize));
        run.push_back(0x00);
        EXPECT_EQ(Decode(run), joined.parts[i]);
        at += segments[i].packSize;
    }
}

TEST(Lzma2Runs, HeadersThatContradictTheClaimsAreDamage) {
    const Joined joined = Join();
    const std::size_t second = joined.streams[0].size() - 1;
    struct Case {
        const char* name;
        std::function<void(Bytes&, std::uint64_t& packSize, std::uint64_t& unpackSize)> damage;
    };
    const Case cases[] = {
        {"no end marker", [](Bytes& b, std::uint64_t& p, std::uint64_t&) { b.pop_back(), --p; }},
        {"more claimed than the chunks hold",
         [](Bytes&, std::uint64_t&, std::uint64_t& u) { ++u; }},
        {"less claimed than the chunks hold",
         [](Bytes&, std::uint64_t&, std::uint64_t& u) { --u; }},
        {"a control byte LZMA2 does not know",
         [second](Bytes& b, std::uint64_t&, std::uint64_t&) { b[second] = 0x03; }},
        {"the first chunk keeps a dictionary there is not",
         [](Bytes& b, std::uint64_t&, std::uint64_t&) { b[0] = (b[0] & 0x1F) | 0x80; }},
        {"a chunk runs past the packed stream",
         [second](Bytes&, std::uint64_t& p, std::uint64_t&) { p = second + 100; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes bytes = joined.bytes;
        std::uint64_t packSize = bytes.size();
        std::uint64_t unpackSize = joined.unpacked;
        c.damage(bytes, packSize, unpackSize);
        std::vector<sevenzip::Lzma2Segment> segments;
        EXPECT_EQ(Scan(bytes, packSize, unpackSize, segments).code, cptlib::HRESULT_INVALID_DATA);
    }
}

struct Delivered {
    ArchiveStatus status;
    std::vector<std::string> names;
    std::map<std::string, std::string> data;
};

Delivered ReadAll(const fs::path& archive) {
    Delivered out;
    const auto reader = MakeArchiveReader(archive.string(), 0);
    ArchiveIndex index;
    out.status = reader->ReadIndex(index);
    if (!out.status.Ok())
        return out;
    for (;;) {
        ArchiveItem item;
        bool more = false;
        out.status = reader->NextItem(item, more);
        if (!out.status.Ok() || !more)
            return out;
        out.names.push_back(item.name);
        if (item.type != ArchiveItemType::File)
            continue;
        std::string& bytes = out.data[item.name];
        for (;;) {
            std::span<const std::uint8_t> block;
            out.status = reader->ReadBlock(block);
            if (!out.status.Ok())
                return out;
            if (block.empty())
                break;
            bytes.append(block.begin(), block.end());
        }
    }
}

class Lzma2RunsArchive : public ::testing::Test {
protected:
    void SetUp() override {
        const fs::path stage = dir.path() / "stage";
        // Items that begin and end inside runs and span several of them.
        for (int i = 0; i < 5; ++i)
            WriteFile(stage / ("text" + std::to_string(i) + ".txt"),
                      Text(40000 + i * 12345, i + 1));
        WriteFile(stage / "noise.bin", testsupport::IncompressibleBytes((3 << 19) + 77));
        fs::copy_file("/bin/ls", stage / "ls");
        WriteFile(stage / "empty.txt", "");
        for (const auto& entry : fs::recursive_directory_iterator(stage))
            if (entry.is_regular_file())
                expected[entry.path().lexically_relative(stage).string()] = ReadFile(entry.path());
    }

    fs::path Pack(const std::string& options) {
        fs::remove(dir.path() / "runs.7z");
        return testsupport::Pack7z(dir.path() / "stage", dir.path() / "runs.7z",
                                   options + " -ms=on -mhc=off");
    }

    // The one folder's LZMA2 stream: where it lies in the file and its runs.
    struct Stream {
        std::uint64_t offset = 0;
        std::vector<sevenzip::Lzma2Segment> runs;
        // Each item's bytes in the folder: [first, second).
        std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> items;
    };
    Stream RunsOf(const fs::path& archive) {
        const std::string file = ReadFile(archive);
        const Bytes bytes(file.begin(), file.end());
        std::uint64_t next = 0;
        for (int i = 0; i < 8; ++i)
            next |= std::uint64_t(bytes[12 + i]) << (8 * i);
        ArchiveIndex index;
        sevenzip::EncodedHeader encoded;
        sevenzip::ArchiveLayout layout;
        EXPECT_EQ(
            sevenzip::ParseHeader(std::span(bytes.data() + 32 + next, bytes.size() - 32 - next),
                                  index, encoded, &layout),
            sevenzip::HeaderKind::Plain);
        Stream stream;
        const auto& folder = layout.streams.folders.at(0);
        // The LZMA2 coder reads the one packed stream; a filter may sit before it.
        std::size_t lzma2 = 0;
        while (folder.coders.at(lzma2).method != sevenzip::kMethodLzma2)
            ++lzma2;
        stream.offset = 32 + layout.streams.PackOffset(folder.firstPackStream);
        const Bytes packed(bytes.begin() + static_cast<std::ptrdiff_t>(stream.offset),
                           bytes.begin() + static_cast<std::ptrdiff_t>(
                                               stream.offset + layout.streams.packSizes.at(0)));
        EXPECT_TRUE(Scan(packed, packed.size(), folder.unpackSizes.at(lzma2), stream.runs).Ok());
        std::vector<std::uint64_t> starts;
        std::uint64_t end = 0;
        for (const auto size : layout.streams.streamSizes) {
            starts.push_back(end);
            end += size;
        }
        for (std::size_t i = 0; i < index.items.size(); ++i)
            if (const auto number = layout.itemStreams.at(i))
                stream.items[index.items[i].name] = {
                    starts.at(*number), starts.at(*number) + layout.streams.streamSizes[*number]};
        return stream;
    }

    TempDir dir;
    std::map<std::string, std::string> expected;
};

TEST_F(Lzma2RunsArchive, RunsDecodedSideBySideGiveEveryItemAsOneDecoderDoes) {
    for (const std::string form : {"-m0=lzma2:d=1m:c=1m -mx=1", "-m0=BCJ -m1=LZMA2:d=1m:c=1m"}) {
        const fs::path archive = Pack(form);
        ASSERT_GE(RunsOf(archive).runs.size(), 6u) << form;
        for (const char* decoders : {"1", "2", "4"}) {
            SCOPED_TRACE(form + " with " + decoders + " decoders");
            ScopedEnv env("SFX_DECODERS", std::string(decoders));
            const Delivered got = ReadAll(archive);
            EXPECT_TRUE(got.status.Ok()) << got.status.code << " " << got.status.text;
            EXPECT_EQ(got.data, expected);
        }
    }
}

TEST_F(Lzma2RunsArchive, ADamagedRunInTheMiddleFailsInItsPlace) {
    const fs::path archive = Pack("-m0=lzma2:d=1m:c=1m -mx=1");
    const Stream stream = RunsOf(archive);
    ASSERT_GE(stream.runs.size(), 6u);
    const std::size_t middle = stream.runs.size() / 2;
    std::uint64_t runStart = 0;
    for (std::size_t i = 0; i < middle; ++i)
        runStart += stream.runs[i].unpackSize;
    const std::uint64_t runEnd = runStart + stream.runs[middle].unpackSize;
    const std::string sound = ReadFile(archive);
    struct Case {
        const char* name;
        std::uint64_t at; // in the run's packed bytes
        std::uint8_t mask;
    };
    // The compressed data, and the unpacked size in the run's first chunk header.
    for (const Case& c : {Case{"data", 200, 0x5a}, Case{"header", 2, 0x01}}) {
        std::string bytes = sound;
        const std::uint64_t at = stream.offset + stream.runs[middle].packOffset + c.at;
        for (std::uint64_t i = at; i < at + (c.mask == 0x5a ? 64 : 1); ++i)
            bytes[i] = static_cast<char>(bytes[i] ^ c.mask);
        WriteFile(archive, bytes);
        for (const char* decoders : {"1", "2", "4"}) {
            SCOPED_TRACE(std::string(c.name) + " with " + decoders + " decoders");
            ScopedEnv env("SFX_DECODERS", std::string(decoders));
            const Delivered got = ReadAll(archive);
            EXPECT_TRUE(got.status.code == cptlib::HRESULT_INVALID_DATA ||
                        got.status.code == HRESULT_CRC_ERROR)
                << got.status.code;
            // Items before the run are whole; none that begins after it is given.
            EXPECT_FALSE(got.names.empty());
            for (const std::string& name : got.names) {
                const auto range = stream.items.find(name);
                if (range == stream.items.end())
                    continue; // no bytes
                EXPECT_LT(range->second.first, runEnd) << name;
                const auto data = got.data.find(name);
                if (range->second.second <= runStart) {
                    ASSERT_NE(data, got.data.end()) << name;
                    EXPECT_EQ(data->second, expected.at(name)) << name;
                }
            }
        }
    }
}

TEST_F(Lzma2RunsArchive, DroppingTheReaderMidwayStopsItsRunDecodersPromptly) {
    const fs::path stage = dir.path() / "stage";
    WriteFile(stage / "big.txt", Text(3000000, 11));
    const fs::path archive = Pack("-m0=lzma2:d=1m:c=2m -mx=1");
    ASSERT_GE(RunsOf(archive).runs.size(), 20u);
    ScopedEnv env("SFX_DECODERS", std::string("4"));
    const auto whole = std::chrono::steady_clock::now();
    ASSERT_TRUE(ReadAll(archive).status.Ok());
    const auto wholeTime = std::chrono::steady_clock::now() - whole;

    const auto start = std::chrono::steady_clock::now();
    {
        const auto reader = MakeArchiveReader(archive.string(), 0);
        ArchiveIndex index;
        ASSERT_TRUE(reader->ReadIndex(index).Ok());
        ArchiveItem item;
        bool more = false;
        ASSERT_TRUE(reader->NextItem(item, more).Ok());
        std::span<const std::uint8_t> block;
        ASSERT_TRUE(reader->ReadBlock(block).Ok());
    }
    const auto stopped = std::chrono::steady_clock::now() - start;
    EXPECT_LT(stopped, wholeTime / 2);
}

} // namespace
