#include "cptlib/platform/ChildProcess.h"

#include "cptlib/SystemError.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cptlib::platform {

namespace {

int SignalNumber(StopSignal kind) {
    switch (kind) {
    case StopSignal::Interrupt:
        return SIGINT;
    case StopSignal::Hangup:
        return SIGHUP;
    case StopSignal::Terminate:
        break;
    }
    return SIGTERM;
}

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

class SpawnAttributes {
public:
    SpawnAttributes() { ok_ = ::posix_spawnattr_init(&attributes_) == 0; }
    ~SpawnAttributes() {
        if (ok_)
            ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    bool ok() const { return ok_; }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    bool ok_ = false;
};

class SpawnFileActions {
public:
    SpawnFileActions() { ok_ = ::posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnFileActions() {
        if (ok_)
            ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

} // namespace

bool IsProgramFile(const std::string& path) {
    return EndsWithExe(path) || IsExecutableRegularFile(path);
}

std::string FindProgramOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    if (path == nullptr || name.empty() || name.find('/') != std::string::npos)
        return {};
    std::string folders(path);
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        // An empty entry means the current folder, as the shell reads it.
        std::string folder = folders.substr(start, end - start);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + "/" + name;
        if (IsExecutableRegularFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

std::uint32_t ChildProcess::Start(const std::string& file,
                                  const std::vector<std::string>& arguments,
                                  const std::string& directory) {
    std::lock_guard lock(mutex_);
    if (pid_ > 0)
        return ERROR_INVALID_PARAMETER;
    SpawnAttributes attributes;
    SpawnFileActions actions;
    if (!attributes.ok() || !actions.ok())
        return ERROR_NOT_ENOUGH_MEMORY;
    // The launcher's threads may block signals; the setup starts with none blocked and with
    // the usual dispositions for those the launcher catches.
    sigset_t none, caught;
    sigemptyset(&none);
    sigemptyset(&caught);
    for (int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        sigaddset(&caught, number);
    ::posix_spawnattr_setsigmask(attributes.get(), &none);
    ::posix_spawnattr_setsigdefault(attributes.get(), &caught);
    ::posix_spawnattr_setflags(attributes.get(), POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (!directory.empty() &&
        ::posix_spawn_file_actions_addchdir_np(actions.get(), directory.c_str()) != 0)
        return ERROR_NOT_ENOUGH_MEMORY;

    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(file.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t pid = -1;
    const int error =
        ::posix_spawn(&pid, file.c_str(), actions.get(), attributes.get(), argv.data(), environ);
    if (error != 0)
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
