#include "format/DataBlock.h"

#include "cptlib/platform/File.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace {

using namespace sfx;
using cptlib::HRESULT;
using testsupport::TempDir;
using testsupport::WriteFile;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

TEST(DataBlock, IsTheQueryInUtf16BetweenTheMarkers) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"k1=a%20b&k2=", u"k1=a%20b&k2="},
        {"", u""},
        {"name=J\xC3\xBCrgen", u"name=J\u00FCrgen"},                     // one unit
        {"e=\xF0\x9F\x98\x80", std::u16string(u"e=") + u"\xD83D\xDE00"}, // a surrogate pair
        {"%41%4a%4F", u"%41%4a%4F"},                                     // escapes stay as written
    };
    for (const auto& [query, payload] : cases) {
        const std::string block = MakeDataBlock(query);
        EXPECT_EQ(block, Utf16Le(u"##DATA##") + Utf16Le(payload) + Utf16Le(u"##ENDDATA##"))
            << query;
        // What the build tool writes, the search finds and reads back.
        const std::string window = "noise" + block + "tail";
        DataBlockPosition found;
        ASSERT_EQ(FindDataBlockIn(AsBytes(window), found), DataBlockSearch::Found) << query;
        EXPECT_EQ(found.start, 5u);
        EXPECT_EQ(found.payload, 5u + 16);
        EXPECT_EQ(found.length, payload.size() * 2);
        EXPECT_EQ(DataBlockPayload(AsBytes(window), found), payload) << query;
    }
}

TEST(DataBlock, RefusesQueriesTheLauncherWouldMisread) {
    const std::string cases[] = {
        "a=\xFF",          // not UTF-8
        "a=%2",            // escape cut short
        "a=%",             //
        "a=%zz",           // no hexadecimal digits: the launcher would read a zero unit
        "a=% 1",           // white space
        "a=##ENDDATA##&b", // would end the block early
        std::string(32754, 'x'),
    };
    for (const auto& query : cases)
        EXPECT_THROW(MakeDataBlock(query), std::invalid_argument) << query.substr(0, 20);
    // The largest block that still fits the launcher's 64 KiB window.
    EXPECT_EQ(MakeDataBlock(std::string(32749, 'x')).size(), kDataBlockWindow);
}

TEST(DataBlock, NeedsBothMarkers) {
    const std::string start = Utf16Le(u"##DATA##"), end = Utf16Le(u"##ENDDATA##");
    const std::pair<std::string, DataBlockSearch> cases[] = {
        {"nothing here", DataBlockSearch::NoStartMarker},
        {start + Utf16Le(u"k=v"), DataBlockSearch::NoEndMarker},
        {end + start, DataBlockSearch::NoEndMarker},
        {end + start + end, DataBlockSearch::Found},
    };
    for (const auto& [window, expected] : cases) {
        DataBlockPosition position;
        EXPECT_EQ(FindDataBlockIn(AsBytes(window), position), expected) << window.size();
    }
}

class DataBlockFile : public ::testing::Test {
protected:
    HRESULT Find(const std::string& content) {
        WriteFile(file, content);
        cptlib::platform::FileDescriptor fd;
        EXPECT_EQ(cptlib::platform::OpenFileForRead(fd, file), cptlib::kHrOk);
        payload = u"unset";
        offset = length = 12345;
        return FindDataBlock(fd, &payload, &offset, &length);
    }

    const std::string start = Utf16Le(u"##DATA##");
    const std::string end = Utf16Le(u"##ENDDATA##");
    TempDir dir;
    std::filesystem::path file = dir / "launcher";
    std::u16string payload;
    std::uint64_t offset = 0, length = 0;
};

TEST_F(DataBlockFile, FindsThePayloadInTheLast64KiB) {
    const std::string head(100000, 'x');
    const std::string body = Utf16Le(u"k=v&\u00e9=1");
    EXPECT_EQ(Find(head + start + body + end + "trailer"), cptlib::kHrOk);
    EXPECT_EQ(payload, u"k=v&\u00e9=1");
    EXPECT_EQ(offset, head.size() + start.size());
    EXPECT_EQ(length, body.size());

    // The first start marker counts; an odd-length payload keeps its whole code units.
    EXPECT_EQ(Find(head + start + "abc" + end + start + end), cptlib::kHrOk);
    EXPECT_EQ(payload, std::u16string(1, char16_t('a' | ('b' << 8))));
    EXPECT_EQ(length, 3u);
}

TEST_F(DataBlockFile, RejectsMissingMarkersShortFilesAndBlocksOutsideTheWindow) {
    const std::string body = Utf16Le(u"k=v");
    struct Case {
        const char* name;
        std::string content;
        HRESULT expected;
    };
    const Case cases[] = {
        {"no block", std::string(70000, 'x'), cptlib::HRESULT_NO_MORE_ITEMS},
        {"cut off before the end marker",
         std::string(70000, 'x') + start + body + end.substr(0, end.size() - 1),
         cptlib::HRESULT_INVALID_DATA},
        // The start marker begins 8 bytes before the window of the last 65536 bytes.
        {"start marker across the window",
         std::string(10000, 'x') + start + body + end +
             std::string(65536 - 8 - body.size() - end.size(), 'y'),
         cptlib::HRESULT_NO_MORE_ITEMS},
        {"block fully in the window",
         std::string(10000, 'x') + start + body + end +
             std::string(65536 - 16 - body.size() - end.size(), 'y'),
         cptlib::kHrOk},
        // Shorter than the window: positioning before the start fails.
        {"short file", start + body + end,
         cptlib::HResultFromWin32(cptlib::kErrorInvalidParameter)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Find(c.content), c.expected);
    }
}

} // namespace
