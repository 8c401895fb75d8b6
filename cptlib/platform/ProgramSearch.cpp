#include "cptlib/platform/ProgramSearch.h"

#include "cptlib/platform/Process.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cptlib::platform {

std::string FindProgram(std::string_view name, std::string_view searchPath) {
    if (name.empty() || name.find('/') != std::string_view::npos)
        return {};
    for (;;) {
        const auto colon = searchPath.find(':');
        const std::string_view folder = searchPath.substr(0, colon);
        if (!folder.empty() && folder.front() == '/') {
            std::string candidate(folder);
            if (candidate.back() != '/')
                candidate += '/';
            candidate += name;
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::faccessat(AT_FDCWD, candidate.c_str(), X_OK, AT_EACCESS) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos)
            return {};
        searchPath.remove_prefix(colon + 1);
    }
}

std::string FindProgram(std::string_view name) {
    const char* path = std::getenv("PATH");
    return path != nullptr ? FindProgram(name, path) : std::string();
}

std::filesystem::path StartedAsPath(std::string_view argument0) {
    std::string candidate;
    if (!argument0.empty() && argument0.front() == '/') {
        candidate = argument0;
    } else if (argument0.find('/') != std::string_view::npos) {
        const std::string folder = CurrentFolderPath();
        if (!folder.empty())
            candidate = folder + std::string(argument0);
    } else {
        candidate = FindProgram(argument0);
    }
    // The same file as the one running, whatever link led to it.
    struct stat started {};
    struct stat running {};
    if (!candidate.empty() && ::stat(candidate.c_str(), &started) == 0 &&
        ::stat("/proc/self/exe", &running) == 0 && started.st_dev == running.st_dev &&
        started.st_ino == running.st_ino)
        return candidate;
    return GetModulePath();
}

} // namespace cptlib::platform
