#include "cptlib/platform/ProgramSearch.h"

#include "cptlib/platform/Process.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

namespace cptlib::platform {

namespace {

bool IsAbsoluteFolder(std::string_view folder) {
    return (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) ||
           (folder.size() >= 2 && folder[0] == '\\' && folder[1] == '\\');
}

bool IsRegularFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// `name` in `folder`, and with ".exe" when it has no extension of its own.
std::string FindIn(std::string_view folder, std::string_view name) {
    std::string candidate(folder);
    if (candidate.back() != '\\' && candidate.back() != '/')
        candidate += '\\';
    candidate += name;
    if (IsRegularFile(candidate))
        return candidate;
    if (name.find('.') == std::string_view::npos && IsRegularFile(candidate + ".exe"))
        return candidate + ".exe";
    return {};
}

std::string SystemFolder() {
    wchar_t buffer[MAX_PATH + 1];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? std::string() : Narrow({buffer, length});
}

} // namespace

std::string FindProgram(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find_first_of("/\\:") != std::string_view::npos)
        return {};
    for (;;) {
        const auto separator = searchPath.find(';');
        std::string_view folder = searchPath.substr(0, separator);
        // PATH may quote a folder with a ";" in its name.
        if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"')
            folder = folder.substr(1, folder.size() - 2);
        if (IsAbsoluteFolder(folder))
            if (std::string found = FindIn(folder, name); !found.empty())
                return found;
        if (separator == std::string_view::npos)
            return {};
        searchPath.remove_prefix(separator + 1);
    }
}

// The system folder comes first, as the system's own search has it after the program's folder
// and the current one, which are never searched: a file planted there must not be started.
std::string FindProgram(std::string_view name) {
    std::string searchPath = SystemFolder();
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size > 0) {
        std::wstring path(size, L'\0');
        const DWORD length = GetEnvironmentVariableW(L"PATH", path.data(), size);
        if (length > 0 && length < size)
            searchPath += ";" + Narrow({path.data(), length});
    }
    return FindProgram(name, searchPath);
}

// Windows starts a program by its file, never through a link that keeps a name of its own: the
// module's path is the path it was started under.
std::filesystem::path StartedAsPath(std::string_view /*argument0*/) {
    return GetModulePath();
}

} // namespace cptlib::platform
