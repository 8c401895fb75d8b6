#include "cptlib/platform/Process.h"

#include "cptlib/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace cptlib::platform {

namespace {

bool IsDirectory(const char* path) {
    struct stat st {};
    return path != nullptr && *path != '\0' && ::stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

std::filesystem::path GetModulePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::string CurrentFolderPath() {
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
    std::string path(buffer.data());
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

std::uint32_t TempFolderPath(std::string& path) {
    const char* tmpdir = std::getenv("TMPDIR");
    // A relative TMPDIR would follow the current folder: ignored like a missing one.
    if (tmpdir != nullptr && tmpdir[0] == '/' && IsDirectory(tmpdir))
        path = tmpdir;
    else if (IsDirectory("/tmp"))
        path = "/tmp";
    else {
        path.clear();
        return kErrorPathNotFound;
    }
    // One separator at the end, however many the variable has ("/tmp//").
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.back() != '/')
        path += '/';
    return 0;
}

ProcessEnd DecodeWaitStatus(int waitStatus) {
    if (WIFEXITED(waitStatus))
        return {ProcessEnd::Kind::Exited, WEXITSTATUS(waitStatus)};
    if (WIFSIGNALED(waitStatus))
        return {ProcessEnd::Kind::Killed, WTERMSIG(waitStatus)};
    return {};
}

} // namespace cptlib::platform
