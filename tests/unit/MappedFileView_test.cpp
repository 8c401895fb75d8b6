#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace cptlib;
using namespace cptlib::platform;

TEST(RetryOnSharingViolation, RetriesOnlySharingViolationsUpToFiveAttempts) {
    const HRESULT sharing = HRESULT_SHARING_VIOLATION;
    const HRESULT denied = HResultFromWin32(kErrorAccessDenied);
    struct Case {
        std::vector<HRESULT> results; // of the attempts in order
        int attempts;
        HRESULT expected;
    };
    const Case cases[] = {
        {{kHrOk}, 1, kHrOk},
        {{HResultFromWin32(kErrorFileNotFound)}, 1, HResultFromWin32(kErrorFileNotFound)},
        {{sharing, sharing, kHrOk}, 3, kHrOk},
        {{sharing, denied, kHrOk}, 2, denied},
        {{sharing, sharing, sharing, sharing, sharing, kHrOk}, 5, sharing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attempts);
        int attempts = 0, pauses = 0;
        const HRESULT hr = RetryOnSharingViolation(
            [&] {
                // every pause comes before a further attempt
                EXPECT_EQ(pauses, attempts);
                return c.results[static_cast<std::size_t>(attempts++)];
            },
            [&] { ++pauses; });
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(attempts, c.attempts);
        EXPECT_EQ(pauses, c.attempts - 1);
    }
}

class FileTest : public testsupport::ScratchTest {
protected:
    void SetUp() override {
        path_ = folder_ / "data";
        std::string data(10000, '\0');
        for (std::size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i % 251);
        testsupport::WriteFile(path_, data);
    }

    static std::uint8_t ByteAt(std::uint64_t offset) {
        return static_cast<std::uint8_t>(offset % 251);
    }

    std::filesystem::path path_;
};

TEST_F(FileTest, OpenReportsSystemErrorsAsHresults) {
    FileDescriptor file;
    EXPECT_EQ(OpenFileForRead(file, path_), kHrOk);
    EXPECT_TRUE(file);
    std::uint64_t size = 0;
    EXPECT_EQ(QueryFileSize(file, size), kHrOk);
    EXPECT_EQ(size, 10000u);

    FileDescriptor other;
    EXPECT_EQ(OpenFileForRead(other, folder_ / "absent"), HResultFromWin32(kErrorFileNotFound));
    EXPECT_FALSE(other);
    EXPECT_EQ(OpenFileForRead(other, folder_), HResultFromWin32(kErrorAccessDenied));
    EXPECT_FALSE(other);
    EXPECT_EQ(OpenFileForRead(other, path_, FileAccess::ReadWrite, FileShare::None,
                              CreationDisposition::CreateNew),
              HResultFromWin32(kErrorFileExists));
    EXPECT_EQ(QueryFileSize(folder_ / "absent", size), HResultFromWin32(kErrorFileNotFound));
}

TEST_F(FileTest, MapsTheRequestedRangeAtAnyOffset) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, path_), kHrOk);
    struct Case {
        std::uint32_t requested;
        std::uint64_t offset;
        std::uint32_t viewSize;
    };
    const Case cases[] = {
        {10000, 0, 10000}, {100, 5003, 100}, {0, 0, 10000}, {0, 4097, 10000 - 4097}, {1, 9999, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.requested << "@" << c.offset);
        MappedFileView view;
        ASSERT_EQ(view.Map(file, c.requested, c.offset), kHrOk);
        ASSERT_EQ(view.size(), c.viewSize);
        EXPECT_EQ(view.offset(), c.offset);
        EXPECT_EQ(view.data()[0], ByteAt(c.offset));
        EXPECT_EQ(view.data()[view.size() - 1], ByteAt(c.offset + view.size() - 1));
    }
}

TEST_F(FileTest, ReadOnlyMappingRefusesBytesPastTheEnd) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, path_), kHrOk);
    const HRESULT eof = HResultFromWin32(kErrorHandleEof);
    MappedFileView view;
    EXPECT_EQ(view.Map(file, 10001), eof);
    EXPECT_EQ(view.Map(file, 100, 9950), eof);
    EXPECT_EQ(view.Map(file, 0, 10000), eof); // nothing left behind the offset
    EXPECT_EQ(view.Map(file, 0, 20000), eof);
    EXPECT_FALSE(view.IsMapped());
    std::uint64_t size = 0;
    EXPECT_EQ(QueryFileSize(path_, size), kHrOk);
    EXPECT_EQ(size, 10000u);
}

TEST_F(FileTest, WritableMappingGrowsTheFileAndWritesThrough) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, path_, FileAccess::ReadWrite), kHrOk);
    {
        MappedFileView view;
        ASSERT_EQ(view.Map(file, 12000, 0, PageProtection::ReadWrite, ViewAccess::Write), kHrOk);
        view.data()[11999] = 0xAB;
        MappedFileView moved = std::move(view);
        EXPECT_FALSE(view.IsMapped());
        moved.data()[0] = 0xCD;
    }
    const std::string bytes = testsupport::ReadFile(path_);
    ASSERT_EQ(bytes.size(), 12000u);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[0]), 0xCD);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[10000]), 0);
    EXPECT_EQ(static_cast<std::uint8_t>(bytes[11999]), 0xAB);
}

TEST_F(FileTest, WriteViewOfAReadOnlyMappingIsRefused) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, path_), kHrOk);
    MappedFileView view;
    EXPECT_EQ(view.Map(file, 100, 0, PageProtection::ReadOnly, ViewAccess::Write),
              HResultFromWin32(kErrorAccessDenied));
}

} // namespace
