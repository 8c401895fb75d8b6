#pragma once
// Runs a program whose stderr is a pipe that nobody reads any more (`program 2>&1 | head -1`
// after head has ended), with a time limit, and reports how it ended.

#include "support/RunProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace testsupport {

struct ClosedPipeResult {
    int status = -1;       // exit status, or 128 + signal
    bool timedOut = false; // killed after the time limit
};

inline ClosedPipeResult RunWithStderrToClosedPipe(const std::vector<std::string>& argv,
                                                  const std::map<std::string, std::string>& env,
                                                  const std::string& workingDirectory,
                                                  std::chrono::seconds limit) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        throw std::runtime_error("cannot make a pipe");
    ::close(ends[0]);
    cptlib::platform::SpawnRequest request = RequestFor(argv, env, workingDirectory);
    request.output = cptlib::platform::Stream::Null();
    request.error = cptlib::platform::Stream::From(ends[1]);
    pid_t pid = -1;
    const int rc = cptlib::platform::Spawn(request, pid);
    ::close(ends[1]);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    ClosedPipeResult result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            result.timedOut = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

} // namespace testsupport
