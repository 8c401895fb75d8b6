// Time from starting a program until the setup program runs: a launcher file with an empty
// archive whose setup is the probe, against starting the probe directly. Runs alternate in one
// process; the probe writes one byte to descriptor 3 as its first act, which ends the clock.
// Given a floor program (one that only starts the probe and waits), its time is reported too:
// the ratio no launcher can beat on this machine.

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
    if (argc < 3) {
        std::fprintf(stderr, "usage: setup_start_bench LAUNCHER PROBE [RUNS [FLOOR]]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 30;
    const std::vector<std::string> launcher = {argv[1], "/q"};
    const std::vector<std::string> direct = {argv[2]};
    const std::vector<std::string> floor =
        argc > 4 ? std::vector<std::string>{argv[4], argv[2]} : std::vector<std::string>{};
    TimeToSetupStart(launcher);
    TimeToSetupStart(direct);
    if (!floor.empty())
        TimeToSetupStart(floor);
    std::vector<double> viaLauncher, directly, viaFloor;
    for (int i = 0; i < runs; ++i) {
        viaLauncher.push_back(TimeToSetupStart(launcher));
        directly.push_back(TimeToSetupStart(direct));
        if (!floor.empty())
            viaFloor.push_back(TimeToSetupStart(floor));
    }
    const double a = Median(viaLauncher), b = Median(directly);
    const double ratio = a / b;
    std::printf("setup start: launcher %.2f ms, direct %.2f ms (medians of %d), ratio %.2f "
                "(target < 2): %s\n",
                a, b, runs, ratio, ratio < 2.0 ? "PASS" : "FAIL");
    if (!floor.empty()) {
        const double f = Median(viaFloor);
        std::printf("setup start floor: a static program that only starts the setup %.2f ms, "
                    "ratio %.2f\n",
                    f, f / b);
    }
    return ratio < 2.0 ? 0 : 1;
}
