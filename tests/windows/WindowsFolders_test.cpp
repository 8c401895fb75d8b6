// The installer's folder properties and the temporary folder as Windows names them.

#include "cptlib/Exceptions.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/FolderSources.h"
#include "cptlib/platform/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <stdlib.h>

namespace {

using namespace cptlib;
namespace fs = std::filesystem;

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool IsFolder(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(PathFromUtf8(path), ec);
}

TEST(WindowsFolders, TheRowsNameExistingAbsoluteFoldersWithATrailingBackslash) {
    const PropertyMap properties = GetFolderProperties();
    EXPECT_EQ(properties.size(), 49u);
    // Folders every Wine prefix has.
    for (const char* name :
         {"AppDataFolder", "CommonAppDataFolder", "CommonFilesFolder", "FontsFolder",
          "LocalAppDataFolder", "PersonalFolder", "ProgramFilesFolder", "ProgramFiles64Folder",
          "SystemFolder", "TempFolder", "WindowsFolder", "WIX_DIR_PROFILE"}) {
        SCOPED_TRACE(name);
        const std::string& path = properties.at(name);
        EXPECT_TRUE(PathFromUtf8(path).is_absolute()) << path;
        EXPECT_TRUE(EndsWith(path, "\\")) << path;
        EXPECT_FALSE(EndsWith(path, "\\\\")) << path;
        EXPECT_TRUE(IsFolder(path)) << path;
        EXPECT_EQ(ResolveFolderProperty(name, false), path);
    }
    for (const char* name : {"System16Folder", "System64Folder", "WindowsVolume"})
        EXPECT_EQ(properties.at(name), "") << name;
    EXPECT_EQ(ResolveFolderProperty("personalfolder", false), "");
}

// A 64-bit process sees the native folders under the plain names; the rows keep the meaning
// they have for a 32-bit launcher.
TEST(WindowsFolders, ThePlainProgramRowsNameThe32BitFoldersAndThe64BitRowsTheNativeOnes) {
    const PropertyMap p = GetFolderProperties();
    EXPECT_TRUE(EndsWith(p.at("ProgramFilesFolder"), "\\Program Files (x86)\\"))
        << p.at("ProgramFilesFolder");
    EXPECT_TRUE(EndsWith(p.at("ProgramFiles64Folder"), "\\Program Files\\"))
        << p.at("ProgramFiles64Folder");
    EXPECT_EQ(p.at("ProgramFiles6432Folder"), p.at("ProgramFiles64Folder"));
    EXPECT_TRUE(EndsWith(p.at("CommonFilesFolder"), "\\Program Files (x86)\\Common Files\\"))
        << p.at("CommonFilesFolder");
    EXPECT_EQ(p.at("CommonFiles6432Folder"), p.at("CommonFiles64Folder"));
    EXPECT_NE(p.at("CommonFiles64Folder"), p.at("CommonFilesFolder"));
    EXPECT_TRUE(EndsWith(p.at("SystemFolder"), "\\system32\\") ||
                EndsWith(p.at("SystemFolder"), "\\System32\\"))
        << p.at("SystemFolder");
    // The user's folders are below the profile.
    const std::string profile = p.at("WIX_DIR_PROFILE");
    EXPECT_EQ(p.at("AppDataFolder").compare(0, profile.size(), profile), 0)
        << p.at("AppDataFolder");
}

TEST(WindowsFolders, TheTemporaryFolderIsTheLongNameOfTmpAndHasNoFallbacks) {
    std::string temp;
    ASSERT_EQ(platform::TempFolderPath(temp), 0u);
    EXPECT_TRUE(IsFolder(temp)) << temp;
    EXPECT_TRUE(EndsWith(temp, "\\")) << temp;
    // GetTempPathW may give 8.3 names; the folder is named in its long form.
    EXPECT_EQ(temp.find('~'), std::string::npos) << temp;
    EXPECT_EQ(ResolveFolderProperty("TempFolder", false), temp);
    EXPECT_TRUE(platform::FallbackTempFolders().empty());
}

TEST(WindowsFolders, AMissingEnvironmentFolderIsEmptyAndCreateMakesIt) {
    const auto table = BuildFolderPropertyTable(false);
    const FolderSource source = table.at("ProgramFiles64Folder");
    ASSERT_EQ(source.kind, FolderKind::BaseDir);
    const fs::path made = fs::temp_directory_path() / "sfx-folder-source-\xc3\xa4\xe6\x97\xa5";
    std::error_code ec;
    fs::remove(made, ec);
    const std::string old = ResolveFolderSource(source, false);
    ASSERT_FALSE(old.empty());
    ASSERT_EQ(_wputenv_s(L"ProgramW6432", made.wstring().c_str()), 0);
    EXPECT_EQ(ResolveFolderSource(source, false), Utf8FromPath(made) + "\\");
    EXPECT_FALSE(fs::exists(made));
    EXPECT_EQ(ResolveFolderSource(source, true), Utf8FromPath(made) + "\\");
    EXPECT_TRUE(fs::is_directory(made));
    _wputenv_s(L"ProgramW6432", L"");
    EXPECT_EQ(ResolveFolderSource(source, false), "");
    const std::wstring restore = PathFromUtf8(old.substr(0, old.size() - 1)).wstring();
    _wputenv_s(L"ProgramW6432", restore.c_str());
    fs::remove(made, ec);
}

} // namespace
