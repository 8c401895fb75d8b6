#include "cptlib/platform/FolderSources.h"

#include "cptlib/platform/Process.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

#include <shlobj.h>

// The installer's folders are the system's own special folders here.
namespace cptlib::platform {

namespace {

constexpr FolderSource kNone{};

constexpr FolderSource Special(int csidl) {
    return {FolderKind::Special, nullptr, nullptr, nullptr, csidl};
}

constexpr FolderSource Variable(const char* name) {
    return {FolderKind::BaseDir, name, nullptr, nullptr};
}

std::string WithTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return Narrow(path);
}

std::wstring SpecialFolder(int csidl, bool create) {
    wchar_t buffer[MAX_PATH] = {};
    const int flags = csidl | (create ? CSIDL_FLAG_CREATE : 0);
    return SUCCEEDED(SHGetFolderPathW(nullptr, flags, nullptr, SHGFP_TYPE_CURRENT, buffer))
               ? std::wstring(buffer)
               : std::wstring();
}

std::wstring EnvironmentFolder(const char* name) {
    const std::wstring variable = Widen(name);
    const DWORD size = GetEnvironmentVariableW(variable.c_str(), nullptr, 0);
    if (size == 0)
        return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(variable.c_str(), value.data(), size);
    if (length == 0 || length >= size)
        return {};
    value.resize(length);
    return value;
}

} // namespace

// A 64-bit launcher runs on 64-bit Windows by definition: its 64-bit rows name the native
// folders, and the plain rows keep the 32-bit folders they name for a 32-bit process.
FolderSourceTable BuildFolderSourceTable(bool is32BitOn64Bit) {
    constexpr bool kNative64 = sizeof(void*) == 8;
    const bool has64 = is32BitOn64Bit || kNative64;
    const FolderSource programFiles =
        Special(kNative64 ? CSIDL_PROGRAM_FILESX86 : CSIDL_PROGRAM_FILES);
    const FolderSource commonFiles =
        Special(kNative64 ? CSIDL_PROGRAM_FILES_COMMONX86 : CSIDL_PROGRAM_FILES_COMMON);
    const FolderSource programFiles64 = has64 ? Variable("ProgramW6432") : kNone;
    const FolderSource commonFiles64 = has64 ? Variable("CommonProgramW6432") : kNone;

    return {
        {"AdminToolsFolder", Special(CSIDL_COMMON_ADMINTOOLS)},
        {"AppDataFolder", Special(CSIDL_APPDATA)},
        {"CommonAppDataFolder", Special(CSIDL_COMMON_APPDATA)},
        {"CommonFilesFolder", commonFiles},
        {"CommonFiles64Folder", commonFiles64},
        {"CommonFiles6432Folder", has64 ? commonFiles64 : commonFiles},
        {"DesktopFolder", Special(CSIDL_COMMON_DESKTOPDIRECTORY)},
        {"FavoritesFolder", Special(CSIDL_FAVORITES)},
        {"FontsFolder", Special(CSIDL_FONTS)},
        {"LocalAppDataFolder", Special(CSIDL_LOCAL_APPDATA)},
        {"MyPicturesFolder", Special(CSIDL_MYPICTURES)},
        {"PersonalFolder", Special(CSIDL_PERSONAL)},
        {"ProgramFilesFolder", programFiles},
        {"ProgramFiles64Folder", programFiles64},
        {"ProgramFiles6432Folder", has64 ? programFiles64 : programFiles},
        {"ProgramMenuFolder", Special(CSIDL_COMMON_PROGRAMS)},
        {"SendToFolder", Special(CSIDL_SENDTO)},
        {"StartMenuFolder", Special(CSIDL_COMMON_STARTMENU)},
        {"StartupFolder", Special(CSIDL_COMMON_STARTUP)},
        {"System16Folder", kNone},
        {"System64Folder", kNone},
        // The folder GetSystemDirectoryW names.
        {"SystemFolder", Special(CSIDL_SYSTEM)},
        {"TempFolder", {FolderKind::TempPath}},
        {"TemplateFolder", Special(CSIDL_COMMON_TEMPLATES)},
        {"WindowsFolder", Special(CSIDL_WINDOWS)},
        {"WindowsVolume", kNone},
        {"WIX_DIR_ADMINTOOLS", Special(CSIDL_ADMINTOOLS)},
        {"WIX_DIR_ALTSTARTUP", Special(CSIDL_ALTSTARTUP)},
        {"WIX_DIR_CDBURN_AREA", Special(CSIDL_CDBURN_AREA)},
        {"WIX_DIR_COMMON_ADMINTOOLS", Special(CSIDL_COMMON_ADMINTOOLS)},
        {"WIX_DIR_COMMON_ALTSTARTUP", Special(CSIDL_COMMON_ALTSTARTUP)},
        {"WIX_DIR_COMMON_DOCUMENTS", Special(CSIDL_COMMON_DOCUMENTS)},
        {"WIX_DIR_COMMON_FAVORITES", Special(CSIDL_COMMON_FAVORITES)},
        {"WIX_DIR_COMMON_MUSIC", Special(CSIDL_COMMON_MUSIC)},
        {"WIX_DIR_COMMON_PICTURES", Special(CSIDL_COMMON_PICTURES)},
        {"WIX_DIR_COMMON_VIDEO", Special(CSIDL_COMMON_VIDEO)},
        {"WIX_DIR_COOKIES", Special(CSIDL_COOKIES)},
        {"WIX_DIR_DESKTOP", Special(CSIDL_DESKTOP)},
        {"WIX_DIR_HISTORY", Special(CSIDL_HISTORY)},
        {"WIX_DIR_INTERNET_CACHE", Special(CSIDL_INTERNET_CACHE)},
        {"WIX_DIR_MYMUSIC", Special(CSIDL_MYMUSIC)},
        {"WIX_DIR_MYPICTURES", Special(CSIDL_MYPICTURES)},
        {"WIX_DIR_MYVIDEO", Special(CSIDL_MYVIDEO)},
        {"WIX_DIR_NETHOOD", Special(CSIDL_NETHOOD)},
        {"WIX_DIR_PERSONAL", Special(CSIDL_PERSONAL)},
        {"WIX_DIR_PRINTHOOD", Special(CSIDL_PRINTHOOD)},
        {"WIX_DIR_PROFILE", Special(CSIDL_PROFILE)},
        {"WIX_DIR_RECENT", Special(CSIDL_RECENT)},
        {"WIX_DIR_RESOURCES", Special(CSIDL_RESOURCES)},
    };
}

FolderSnapshot ReadFolderSnapshot() {
    return {};
}

std::string ResolveFolderSource(const FolderSource& source, bool create, const FolderSnapshot*) {
    std::wstring path;
    switch (source.kind) {
    case FolderKind::TempPath: {
        std::string temp;
        return TempFolderPath(temp) == 0 ? temp : std::string();
    }
    case FolderKind::Special:
        path = SpecialFolder(source.special, create);
        break;
    case FolderKind::BaseDir:
        path = EnvironmentFolder(source.key);
        if (create && !path.empty() && !CreateDirectoryW(path.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS)
            return {};
        break;
    case FolderKind::Fixed:
        path = Widen(source.key);
        break;
    default:
        return {};
    }
    return WithTrailingBackslash(std::move(path));
}

// The temporary folder is the user's own here; there is no further place to try.
std::vector<std::string> FallbackTempFolders() {
    return {};
}

} // namespace cptlib::platform
