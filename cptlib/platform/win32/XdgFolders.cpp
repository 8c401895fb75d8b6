#include "cptlib/platform/XdgFolders.h"

#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>

namespace cptlib::platform {

std::string GetHomeDirectory() {
    // The profile folder is the Windows home; the named folders come from the known-folder
    // rows, not from user-dirs files.
    PWSTR path = nullptr;
    std::string home;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Profile, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        home = Narrow(path);
    CoTaskMemFree(path);
    if (home.empty()) {
        wchar_t buffer[MAX_PATH];
        const DWORD n = GetEnvironmentVariableW(L"USERPROFILE", buffer, MAX_PATH);
        if (n > 0 && n < MAX_PATH)
            home = Narrow(buffer);
    }
    while (home.size() > 3 && (home.back() == '\\' || home.back() == '/'))
        home.pop_back();
    return home;
}

bool IsDirectory(const std::string& path) {
    if (path.empty())
        return false;
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolderPath(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(Widen(path)), ec);
    return IsDirectory(path);
}

} // namespace cptlib::platform
