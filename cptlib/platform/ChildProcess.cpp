#include "cptlib/platform/ChildProcess.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/Spawn.h"
#include "cptlib/sys/CommandLineSplit.h"

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>

namespace cptlib::platform {

namespace {

bool EndsWithExe(const std::string& path) {
    if (path.size() < 4)
        return false;
    std::string tail = path.substr(path.size() - 4);
    for (char& c : tail)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return tail == ".exe";
}

bool IsExecutableRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
}

SpawnRequest RequestFor(const std::string& file, const std::vector<std::string>& arguments,
                        const std::string& directory) {
    SpawnRequest request;
    request.program = file;
    request.arguments = arguments;
    request.directory = directory;
    return request;
}

} // namespace

bool IsProgramFile(const std::string& path) {
    return EndsWithExe(path) || IsExecutableRegularFile(path);
}

std::uint32_t ChildProcess::Start(const std::string& file,
                                  const std::vector<std::string>& arguments,
                                  const std::string& directory) {
    return Start(RequestFor(file, arguments, directory));
}

std::uint32_t ChildProcess::StartIn(const FolderHandle& folder, const std::string& file,
                                    const std::vector<std::string>& arguments,
                                    const std::string& directory) {
    SpawnRequest request = RequestFor(file, arguments, directory);
    request.directoryDescriptor = DescriptorOf(&folder);
    return Start(std::move(request));
}

ChildProcess::~ChildProcess() = default;

std::uint32_t ChildProcess::StartCommand(const std::string& file, const std::string& parameters,
                                         const std::string& directory) {
    return Start(file, SplitCommandLine(parameters), directory);
}

std::uint32_t ChildProcess::StartCommandIn(const FolderHandle& folder, const std::string& file,
                                           const std::string& parameters,
                                           const std::string& directory) {
    return StartIn(folder, file, SplitCommandLine(parameters), directory);
}

std::uint32_t ChildProcess::Start(SpawnRequest request) {
    std::lock_guard lock(mutex_);
    if (pid_ > 0)
        return kErrorInvalidParameter;
    // What the launcher was given without close-on-exec goes on to the setup, as a shell
    // passes it on.
    request.passOnInheritable = true;
    pid_t pid = -1;
    if (const int error = Spawn(request, pid))
        return Win32FromErrno(error);
    pid_ = pid;
    reaped_ = false;
    if (pending_) {
        ::kill(pid_, SignalNumber(*pending_));
        pending_.reset();
    }
    return 0;
}

std::optional<int> ChildProcess::Wait() {
    int pid;
    {
        std::lock_guard lock(mutex_);
        if (pid_ <= 0 || reaped_)
            return std::nullopt;
        pid = pid_;
    }
    // Wait without reaping first, so a signal passed on meanwhile can never reach another
    // process that was given the same id.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    std::lock_guard lock(mutex_);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    reaped_ = true;
    return status;
}

bool ChildProcess::Started() const {
    std::lock_guard lock(mutex_);
    return pid_ > 0;
}

void ChildProcess::ForwardStopSignal(StopSignal kind, bool toGroup) {
    std::lock_guard lock(mutex_);
    if (pid_ <= 0) {
        pending_ = kind;
        return;
    }
    if (reaped_ || toGroup)
        return;
    ::kill(pid_, SignalNumber(kind));
}

} // namespace cptlib::platform
