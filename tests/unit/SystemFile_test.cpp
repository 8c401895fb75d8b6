#include "cptlib/SystemError.h"
#include "cptlib/io/SystemFile.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include <fcntl.h>

#include <functional>
#include <limits>
#include <optional>

namespace {

using namespace cptlib;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Device = FileDeviceIn<char>;
using Base = FileDeviceBase<char>;

struct Expected {
    std::string message;
    std::error_code code;
    const char* api; // nullptr: no api function attached
    FileOp op;
    std::optional<std::int32_t> handle; // nullopt: no handle attached
    FileOpenMode mode;
    FileShareMode share;
    std::filesystem::path path;
};

void CheckFailure(const std::function<void()>& action, const Expected& expected) {
    try {
        action();
        ADD_FAILURE() << "no exception";
    } catch (const FileException& e) {
        EXPECT_EQ(std::string(e.what()).rfind(expected.message, 0), 0u) << e.what();
        EXPECT_EQ(e.code(), expected.code);
        const auto* code = boost::get_error_info<tag_errinfo_code>(e);
        ASSERT_NE(code, nullptr);
        EXPECT_EQ(*code, expected.code);
        const auto* api = boost::get_error_info<boost::errinfo_api_function>(e);
        if (expected.api == nullptr) {
            EXPECT_EQ(api, nullptr);
        } else {
            ASSERT_NE(api, nullptr);
            EXPECT_STREQ(*api, expected.api);
        }
        const auto* op = boost::get_error_info<tag_errinfo_file_op>(e);
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(*op, expected.op);
        const auto* handle = boost::get_error_info<tag_errinfo_handle>(e);
        if (!expected.handle) {
            EXPECT_EQ(handle, nullptr);
        } else {
            ASSERT_NE(handle, nullptr);
            EXPECT_EQ(*handle, *expected.handle);
        }
        const auto* mode = boost::get_error_info<tag_errinfo_openmode>(e);
        ASSERT_NE(mode, nullptr);
        EXPECT_EQ(*mode, expected.mode);
        const auto* share = boost::get_error_info<tag_errinfo_sharemode>(e);
        ASSERT_NE(share, nullptr);
        EXPECT_EQ(*share, expected.share);
        const auto* path = boost::get_error_info<tag_errinfo_path>(e);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(*path, expected.path);
        // The throw is located in the device's own source.
        const auto* file = boost::get_error_info<boost::throw_file>(e);
        ASSERT_NE(file, nullptr);
        EXPECT_NE(std::string(*file).find("cptlib/io/SystemFile.cpp"), std::string::npos);
        EXPECT_NE(boost::get_error_info<boost::throw_function>(e), nullptr);
    }
}

TEST(FileDevice, EveryFailureCarriesItsCodeOperationAndFileState) {
    TempDir dir;
    const auto existing = dir / "data.bin";
    const auto missing = dir / "missing.bin";
    WriteFile(existing, "0123456789");
    const std::error_code invalid = std::make_error_code(std::errc::invalid_argument);
    const auto in = FileOpenMode::In;
    const auto read = FileShareMode::Read;

    // An open device whose state the failures below report.
    Device open(existing, in, read | FileShareMode::Write);
    const std::int32_t fd = open.handle();
    ASSERT_GE(fd, 0);
    Device writeOnlyReader;
    // The base's open leaves In out, which only a derived device's own open adds.
    writeOnlyReader.Base::open(existing, FileOpenMode::Out, FileShareMode::None);

    struct Case {
        const char* name;
        std::function<void()> action;
        Expected expected;
    };
    char buffer[16];
    const Case cases[] = {
        {"truncate read-only",
         [&] { Base().open(existing, in | FileOpenMode::Trunc, read); },
         {"Cannot truncate file that was opened in read-only mode", invalid, nullptr, FileOp::Open,
          std::nullopt, in | FileOpenMode::Trunc, read, existing}},
        // The check comes before any system call: the file need not exist.
        {"append read-only",
         [&] { Device().open(missing, FileOpenMode::Ate, read); },
         {"Cannot append to file that was opened in read-only mode", invalid, nullptr, FileOp::Open,
          std::nullopt, in | FileOpenMode::Ate, read, missing}},
        {"App read-only",
         [&] { Base().open(missing, FileOpenMode::App, FileShareMode::None); },
         {"Cannot append to file that was opened in read-only mode", invalid, nullptr, FileOp::Open,
          std::nullopt, FileOpenMode::App, FileShareMode::None, missing}},
        {"open missing",
         [&] { Device().open(missing, in, read); },
         {"Could not open file", MakeWin32Error(kErrorFileNotFound), "CreateFile", FileOp::Open,
          std::nullopt, in, read, missing}},
        {"open folder",
         [&] { Device().open(dir.path(), in, read); },
         {"Could not open file", MakeWin32Error(kErrorAccessDenied), "CreateFile", FileOp::Open,
          std::nullopt, in, read, dir.path()}},
        {"seek closed",
         [&] { Device().seek(0, std::ios_base::beg); },
         {"Could not seek in file",
          MakeWin32Error(kErrorInvalidHandle),
          "SetFilePointerEx",
          FileOp::Seek,
          -1,
          FileOpenMode::None,
          FileShareMode::None,
          {}}},
        {"seek before start",
         [&] { open.seek(-1, std::ios_base::beg); },
         {"Could not seek in file", MakeWin32Error(kErrorInvalidParameter), "SetFilePointerEx",
          FileOp::Seek, fd, in, read | FileShareMode::Write, existing}},
        {"flush closed",
         [&] { Device().flush(); },
         {"Could not flush file",
          MakeWin32Error(kErrorInvalidHandle),
          "FlushFileBuffers",
          FileOp::Flush,
          -1,
          FileOpenMode::None,
          FileShareMode::None,
          {}}},
        {"read closed",
         [&] { Device().read(buffer, 1); },
         {"cannot read from file that was opened in write-only mode",
          invalid,
          nullptr,
          FileOp::Read,
          -1,
          FileOpenMode::None,
          FileShareMode::None,
          {}}},
        {"read write-only",
         [&] { writeOnlyReader.read(buffer, 1); },
         {"cannot read from file that was opened in write-only mode", invalid, nullptr,
          FileOp::Read, writeOnlyReader.handle(), FileOpenMode::Out, FileShareMode::None,
          existing}},
        {"read 4 GiB",
         [&] { open.read(buffer, std::streamsize{1} << 32); },
         {"cannot read more than 4 GiB at once", invalid, nullptr, FileOp::Read, fd, in,
          read | FileShareMode::Write, existing}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CheckFailure(c.action, c.expected);
    }

    // A read the system refuses: the process's own memory at address 0 is not mapped.
    Device memory("/proc/self/mem");
    CheckFailure([&] { memory.read(buffer, 1); },
                 {"Could not read file", MakeWin32Error(Win32FromErrno(EIO)), "ReadFile",
                  FileOp::Read, memory.handle(), in, read, "/proc/self/mem"});

    // Failed seeks and reads leave the device as it was.
    EXPECT_EQ(open.handle(), fd);
    EXPECT_EQ(open.read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
}

TEST(FileDevice, OpenModesPositionAndCreate) {
    TempDir dir;
    const auto file = dir / "f.txt";
    WriteFile(file, "hello");

    Base base;
    // Out with Ate opens the existing file at its end; without Trunc nothing is lost.
    EXPECT_EQ(base.open(file, FileOpenMode::Out | FileOpenMode::Ate, FileShareMode::None),
              std::streampos(5));
    EXPECT_EQ(base.seek(0, std::ios_base::cur), std::streampos(5));
    EXPECT_EQ(ReadFile(file), "hello");
    // A missing file is created.
    const auto created = dir / "new.txt";
    EXPECT_EQ(base.open(created, FileOpenMode::Out | FileOpenMode::Ate, FileShareMode::None),
              std::streampos(0));
    EXPECT_TRUE(std::filesystem::exists(created));
    EXPECT_EQ(base.path(), created);
    EXPECT_TRUE(base.flush());
    // Trunc empties it.
    base.open(file, FileOpenMode::Out | FileOpenMode::Trunc, FileShareMode::None);
    EXPECT_EQ(std::filesystem::file_size(file), 0u);

    // A failed open leaves the device closed, not on its previous file.
    EXPECT_THROW(base.open(dir / "missing", FileOpenMode::In, FileShareMode::Read), FileException);
    EXPECT_FALSE(base.is_open());
    EXPECT_EQ(base.handle(), -1);
    EXPECT_EQ(base.path(), std::filesystem::path());
    EXPECT_EQ(base.mode(), FileOpenMode::None);
}

TEST(FileDevice, ReadsSeeksAndSharesTheHandleBetweenCopies) {
    TempDir dir;
    const auto file = dir / "f.bin";
    WriteFile(file, "abcdefgh");
    Device device(file, FileOpenMode::None, FileShareMode::Read);
    // Its own open adds In.
    EXPECT_EQ(device.mode(), FileOpenMode::In);
    char buffer[16];
    EXPECT_EQ(device.seek(-3, std::ios_base::end), std::streampos(5));
    EXPECT_EQ(device.read(buffer, 16), 3);
    EXPECT_EQ(std::string(buffer, 3), "fgh");
    EXPECT_EQ(device.read(buffer, 0), 0);
    EXPECT_EQ(device.read(buffer, 16), 0);
    EXPECT_EQ(device.seek(2, static_cast<std::ios_base::seekdir>(7)), std::streampos(2));

    const int fd = device.handle();
    {
        Device copy = device;
        device.close();
        EXPECT_FALSE(device.is_open());
        // The copy still reads through the shared handle.
        EXPECT_EQ(copy.handle(), fd);
        EXPECT_EQ(copy.read(buffer, 2), 2);
        EXPECT_EQ(std::string(buffer, 2), "cd");
    }
    // The last owner closed it.
    EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
}

TEST(FileDevice, StreamReadsAFileAndPassesFailuresOn) {
    TempDir dir;
    const auto file = dir / "f.bin";
    std::string content(10000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7);
    WriteFile(file, content);

    FileInStream stream(file, FileOpenMode::In, FileShareMode::Read);
    std::string read(content.size(), '\0');
    stream.read(read.data(), static_cast<std::streamsize>(read.size()));
    EXPECT_EQ(read, content);
    stream.seekg(9000);
    char tail[2000];
    stream.read(tail, sizeof tail);
    EXPECT_EQ(stream.gcount(), 1000);
    EXPECT_EQ(std::string(tail, 1000), content.substr(9000));

    EXPECT_THROW(FileInStream(dir / "missing", FileOpenMode::In, FileShareMode::Read),
                 FileException);
    FileInStream memory(std::filesystem::path("/proc/self/mem"), FileOpenMode::In,
                        FileShareMode::Read);
    memory.exceptions(std::ios_base::badbit);
    EXPECT_THROW(memory.read(tail, 1), FileException);
}

TEST(StdioFileA, WritesLineFeedsAsCarriageReturnLineFeed) {
    TempDir dir;
    const auto file = dir / "values.dat";
    WriteFile(file, "old content that is longer");
    {
        CStdioFileA out(file);
        out.WriteString("a=1\nb=");
        out.WriteString(std::string_view("\xc3\xa9\n\n"));
        out.Close();
        out.Close();
    }
    EXPECT_EQ(ReadFile(file), "a=1\r\nb=\xc3\xa9\r\n\r\n");

    CStdioFileA out(file);
    EXPECT_THROW(out.WriteString(static_cast<const char*>(nullptr)), std::invalid_argument);
}

TEST(StdioFileA, FailuresAreFileExceptions) {
    TempDir dir;
    struct Case {
        const char* name;
        std::size_t size;
    };
    // A short text fails when it is written out at closing, a long one while it is written.
    for (const Case c : {Case{"buffered", 10}, Case{"direct", 100000}}) {
        SCOPED_TRACE(c.name);
        try {
            CStdioFileA out("/dev/full");
            out.WriteString(std::string(c.size, 'x'));
            out.Close();
            ADD_FAILURE() << "no exception";
        } catch (const FileException& e) {
            EXPECT_EQ(e.code(), MakeWin32Error(kErrorDiskFull));
            const auto* path = boost::get_error_info<tag_errinfo_path>(e);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(*path, "/dev/full");
            const auto* op = boost::get_error_info<tag_errinfo_file_op>(e);
            ASSERT_NE(op, nullptr);
            EXPECT_EQ(*op, FileOp::Write);
        }
    }

    try {
        CStdioFileA out(dir / "no" / "such" / "folder.txt");
        ADD_FAILURE() << "no exception";
    } catch (const FileException& e) {
        EXPECT_EQ(std::string(e.what()).rfind("Could not open file", 0), 0u);
        EXPECT_EQ(e.code(), MakeWin32Error(kErrorFileNotFound));
    }
}

} // namespace
