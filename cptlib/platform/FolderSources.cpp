#include "cptlib/platform/FolderSources.h"

#include "cptlib/platform/Process.h"
#include "cptlib/platform/XdgFolders.h"

#include <cstdlib>

// The installer's folders as the FHS and the XDG conventions place them.
namespace cptlib::platform {

namespace {

using UserDirs = FolderSnapshot;

constexpr FolderSource kNone{};

constexpr FolderSource UserDir(const char* key, const char* belowHome) {
    return {FolderKind::UserDir, key, belowHome, nullptr};
}

constexpr FolderSource BaseDir(const char* variable, const char* belowHome,
                               const char* subfolder = nullptr) {
    return {FolderKind::BaseDir, variable, belowHome, subfolder};
}

constexpr FolderSource Fixed(const char* path) {
    return {FolderKind::Fixed, path, nullptr, nullptr};
}

// A user directory that the user has not configured takes the xdg-user-dirs default only when
// that folder exists: a name that points nowhere would send files to a folder the user never
// had. xdg-user-dirs itself resets removed folders the same way.
std::string ResolveUserDir(const FolderSource& source, bool create, const UserDirs& dirs) {
    if (const auto it = dirs.find(source.key); it != dirs.end())
        return it->second;
    const std::string home = GetHomeDirectory();
    if (home.empty())
        return {};
    std::string path = AddTrailingSlash(home) + source.belowHome;
    return create || IsDirectory(path) ? path : std::string();
}

std::string Resolve(const FolderSource& source, bool create, const UserDirs* dirs) {
    std::string path;
    switch (source.kind) {
    case FolderKind::None:
    case FolderKind::Special: // no numbered folders here
        return {};
    case FolderKind::TempPath:
        // The temporary folder is never created here, as the original call does not.
        return TempFolderPath(path) == 0 ? path : std::string();
    case FolderKind::UserDir:
        path = ResolveUserDir(source, create, dirs != nullptr ? *dirs : ReadUserDirs());
        break;
    case FolderKind::BaseDir:
        path = GetXdgBaseDirectory(source.key, source.belowHome);
        if (!path.empty() && source.subfolder != nullptr)
            path = AddTrailingSlash(path) + source.subfolder;
        break;
    case FolderKind::Home:
        path = GetHomeDirectory();
        break;
    case FolderKind::Fixed:
        path = source.key;
        break;
    }
    if (create && !path.empty() && !CreateFolderPath(path))
        return {};
    return AddTrailingSlash(std::move(path));
}

} // namespace

FolderSourceTable BuildFolderSourceTable(bool is32BitOn64Bit) {
    // Linux keeps no separate 64-bit program folders: the 64-bit rows name the same folders.
    const FolderSource programFiles = Fixed("/opt");
    const FolderSource commonFiles = Fixed("/usr/local/lib");
    const FolderSource programFiles64 = is32BitOn64Bit ? programFiles : kNone;
    const FolderSource commonFiles64 = is32BitOn64Bit ? commonFiles : kNone;
    const FolderSource documents = UserDir("DOCUMENTS", "Documents");
    const FolderSource pictures = UserDir("PICTURES", "Pictures");
    const FolderSource desktop = UserDir("DESKTOP", "Desktop");

    return {
        {"AdminToolsFolder", kNone},
        // Roaming data follows the user like settings do; local data stays on the machine.
        {"AppDataFolder", BaseDir("XDG_CONFIG_HOME", ".config")},
        {"CommonAppDataFolder", Fixed("/var/lib")},
        {"CommonFilesFolder", commonFiles},
        {"CommonFiles64Folder", commonFiles64},
        {"CommonFiles6432Folder", is32BitOn64Bit ? commonFiles64 : commonFiles},
        // There is no desktop shared by all users; the one the user sees is their own.
        {"DesktopFolder", desktop},
        {"FavoritesFolder", kNone},
        {"FontsFolder", Fixed("/usr/share/fonts")},
        {"LocalAppDataFolder", BaseDir("XDG_DATA_HOME", ".local/share")},
        {"MyPicturesFolder", pictures},
        {"PersonalFolder", documents},
        {"ProgramFilesFolder", programFiles},
        {"ProgramFiles64Folder", programFiles64},
        {"ProgramFiles6432Folder", is32BitOn64Bit ? programFiles64 : programFiles},
        {"ProgramMenuFolder", Fixed("/usr/share/applications")},
        {"SendToFolder", kNone},
        {"StartMenuFolder", Fixed("/usr/share/applications")},
        {"StartupFolder", Fixed("/etc/xdg/autostart")},
        {"System16Folder", kNone},
        {"System64Folder", kNone},
        {"SystemFolder", Fixed("/usr/bin")},
        {"TempFolder", {FolderKind::TempPath}},
        {"TemplateFolder", Fixed("/usr/share/templates")},
        {"WindowsFolder", kNone},
        {"WindowsVolume", kNone},
        {"WIX_DIR_ADMINTOOLS", kNone},
        {"WIX_DIR_ALTSTARTUP", BaseDir("XDG_CONFIG_HOME", ".config", "autostart")},
        {"WIX_DIR_CDBURN_AREA", kNone},
        {"WIX_DIR_COMMON_ADMINTOOLS", kNone},
        {"WIX_DIR_COMMON_ALTSTARTUP", Fixed("/etc/xdg/autostart")},
        {"WIX_DIR_COMMON_DOCUMENTS", UserDir("PUBLICSHARE", "Public")},
        {"WIX_DIR_COMMON_FAVORITES", kNone},
        {"WIX_DIR_COMMON_MUSIC", kNone},
        {"WIX_DIR_COMMON_PICTURES", kNone},
        {"WIX_DIR_COMMON_VIDEO", kNone},
        {"WIX_DIR_COOKIES", kNone},
        {"WIX_DIR_DESKTOP", desktop},
        {"WIX_DIR_HISTORY", kNone},
        {"WIX_DIR_INTERNET_CACHE", BaseDir("XDG_CACHE_HOME", ".cache")},
        {"WIX_DIR_MYMUSIC", UserDir("MUSIC", "Music")},
        {"WIX_DIR_MYPICTURES", pictures},
        {"WIX_DIR_MYVIDEO", UserDir("VIDEOS", "Videos")},
        {"WIX_DIR_NETHOOD", kNone},
        {"WIX_DIR_PERSONAL", documents},
        {"WIX_DIR_PRINTHOOD", kNone},
        {"WIX_DIR_PROFILE", {FolderKind::Home}},
        {"WIX_DIR_RECENT", kNone},
        {"WIX_DIR_RESOURCES", Fixed("/usr/share/themes")},
    };
}

FolderSnapshot ReadFolderSnapshot() {
    return ReadUserDirs();
}

std::string ResolveFolderSource(const FolderSource& source, bool create,
                                const FolderSnapshot* snapshot) {
    return Resolve(source, create, snapshot);
}

std::vector<std::string> FallbackTempFolders() {
    std::vector<std::string> folders;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && runtime[0] == '/')
        folders.emplace_back(runtime);
    const std::string cache = GetXdgBaseDirectory("XDG_CACHE_HOME", ".cache");
    if (!cache.empty())
        folders.push_back(cache);
    folders.emplace_back("/var/tmp");
    return folders;
}

} // namespace cptlib::platform
