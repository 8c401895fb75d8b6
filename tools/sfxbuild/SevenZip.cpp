// Runs the 7zz program; the build tool's one program start.

#include "sfxbuild/Build.h"

#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/Spawn.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sfxbuild {

namespace {

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0)
            throw BuildError(std::string("cannot create a pipe: ") + std::strerror(errno));
    }
    ~Pipe() {
        CloseWrite();
        if (fds_[0] >= 0)
            ::close(fds_[0]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void CloseWrite() {
        if (fds_[1] >= 0)
            ::close(fds_[1]);
        fds_[1] = -1;
    }

private:
    int fds_[2] = {-1, -1};
};

// The last line that says something, for the one-line message.
std::string LastLine(const std::string& output) {
    std::string last, line;
    for (const char c : output + "\n") {
        if (c == '\n' || c == '\r') {
            if (line.find_first_not_of(" \t") != std::string::npos)
                last = line;
            line.clear();
        } else {
            line += c;
        }
    }
    const auto first = last.find_first_not_of(" \t");
    return first == std::string::npos ? last : last.substr(first);
}

} // namespace

void MakeArchive(const std::filesystem::path& folder, const std::filesystem::path& archive) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        throw BuildError("folder " + Quoted(folder) + " does not exist or is not a folder");
    const std::string target = std::filesystem::absolute(archive).string();
    const std::string directory = std::filesystem::absolute(folder).string();
    // Only absolute folders of PATH: a 7zz in the current folder is not ours to run.
    const std::string program = cptlib::platform::FindProgram("7zz");
    if (program.empty())
        throw BuildError("cannot run 7zz to pack folder " + Quoted(folder) + ": " +
                         std::strerror(ENOENT));
    cptlib::platform::SpawnRequest request;
    request.program = program;
    // The pattern is expanded by 7zz itself; it takes hidden files as well.
    request.arguments = {"a",     "-t7z", "-m0=BCJ", "-m1=LZMA2", "-snl", "-bso0",
                         "-bsp0", "-y",   "--",      target,      "*"};
    request.directory = directory;

    Pipe output;
    request.input = cptlib::platform::Stream::Null();
    request.output = cptlib::platform::Stream::From(output.write());
    request.error = cptlib::platform::Stream::From(output.write());
    pid_t pid = 0;
    if (const int error = cptlib::platform::Spawn(request, pid))
        throw BuildError("cannot run 7zz to pack folder " + Quoted(folder) + ": " +
                         std::strerror(error));
    output.CloseWrite();

    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(output.read(), buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    const int status = cptlib::platform::WaitForProcess(pid);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    std::string reason = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                           : "killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        reason += ", 7zz not found";
    const std::string detail = LastLine(text);
    throw BuildError("7zz failed to pack folder " + Quoted(folder) + " (" + reason + ")" +
                     (detail.empty() ? "" : ": " + detail));
}

} // namespace sfxbuild
