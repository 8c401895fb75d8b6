// The run's one signal watch: a signal that nobody takes is remembered and handed to the next
// route, a route gets the signals while it lives, and every signal counts as a stop request.

#include "launcher/RunStopSignals.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using cptlib::platform::StopSignal;
using cptlib::platform::StopSignalEvent;

class Received {
public:
    void Add(const StopSignalEvent& event) {
        std::lock_guard lock(mutex_);
        kinds_.push_back(event.kind);
        arrived_.notify_all();
    }
    bool WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(5),
                                 [&] { return kinds_.size() >= count; });
    }
    std::vector<StopSignal> Kinds() {
        std::lock_guard lock(mutex_);
        return kinds_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<StopSignal> kinds_;
};

TEST(RunStopSignals, ASignalBeforeAnyRouteIsKeptForTheNextRoute) {
    testsupport::Watchdog watchdog;
    sfx::RunStopSignals stops;
    EXPECT_FALSE(stops.Requested());
    ::raise(SIGHUP);
    // The watch's thread has seen it once Requested says so.
    for (int i = 0; i < 5000 && !stops.Requested(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(stops.Requested());

    Received first;
    {
        const auto route = stops.RouteTo([&](const StopSignalEvent& event) { first.Add(event); });
        // Handed on at once, without a new signal.
        EXPECT_EQ(first.Kinds(), std::vector<StopSignal>{StopSignal::Hangup});
        ::raise(SIGINT);
        ASSERT_TRUE(first.WaitFor(2));
    }
    EXPECT_EQ(first.Kinds(), (std::vector<StopSignal>{StopSignal::Hangup, StopSignal::Interrupt}));

    // Taken signals are not handed on twice; one after the route is kept again.
    ::raise(SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    Received second;
    const auto route = stops.RouteTo([&](const StopSignalEvent& event) { second.Add(event); });
    ASSERT_TRUE(second.WaitFor(1));
    EXPECT_EQ(second.Kinds(), std::vector<StopSignal>{StopSignal::Terminate});
    EXPECT_EQ(first.Kinds().size(), 2u);
}

// A worker stuck in one long call never sees the cancel it was asked for: a signal later than
// the grace ends the process with the cancelled status after removing the folder; one within
// it is only a request.
TEST(RunStopSignalsDeathTest, ALaterSignalWhileArmedRemovesTheFolderAndEnds) {
    testsupport::TempDir dir;
    const std::filesystem::path folder = dir / "extract";
    std::filesystem::create_directories(folder / "sub");
    std::ofstream(folder / "sub/item.bin") << "partial";
    EXPECT_EXIT(
        {
            sfx::RunStopSignals stops;
            Received received;
            const auto route =
                stops.RouteTo([&](const StopSignalEvent& event) { received.Add(event); });
            ::raise(SIGTERM);
            if (!received.WaitFor(1))
                std::_Exit(2);
            stops.ArmForcedEnd(folder.string());
            ::raise(SIGINT);
            if (!received.WaitFor(2))
                std::_Exit(3);
            std::this_thread::sleep_for(sfx::RunStopSignals::kForcedEndGrace);
            ::raise(SIGHUP);
            // The busy worker; without the forced end the run would outlive it.
            std::this_thread::sleep_for(std::chrono::seconds(10));
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(130), "");
    EXPECT_FALSE(std::filesystem::exists(folder));
}

// Disarmed again (the worker ended), later signals are only requests.
TEST(RunStopSignals, ASignalAfterDisarmingIsOnlyARequest) {
    testsupport::Watchdog watchdog;
    testsupport::TempDir dir;
    const std::filesystem::path folder = dir / "extract";
    std::filesystem::create_directories(folder);
    sfx::RunStopSignals stops;
    Received received;
    const auto route = stops.RouteTo([&](const StopSignalEvent& event) { received.Add(event); });
    stops.ArmForcedEnd(folder.string());
    std::this_thread::sleep_for(sfx::RunStopSignals::kForcedEndGrace);
    stops.DisarmForcedEnd();
    ::raise(SIGTERM);
    ASSERT_TRUE(received.WaitFor(1));
    EXPECT_TRUE(std::filesystem::exists(folder));
}

} // namespace
