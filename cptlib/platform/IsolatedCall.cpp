#include "cptlib/platform/IsolatedCall.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

[[noreturn]] void ServeChild(int out, const std::function<std::string()>& work) {
    // A crash ends the child by its signal: the parent's crash handlers serve the parent.
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(signal, SIG_DFL);
    std::string reply;
    try {
        reply = work();
    } catch (...) {
        ::_exit(2);
    }
    std::size_t written = 0;
    while (written < reply.size()) {
        const ssize_t n = ::write(out, reply.data() + written, reply.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(3);
        written += static_cast<std::size_t>(n);
    }
    // No exit handlers: they belong to the parent's state.
    ::_exit(0);
}

} // namespace

IsolatedResult RunIsolated(const std::function<std::string()>& work,
                           std::chrono::milliseconds limit, std::size_t maxOutput) {
    IsolatedResult result;
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        return result;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return result;
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        ServeChild(pipeEnds[1], work);
    }
    ::close(pipeEnds[1]);

    bool tooLarge = false;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd poller{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (result.output.size() + static_cast<std::size_t>(n) > maxOutput) {
            tooLarge = true;
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (timedOut || tooLarge)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || tooLarge) {
        result.end = timedOut ? IsolatedResult::End::TimedOut : IsolatedResult::End::TooLarge;
        result.output.clear();
    } else if (WIFSIGNALED(status)) {
        result.end = IsolatedResult::End::Crashed;
        result.detail = WTERMSIG(status);
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.end = IsolatedResult::End::Failed;
        result.detail = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        result.end = IsolatedResult::End::Finished;
    }
    return result;
}

} // namespace cptlib::platform
