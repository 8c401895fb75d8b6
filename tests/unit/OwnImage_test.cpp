// The launcher's own file read through the descriptor it was opened with, never through its name.

#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/OwnImage.h"
#include "cptlib/platform/Process.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace cptlib::platform;
using testsupport::ScratchTest;
using testsupport::WriteFile;

std::string ReadAll(const FileDescriptor& file) {
    std::string text(64, '\0');
    std::size_t read = 0;
    EXPECT_EQ(ReadFileAt(file, 0, text.data(), text.size(), read), 0u);
    text.resize(read);
    return text;
}

TEST(OwnImage, IsTheRunningProgram) {
    SharedFile image;
    ASSERT_EQ(OpenRunningImage(image), cptlib::kHrOk);
    ASSERT_TRUE(image && *image);
    std::uint64_t size = 0;
    ASSERT_EQ(QueryFileSize(*image, size), cptlib::kHrOk);
    EXPECT_EQ(size, fs::file_size(GetModulePath()));
}

using ReopenedFile = ScratchTest;

TEST_F(ReopenedFile, IsTheOpenFileEvenAfterAnotherTookItsName) {
    WriteFile(folder_ / "launcher", "the first file");
    WriteFile(folder_ / "other", "another file");
    FileDescriptor first;
    ASSERT_EQ(OpenFileForRead(first, folder_ / "launcher"), cptlib::kHrOk);
    fs::rename(folder_ / "other", folder_ / "launcher");

    FileDescriptor again;
    ASSERT_EQ(ReopenFile(first, again), cptlib::kHrOk);
    first.reset();
    EXPECT_EQ(ReadAll(again), "the first file");
}

} // namespace
