#include "format/SevenZipCoders.h"
#include "format/SevenZipHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace sfx;
using namespace sfx::sevenzip;

class NoBytes final : public ByteStream {
public:
    ArchiveStatus Read(std::uint8_t*, std::size_t, std::size_t& done) override {
        done = 0;
        return {};
    }
};

// A dictionary beyond the bound is refused in words naming the method and the memory it asks
// for; a claim larger than the data is cut to the data and costs nothing.
TEST(SevenZipRefusals, ADictionaryAboveTheBoundIsRefusedInWords) {
    struct Case {
        const char* name;
        std::uint64_t method;
        std::vector<std::uint8_t> properties;
        std::uint64_t size;
        std::string says; // empty: accepted
    };
    const std::uint64_t big = std::uint64_t(3) << 30;
    const std::vector<Case> cases = {
        {"LZMA2 of 2 GiB",
         kMethodLzma2,
         {38},
         big,
         "The archive's LZMA2 compression asks "
         "for a dictionary of 2048 MiB"},
        {"LZMA of 4 GiB over 3 GiB of data",
         kMethodLzma,
         {0x5D, 0xFF, 0xFF, 0xFF, 0xFF},
         big,
         "The archive's LZMA compression asks for a dictionary of 3072 MiB"},
        {"LZMA2 of 2 GiB over 1 MiB of data", kMethodLzma2, {38}, 1u << 20, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CoderInfo coder;
        coder.method = c.method;
        coder.properties = c.properties;
        std::unique_ptr<ByteStream> stream;
        const ArchiveStatus status =
            MakeLzmaStream(coder, c.size, nullptr, std::make_unique<NoBytes>(), c.size, stream);
        if (c.says.empty()) {
            EXPECT_TRUE(status.Ok()) << status.text;
            EXPECT_TRUE(stream);
        } else {
            EXPECT_EQ(status.code, kHrNotImpl);
            EXPECT_EQ(status.text.find(c.says), 0u) << status.text;
            EXPECT_NE(status.text.find("more than 1536 MiB is not supported"), std::string::npos)
                << status.text;
            EXPECT_FALSE(stream);
        }
    }
}

} // namespace
