// Time from starting a program until the setup program runs, on an empty payload: the launcher
// file against a makeself archive that starts the same setup, and against the floor, a static
// program that only starts the setup (what no launcher can beat on this machine). Runs
// alternate in one process; the probe writes one byte to descriptor 3 as its first act, which
// ends the clock.

#include "cptlib/platform/Spawn.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Milliseconds until the byte arrives; the program is then awaited without the clock.
double TimeToSetupStart(const std::vector<std::string>& command) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        std::exit(2);
    cptlib::platform::SpawnRequest request;
    request.program = command.at(0);
    request.arguments.assign(command.begin() + 1, command.end());
    request.descriptors = {fds[1]};

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (cptlib::platform::Spawn(request, pid) != 0) {
        std::fprintf(stderr, "cannot start %s\n", command[0].c_str());
        std::exit(2);
    }
    ::close(fds[1]);
    char byte = 0;
    const ssize_t got = ::read(fds[0], &byte, 1);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    ::close(fds[0]);
    const int status = cptlib::platform::WaitForProcess(pid);
    if (got != 1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s did not start the setup (status %d)\n", command[0].c_str(),
                     status);
        std::exit(2);
    }
    return ms;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: setup_start_bench LAUNCHER PEER FLOOR PROBE [RUNS]\n");
        return 2;
    }
    const int runs = argc > 5 ? std::atoi(argv[5]) : 30;
    const std::vector<std::string> launcher = {argv[1], "/q"};
    const std::vector<std::string> peer = {argv[2], "--quiet"};
    const std::vector<std::string> floor = {argv[3], argv[4]};
    TimeToSetupStart(launcher);
    TimeToSetupStart(peer);
    TimeToSetupStart(floor);
    std::vector<double> viaLauncher, viaPeer, viaFloor;
    for (int i = 0; i < runs; ++i) {
        viaLauncher.push_back(TimeToSetupStart(launcher));
        viaPeer.push_back(TimeToSetupStart(peer));
        viaFloor.push_back(TimeToSetupStart(floor));
    }
    const double a = Median(viaLauncher), p = Median(viaPeer), f = Median(viaFloor);
    const double ratio = a / p;
    const bool pass = ratio <= 0.1;
    std::printf("setup start: launcher %.2f ms, makeself %.2f ms (medians of %d), ratio %.3f "
                "(target <= 0.10): %s\n",
                a, p, runs, ratio, pass ? "PASS" : "FAIL");
    std::printf("setup start floor: a static program that only starts the setup %.2f ms; "
                "launcher/floor ratio %.2f (no target)\n",
                f, a / f);
    return pass ? 0 : 1;
}
