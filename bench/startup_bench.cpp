// Start-up (steps 1 to 6) of a launcher file with a large payload against the same launcher
// with a tiny one, alternating runs in one process. The large payload must not slow start-up:
// the marker search and the self-check read only what they need.

#include "cptlib/platform/File.h"
#include "cptlib/platform/OwnImage.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/App.h"

#include <boost/log/core.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

class SilentPresenter : public cptlib::IMessageBoxPresenter {
public:
    int Show(const cptlib::MessageBoxContent&) override { return 0; }
};

double RunOnce(const char* path) {
    const auto start = std::chrono::steady_clock::now();
    sfx::CApp app({"/q"}, path);
    // The launcher reads its own file through the descriptor opened at start; this program
    // is not that file, so it opens the one under test in its place.
    cptlib::platform::FileDescriptor file;
    if (cptlib::Failed(cptlib::platform::OpenRegularFileForRead(file, path))) {
        std::fprintf(stderr, "cannot open %s\n", path);
        std::exit(2);
    }
    app.state.ownFile = std::make_shared<const cptlib::platform::FileDescriptor>(std::move(file));
    if (!app.RunStartupSteps()) {
        std::fprintf(stderr, "start-up failed for %s: exit code 0x%X\n", path, app.exitCode);
        std::exit(2);
    }
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench LARGE_LAUNCHER SMALL_LAUNCHER [RUNS]\n");
        return 2;
    }
    const int runs = argc > 3 ? std::atoi(argv[3]) : 200;
    boost::log::core::get()->set_logging_enabled(false);
    cptlib::SetMessageBoxPresenter(std::make_shared<SilentPresenter>());

    RunOnce(argv[1]);
    RunOnce(argv[2]);
    std::vector<double> large, small, ratios;
    for (int i = 0; i < runs; ++i) {
        large.push_back(RunOnce(argv[1]));
        small.push_back(RunOnce(argv[2]));
        ratios.push_back(large.back() / small.back());
    }
    const double ratio = Median(ratios);
    std::printf("start-up, median of %d alternating runs: large payload %.1f us, small payload "
                "%.1f us, ratio %.3f (target < 1.5): %s\n",
                runs, Median(large), Median(small), ratio, ratio < 1.5 ? "PASS" : "FAIL");
    return ratio < 1.5 ? 0 : 1;
}
