// Names outside the ANSI code page survive the way from UTF-8 to the file system and back.

#include "cptlib/Exceptions.h"
#include "cptlib/Utf.h"
#include "cptlib/io/SystemFile.h"
#include "cptlib/platform/StdioFile.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace {

namespace fs = std::filesystem;

const char* const kNames[] = {
    "\xC3\xA4\xE6\x97\xA5.txt",                              // ä日.txt
    "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xAC\xCE\xB4\xCE\xB1",      // Ελλάδα
    "\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB \xF0\x9F\x93\x81.log", // файл and a character beyond the BMP
};

class Utf8Path : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("sfx-utf8-" + std::to_string(GetCurrentProcessId()));
        fs::remove_all(folder);
        ASSERT_TRUE(fs::create_directory(folder));
    }
    void TearDown() override { fs::remove_all(folder); }

    // The name as the system's wide API spells it.
    static std::wstring Wide(const std::string& utf8) {
        const auto utf16 = cptlib::Utf8ToUtf16(utf8);
        return utf16 ? std::wstring(utf16->begin(), utf16->end()) : std::wstring();
    }

    fs::path folder;
};

TEST_F(Utf8Path, NamesReachTheWideApiAndComeBack) {
    for (const char* name : kNames) {
        SCOPED_TRACE(name);
        const fs::path path = folder / cptlib::PathFromUtf8(name);
        EXPECT_EQ(path.filename().wstring(), Wide(name));
        EXPECT_EQ(cptlib::Utf8FromPath(path.filename()), name);

        std::FILE* file = cptlib::platform::OpenStdioFile(path, "wb");
        ASSERT_NE(file, nullptr);
        std::fputs(name, file);
        std::fclose(file);
        // The system sees the very name, not its ANSI rendering.
        const std::wstring wide = folder.wstring() + L"\\" + Wide(name);
        EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
        std::ifstream in(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), name);
    }
    std::set<std::string> listed;
    for (const auto& entry : fs::directory_iterator(folder))
        listed.insert(cptlib::Utf8FromPath(entry.path().filename()));
    EXPECT_EQ(listed, std::set<std::string>(std::begin(kNames), std::end(kNames)));
}

TEST_F(Utf8Path, ExclusiveCreationRefusesAnExistingFile) {
    const fs::path path = folder / cptlib::PathFromUtf8(kNames[0]);
    std::FILE* first = cptlib::platform::OpenStdioFile(path, "wbx");
    ASSERT_NE(first, nullptr);
    std::fclose(first);
    errno = 0;
    EXPECT_EQ(cptlib::platform::OpenStdioFile(path, "wbx"), nullptr);
    EXPECT_EQ(errno, EEXIST);
}

TEST_F(Utf8Path, TextFileOfTheCoreWritesUnderANonLatinName) {
    const fs::path path = folder / cptlib::PathFromUtf8(kNames[2]);
    cptlib::CStdioFileA file(path);
    file.WriteString("line\n");
    file.Close();
    std::ifstream in(fs::path(folder.wstring() + L"\\" + Wide(kNames[2])), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "line\r\n");
}

} // namespace
