// Stop signals reach a callback on the watcher's thread; the dispositions come back afterwards.

#include "cptlib/platform/SignalWatch.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using cptlib::platform::SignalWatch;
using cptlib::platform::StopSignal;

void (*Disposition(int number))(int) {
    struct sigaction current {};
    ::sigaction(number, nullptr, &current);
    return current.sa_handler;
}

TEST(SignalWatch, DeliversStopSignalsOnItsOwnThread) {
    testsupport::Watchdog watchdog;
    const auto before = Disposition(SIGTERM);
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<StopSignal> received;
    std::vector<std::thread::id> threads;
    {
        SignalWatch watch([&](StopSignal kind) {
            std::lock_guard lock(mutex);
            received.push_back(kind);
            threads.push_back(std::this_thread::get_id());
            arrived.notify_all();
        });
        // Without the watch each of these would end the test program.
        ::raise(SIGINT);
        ::raise(SIGTERM);
        ::raise(SIGHUP);
        ::raise(SIGINT);
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            arrived.wait_for(lock, std::chrono::seconds(5), [&] { return received.size() == 4; }));
        EXPECT_THROW(SignalWatch([](StopSignal) {}), std::exception);
    }
    EXPECT_EQ(received, (std::vector<StopSignal>{StopSignal::Interrupt, StopSignal::Terminate,
                                                 StopSignal::Hangup, StopSignal::Interrupt}));
    for (const auto& id : threads)
        EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(Disposition(SIGTERM), before);
    EXPECT_EQ(Disposition(SIGINT), before);
    EXPECT_EQ(Disposition(SIGHUP), before);
}

TEST(SignalWatch, ANewWatchDoesNotSeeOldSignalsAndSurvivesAFailingCallback) {
    testsupport::Watchdog watchdog;
    std::mutex mutex;
    std::condition_variable arrived;
    int calls = 0;
    {
        SignalWatch watch([&](StopSignal) {
            std::lock_guard lock(mutex);
            ++calls;
            arrived.notify_all();
            throw std::runtime_error("callback failed");
        });
        ::raise(SIGTERM);
        ::raise(SIGTERM);
        std::unique_lock lock(mutex);
        ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(5), [&] { return calls == 2; }));
    }
    // Signals ignored while no watch exists are not delivered to the next one.
    ::signal(SIGHUP, SIG_IGN);
    ::raise(SIGHUP);
    ::signal(SIGHUP, SIG_DFL);
    SignalWatch watch([&](StopSignal) {
        std::lock_guard lock(mutex);
        ++calls;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 2);
}

} // namespace
