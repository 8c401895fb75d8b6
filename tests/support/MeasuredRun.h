#pragma once
// A child run with its time, status and peak memory measured, killed when it outlives a bound.

#include "support/Files.h"
#include "support/Process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct MeasuredRun {
    int status = -1; // exit status, 128 + signal, or -1 when it had to be killed
    std::chrono::milliseconds elapsed{};
    long maxRssKiB = 0; // of the child process alone
    // Processor time (user and system): on a shared machine the wall time says more about the
    // other loads than about the run.
    std::chrono::milliseconds cpu{};
    std::string out;
    std::string err;
};

// Runs `command` in `folder` with stdout and stderr in files there; killed after `bound`. The
// peak memory is measured by time(1): a child of a large test process would count the
// parent's pages it had before its exec.
inline MeasuredRun RunMeasured(const std::vector<std::string>& command,
                               const std::map<std::string, std::string>& env,
                               const std::filesystem::path& folder,
                               std::chrono::milliseconds bound) {
    const std::string rssPath = (folder / "maxrss.txt").string();
    std::vector<std::string> argv = {"/usr/bin/time", "-q", "-f", "%M %U %S", "-o", rssPath};
    argv.insert(argv.end(), command.begin(), command.end());
    const std::string outPath = (folder / "stdout.txt").string();
    const std::string errPath = (folder / "stderr.txt").string();
    const int outFd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (outFd < 0 || errFd < 0)
        throw std::runtime_error("cannot create " + errPath);
    cptlib::platform::SpawnRequest request = RequestFor(argv, env, folder.string());
    request.output = cptlib::platform::Stream::From(outFd);
    request.error = cptlib::platform::Stream::From(errFd);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int rc = cptlib::platform::Spawn(request, pid);
    ::close(outFd);
    ::close(errFd);
    if (rc != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    MeasuredRun run;
    int status = 0;
    struct rusage usage {};
    bool killed = false;
    for (;;) {
        if (::wait4(pid, &status, WNOHANG, &usage) == pid)
            break;
        if (std::chrono::steady_clock::now() - start > bound) {
            ::kill(pid, SIGKILL);
            ::wait4(pid, &status, 0, &usage);
            killed = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    if (!killed)
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // The last line: a killed command's report has a line before it.
    std::istringstream report(ReadFile(rssPath));
    std::string line;
    std::string last;
    while (std::getline(report, line))
        if (!line.empty())
            last = line;
    std::istringstream fields(last);
    double user = -1;
    double system = -1;
    run.maxRssKiB = -1; // time(1) itself was killed
    if (fields >> run.maxRssKiB >> user >> system)
        run.cpu = std::chrono::milliseconds(static_cast<long>((user + system) * 1000));
    run.out = ReadFile(outPath);
    run.err = ReadFile(errPath);
    return run;
}

} // namespace testsupport
