// Files and views of files through the Win32 calls.

#include "cptlib/Exceptions.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace cptlib;
using namespace cptlib::platform;

class WindowsFiles : public testsupport::ScratchTest {
protected:
    // A name with non-Latin characters, so that the path reaches CreateFileW intact.
    std::filesystem::path file_ = folder_ / PathFromUtf8("d\xc3\xa4t\xe6\x97\xa5.bin");
    // Longer than the 64 KiB allocation granularity, so that views start inside a block.
    std::string content_ = testsupport::IncompressibleBytes(200000);

    void SetUp() override { testsupport::WriteFile(file_, content_); }
};

TEST_F(WindowsFiles, OpeningRefusesFoldersAndNonFilesAndReportsMissingFiles) {
    FileDescriptor file;
    EXPECT_EQ(OpenFileForRead(file, folder_), HResultFromWin32(kErrorAccessDenied));
    EXPECT_EQ(OpenRegularFileForRead(file, folder_), HResultFromWin32(kErrorAccessDenied));
    EXPECT_EQ(OpenFileForRead(file, folder_ / "missing"), HResultFromWin32(kErrorFileNotFound));
    EXPECT_EQ(OpenRegularFileForRead(file, L"NUL"), HRESULT_INVALID_DATA);
    EXPECT_FALSE(file);

    ASSERT_EQ(OpenRegularFileForRead(file, file_), kHrOk);
    std::uint64_t size = 0;
    EXPECT_EQ(QueryFileSize(file, size), kHrOk);
    EXPECT_EQ(size, content_.size());
    EXPECT_EQ(QueryFileSize(file_, size), kHrOk);
    EXPECT_EQ(size, content_.size());
    bool isFolder = true;
    EXPECT_EQ(QueryIsFolder(file_, isFolder), kErrorSuccess);
    EXPECT_FALSE(isFolder);
    EXPECT_EQ(QueryIsFolder(folder_, isFolder), kErrorSuccess);
    EXPECT_TRUE(isFolder);
}

TEST_F(WindowsFiles, ReadOnlyViewsCopyTheBytesAtAnyOffsetAndRefuseToReachPastTheEnd) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, file_), kHrOk);
    struct Case {
        std::uint32_t size;
        std::uint64_t offset;
        HRESULT expected;
    };
    const Case cases[] = {
        {1000, 70001, kHrOk},
        {0, 131073, kHrOk}, // to the end
        {static_cast<std::uint32_t>(200000), 0, kHrOk},
        {1, 200000, HResultFromWin32(kErrorHandleEof)},
        {200001, 0, HResultFromWin32(kErrorHandleEof)},
        {100, 199950, HResultFromWin32(kErrorHandleEof)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.offset);
        MappedFileView view;
        EXPECT_EQ(view.Map(file, c.size, c.offset), c.expected);
        if (c.expected != kHrOk) {
            EXPECT_FALSE(view.IsMapped());
            continue;
        }
        const std::size_t size = c.size != 0 ? c.size : content_.size() - c.offset;
        ASSERT_EQ(view.size(), size);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(view.data()), size),
                  content_.substr(c.offset, size));
    }
}

TEST_F(WindowsFiles, AWritableViewGrowsTheFileAndItsBytesReachTheFile) {
    {
        FileDescriptor file;
        ASSERT_EQ(OpenFileForRead(file, file_, FileAccess::ReadWrite), kHrOk);
        MappedFileView view;
        ASSERT_EQ(view.Map(file, 300000, 0, PageProtection::ReadWrite, ViewAccess::Write), kHrOk);
        std::uint64_t size = 0;
        EXPECT_EQ(QueryFileSize(file, size), kHrOk);
        EXPECT_EQ(size, 300000u);
        view.data()[250000] = 'x';
        view.data()[70000] = 'y';

        // A copy-on-write view changes nothing in the file.
        MappedFileView copy;
        ASSERT_EQ(copy.Map(file, 10, 5, PageProtection::WriteCopy, ViewAccess::Copy), kHrOk);
        copy.data()[0] = '!';
    }
    const std::string bytes = testsupport::ReadFile(file_);
    ASSERT_EQ(bytes.size(), 300000u);
    EXPECT_EQ(bytes[250000], 'x');
    EXPECT_EQ(bytes[70000], 'y');
    EXPECT_EQ(bytes[5], content_[5]);
    EXPECT_EQ(bytes.substr(0, 70000), content_.substr(0, 70000));
}

TEST_F(WindowsFiles, AWriteViewOfAReadOnlyMappingIsRefused) {
    FileDescriptor file;
    ASSERT_EQ(OpenFileForRead(file, file_), kHrOk);
    MappedFileView view;
    EXPECT_EQ(view.Map(file, 10, 0, PageProtection::ReadOnly, ViewAccess::Write),
              HResultFromWin32(kErrorAccessDenied));
    EXPECT_FALSE(view.IsMapped());
}

} // namespace
