#include "cptlib/platform/StopCleanup.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace cptlib::platform {

namespace {

// Waits up to `limit` for the child to end, without reaping it: the thread that started it
// reaps it.
bool WaitForEnd(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        siginfo_t info{};
        const int result =
            ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
        if (result != 0 || info.si_pid == pid)
            return true; // ended, or reaped already
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

StopCleanup::StopCleanup(std::string message)
    : message_(std::move(message)),
      watch_(std::make_unique<SignalWatch>([this](StopSignal kind) { OnStop(kind); })) {}

StopCleanup::~StopCleanup() = default;

bool StopCleanup::Create(const std::filesystem::path& path, const std::function<bool()>& create) {
    const std::lock_guard lock(mutex_);
    if (!create())
        return false;
    paths_.insert(path);
    return true;
}

void StopCleanup::Forget(const std::filesystem::path& path) {
    const std::lock_guard lock(mutex_);
    paths_.erase(path);
}

int StopCleanup::Start(const std::function<int(pid_t&)>& spawn) {
    const std::lock_guard lock(mutex_);
    pid_t pid = -1;
    const int error = spawn(pid);
    if (error == 0)
        children_.insert(pid);
    return error;
}

void StopCleanup::Ending(pid_t pid) {
    const std::lock_guard lock(mutex_);
    children_.erase(pid);
}

void StopCleanup::OnStop(StopSignal kind) {
    // Held until the exit: nothing new is created or started meanwhile.
    mutex_.lock();
    for (const pid_t pid : children_) {
        ::kill(pid, SIGTERM);
        if (!WaitForEnd(pid, std::chrono::seconds(2))) {
            ::kill(pid, SIGKILL);
            WaitForEnd(pid, std::chrono::seconds(5));
        }
    }
    for (const auto& path : paths_) {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    const int number = SignalNumber(kind);
    if (!message_.empty()) {
        const std::string line = message_ + "\n";
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    }
    std::_Exit(128 + number);
}

} // namespace cptlib::platform
