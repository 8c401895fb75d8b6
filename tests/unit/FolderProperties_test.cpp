#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/Machine.h"
#include "cptlib/platform/XdgFolders.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <set>
#include <unistd.h>

namespace {

using namespace cptlib;
namespace fs = std::filesystem;

// A user with a home folder, XDG variables and a user-dirs.dirs of the usual forms.
class FolderPropertiesTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = MakeFolder("home");
        config = MakeFolder("config");
        MakeFolder("home/Pictures"); // exists, but the configuration disables it
        MakeFolder("home/Videos");   // not configured, the default exists
        env.Set("HOME", home);
        env.Set("XDG_CONFIG_HOME", config);
        env.Set("XDG_DATA_HOME", Path("data"));
        env.Set("XDG_CACHE_HOME", std::nullopt);
        env.Set("TMPDIR", MakeFolder("scratch"));
        testsupport::WriteFile(tmp / "config/user-dirs.dirs",
                               "# written by xdg-user-dirs-update\n"
                               "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                               "XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"\"\n"
                               "XDG_MUSIC_DIR=\"/srv/music/\"\n"
                               "XDG_PICTURES_DIR=\"$HOME/\"\n"
                               "XDG_PUBLICSHARE_DIR=\"Public\"\n");
    }

    std::string Path(const std::string& below) const { return (tmp / below).string(); }
    std::string MakeFolder(const std::string& below) const {
        fs::create_directories(tmp / below);
        return Path(below);
    }

    testsupport::TempDir tmp;
    testsupport::ScopedEnv env;
    std::string home;
    std::string config;
};

TEST_F(FolderPropertiesTest, EveryRowResolvesToItsLinuxFolder) {
    const bool wow = platform::Is32BitProcessOn64BitKernel();
    const std::string h = home + "/";
    const std::map<std::string, std::string> expected = {
        {"AdminToolsFolder", ""},
        {"AppDataFolder", config + "/"},
        {"CommonAppDataFolder", "/var/lib/"},
        {"CommonFilesFolder", "/usr/local/lib/"},
        {"CommonFiles64Folder", wow ? "/usr/local/lib/" : ""},
        {"CommonFiles6432Folder", "/usr/local/lib/"},
        {"DesktopFolder", h + "Schreibtisch/"},
        {"FavoritesFolder", ""},
        {"FontsFolder", "/usr/share/fonts/"},
        {"LocalAppDataFolder", Path("data") + "/"},
        {"MyPicturesFolder", ""},
        {"PersonalFolder", h + "My \"Docs\"/"},
        {"ProgramFilesFolder", "/opt/"},
        {"ProgramFiles64Folder", wow ? "/opt/" : ""},
        {"ProgramFiles6432Folder", "/opt/"},
        {"ProgramMenuFolder", "/usr/share/applications/"},
        {"SendToFolder", ""},
        {"StartMenuFolder", "/usr/share/applications/"},
        {"StartupFolder", "/etc/xdg/autostart/"},
        {"System16Folder", ""},
        {"System64Folder", ""},
        {"SystemFolder", "/usr/bin/"},
        {"TempFolder", Path("scratch") + "/"},
        {"TemplateFolder", "/usr/share/templates/"},
        {"WindowsFolder", ""},
        {"WindowsVolume", ""},
        {"WIX_DIR_ADMINTOOLS", ""},
        {"WIX_DIR_ALTSTARTUP", config + "/autostart/"},
        {"WIX_DIR_CDBURN_AREA", ""},
        {"WIX_DIR_COMMON_ADMINTOOLS", ""},
        {"WIX_DIR_COMMON_ALTSTARTUP", "/etc/xdg/autostart/"},
        {"WIX_DIR_COMMON_DOCUMENTS", ""},
        {"WIX_DIR_COMMON_FAVORITES", ""},
        {"WIX_DIR_COMMON_MUSIC", ""},
        {"WIX_DIR_COMMON_PICTURES", ""},
        {"WIX_DIR_COMMON_VIDEO", ""},
        {"WIX_DIR_COOKIES", ""},
        {"WIX_DIR_DESKTOP", h + "Schreibtisch/"},
        {"WIX_DIR_HISTORY", ""},
        {"WIX_DIR_INTERNET_CACHE", h + ".cache/"},
        {"WIX_DIR_MYMUSIC", "/srv/music/"},
        {"WIX_DIR_MYPICTURES", ""},
        {"WIX_DIR_MYVIDEO", h + "Videos/"},
        {"WIX_DIR_NETHOOD", ""},
        {"WIX_DIR_PERSONAL", h + "My \"Docs\"/"},
        {"WIX_DIR_PRINTHOOD", ""},
        {"WIX_DIR_PROFILE", h},
        {"WIX_DIR_RECENT", ""},
        {"WIX_DIR_RESOURCES", "/usr/share/themes/"},
    };
    ASSERT_EQ(expected.size(), 49u);

    for (const auto& [name, value] : expected)
        EXPECT_EQ(ResolveFolderProperty(name, false), value) << name;

    const PropertyMap properties = GetFolderProperties();
    EXPECT_EQ(properties, PropertyMap(expected.begin(), expected.end()));
    EXPECT_FALSE(fs::exists(Path("data"))) << "resolving must not create folders";
}

TEST_F(FolderPropertiesTest, UnknownAndMiscasedNamesAreEmpty) {
    EXPECT_EQ(ResolveFolderProperty("ExtractDir", false), "");
    EXPECT_EQ(ResolveFolderProperty("personalfolder", false), "");
    EXPECT_EQ(ResolveFolderProperty("", false), "");
    EXPECT_EQ(GetFolderProperties().count("personalfolder"), 0u);
}

TEST_F(FolderPropertiesTest, SixtyFourBitRowsFollowTheProcessKind) {
    struct Case {
        bool is32BitOn64Bit;
        const char* name;
        const char* expected;
    };
    const Case cases[] = {
        {false, "ProgramFiles64Folder", ""},
        {false, "ProgramFiles6432Folder", "/opt/"},
        {false, "CommonFiles64Folder", ""},
        {false, "CommonFiles6432Folder", "/usr/local/lib/"},
        {true, "ProgramFiles64Folder", "/opt/"},
        {true, "ProgramFiles6432Folder", "/opt/"},
        {true, "CommonFiles64Folder", "/usr/local/lib/"},
        {true, "CommonFiles6432Folder", "/usr/local/lib/"},
        {true, "ProgramFilesFolder", "/opt/"},
    };
    for (const auto& c : cases) {
        const FolderSourceTable table = BuildFolderPropertyTable(c.is32BitOn64Bit);
        EXPECT_EQ(table.size(), 49u);
        ASSERT_EQ(table.count(c.name), 1u) << c.name;
        EXPECT_EQ(ResolveFolderSource(table.at(c.name), false), c.expected)
            << c.name << " 32-on-64: " << c.is32BitOn64Bit;
    }
}

TEST_F(FolderPropertiesTest, FallsBackWhereTheEnvironmentIsUnusable) {
    // A relative XDG variable is ignored as the convention demands, so user-dirs.dirs is then
    // read from ~/.config; a TMPDIR that is no folder gives /tmp.
    env.Set("XDG_CONFIG_HOME", "relative/config");
    env.Set("XDG_DATA_HOME", "");
    env.Set("TMPDIR", Path("missing"));
    testsupport::WriteFile(tmp / "home/.config/user-dirs.dirs",
                           "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");

    EXPECT_EQ(ResolveFolderProperty("AppDataFolder", false), home + "/.config/");
    EXPECT_EQ(ResolveFolderProperty("LocalAppDataFolder", false), home + "/.local/share/");
    EXPECT_EQ(ResolveFolderProperty("PersonalFolder", false), home + "/Dokumente/");
    // Not configured, default folder missing: nothing is invented.
    EXPECT_EQ(ResolveFolderProperty("DesktopFolder", false), "");
    EXPECT_EQ(ResolveFolderProperty("TempFolder", false), "/tmp/");
}

TEST_F(FolderPropertiesTest, EmptyHomeFallsBackToTheAccountEntry) {
    env.Set("HOME", "");
    env.Set("XDG_CONFIG_HOME", std::nullopt);
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    const std::string accountHome = AddTrailingSlash(account->pw_dir);
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_PROFILE", false), accountHome);
    EXPECT_EQ(ResolveFolderProperty("AppDataFolder", false), accountHome + ".config/");
}

TEST_F(FolderPropertiesTest, CreateMakesTheFolderOrGivesEmpty) {
    // Unconfigured and missing: with create the default is made, as the folder call does.
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_MYVIDEO", false), home + "/Videos/");
    fs::remove(home + "/Videos");
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_MYVIDEO", false), "");
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_MYVIDEO", true), home + "/Videos/");
    EXPECT_TRUE(fs::is_directory(home + "/Videos"));

    EXPECT_EQ(ResolveFolderProperty("LocalAppDataFolder", true), Path("data") + "/");
    EXPECT_TRUE(fs::is_directory(Path("data")));

    // A folder that cannot be made (its parent is a file) gives the empty value.
    testsupport::WriteFile(tmp / "file", "x");
    env.Set("XDG_CACHE_HOME", Path("file") + "/cache");
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_INTERNET_CACHE", true), "");
    EXPECT_EQ(ResolveFolderProperty("WIX_DIR_INTERNET_CACHE", false), Path("file/cache/"));
}

TEST(ParseUserDirs, ReadsTheShellFormsItWrites) {
    struct Case {
        const char* line;
        const char* key; // nullptr: the line is skipped
        const char* value;
    };
    const Case cases[] = {
        {"XDG_DOCUMENTS_DIR=\"$HOME/Documents\"", "DOCUMENTS", "/home/u/Documents"},
        {"  XDG_MUSIC_DIR = \"/srv/music//\"  # trailing", "MUSIC", "/srv/music"},
        {"XDG_DESKTOP_DIR=\"$HOME/a\\\\b \\$c\"", "DESKTOP", "/home/u/a\\b $c"},
        {"XDG_VIDEOS_DIR=\"$HOME\"", "VIDEOS", ""},
        {"XDG_VIDEOS_DIR=\"/home/u/\"", "VIDEOS", ""},
        {"XDG_DOWNLOAD_DIR=\"/\"", "DOWNLOAD", "/"},
        {"XDG_DOCUMENTS_DIR=\"$HOMEWORK/x\"", nullptr, nullptr},
        {"XDG_DOCUMENTS_DIR=\"Documents\"", nullptr, nullptr},
        {"XDG_DOCUMENTS_DIR=$HOME/Documents", nullptr, nullptr},
        {"XDG_DOCUMENTS_DIR=\"$HOME/open", nullptr, nullptr},
        {"# XDG_DOCUMENTS_DIR=\"$HOME/x\"", nullptr, nullptr},
        {"XDG__DIR=\"/x\"", nullptr, nullptr},
        {"OTHER_DIR=\"/x\"", nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const auto dirs = platform::ParseUserDirs(c.line, "/home/u");
        if (c.key == nullptr) {
            EXPECT_TRUE(dirs.empty()) << c.line;
        } else {
            ASSERT_EQ(dirs.size(), 1u) << c.line;
            EXPECT_EQ(dirs.begin()->first, c.key) << c.line;
            EXPECT_EQ(dirs.begin()->second, c.value) << c.line;
        }
    }
}

TEST(ParseUserDirs, LaterLinesWinAndHomelessEntriesAreSkipped) {
    const std::string text =
        "XDG_MUSIC_DIR=\"/a\"\r\nXDG_MUSIC_DIR=\"/b\"\nXDG_DESKTOP_DIR=\"$HOME/D\"";
    EXPECT_EQ(platform::ParseUserDirs(text, "/h"),
              (std::map<std::string, std::string>{{"DESKTOP", "/h/D"}, {"MUSIC", "/b"}}));
    EXPECT_EQ(platform::ParseUserDirs(text, ""),
              (std::map<std::string, std::string>{{"MUSIC", "/b"}}));
}

TEST(Machine, SixtyFourBitKernelNames) {
    for (const char* name : {"x86_64", "aarch64", "ppc64le", "s390x", "riscv64", "mips64"})
        EXPECT_TRUE(platform::IsSixtyFourBitMachine(name)) << name;
    for (const char* name : {"i686", "i386", "armv7l", "armv8l", "s390", "ppc", ""})
        EXPECT_FALSE(platform::IsSixtyFourBitMachine(name)) << name;
    if (sizeof(void*) == 8) {
        EXPECT_FALSE(platform::Is32BitProcessOn64BitKernel());
    }
}

TEST(AddTrailingSlash, AddsOneOnlyToNonEmptyPaths) {
    EXPECT_EQ(AddTrailingSlash(""), "");
    EXPECT_EQ(AddTrailingSlash("/opt"), "/opt/");
    EXPECT_EQ(AddTrailingSlash("/opt/"), "/opt/");
    EXPECT_EQ(AddTrailingSlash("/"), "/");
}

} // namespace
