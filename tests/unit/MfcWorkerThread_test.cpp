#include "cptlib/sys/MfcWorkerThread.h"

#include "launcher/SfxMessages.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <vector>

namespace {

using namespace cptlib;
using namespace std::chrono_literals;

// A worker whose run is given by the test.
class ScriptedThread : public CMfcWorkerThread {
public:
    explicit ScriptedThread(std::function<std::uint32_t(ScriptedThread&)> body)
        : body_(std::move(body)) {}
    ~ScriptedThread() override { CancelAndWait(); }

protected:
    std::uint32_t Run() override { return body_(*this); }

private:
    std::function<std::uint32_t(ScriptedThread&)> body_;
};

// Run loops until cancelled, as the extraction does between progress reports.
std::uint32_t RunUntilCancelled(ScriptedThread& self) {
    while (!self.IsCancelled())
        std::this_thread::sleep_for(1ms);
    return 1223;
}

TEST(MfcWorkerThread, StartIsRefusedWhileRunningAndAllowedAgainAfterTheEnd) {
    testsupport::Watchdog watchdog;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> runs{0};
    ScriptedThread thread([&](ScriptedThread&) -> std::uint32_t {
        ++runs;
        released.wait();
        return 10 + runs.load();
    });

    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(thread.ExitCode());
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.CreatorThreadId(), std::this_thread::get_id());
    thread.RequestCancel(false);
    EXPECT_FALSE(thread.Start());
    EXPECT_TRUE(thread.IsRunning());
    EXPECT_TRUE(thread.IsCancelled()) << "a refused start must leave the run untouched";
    EXPECT_FALSE(thread.ExitCode());

    release.set_value();
    thread.Wait();
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ExitCode(), 11u);
    EXPECT_EQ(runs.load(), 1);

    // The ended thread is replaced; the new run starts with the flag cleared.
    std::thread([&] { ASSERT_TRUE(thread.Start()); }).join();
    EXPECT_NE(thread.CreatorThreadId(), std::this_thread::get_id());
    EXPECT_FALSE(thread.IsCancelled());
    thread.Wait();
    EXPECT_EQ(thread.ExitCode(), 12u);
}

TEST(MfcWorkerThread, RequestCancelEndsTheRunAndWaitsWhenAsked) {
    testsupport::Watchdog watchdog;
    ScriptedThread thread(RunUntilCancelled);
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.IsCancelled());

    thread.RequestCancel(true);
    EXPECT_TRUE(thread.IsCancelled());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ExitCode(), 1223u);
}

TEST(MfcWorkerThread, CancelAndWaitFromInsideTheRunDoesNotHang) {
    testsupport::Watchdog watchdog;
    ScriptedThread thread([](ScriptedThread& self) -> std::uint32_t {
        self.RequestCancel(true);
        return self.IsCancelled() ? 1 : 0;
    });
    ASSERT_TRUE(thread.Start());
    thread.Wait();
    EXPECT_EQ(thread.ExitCode(), 1u);
}

TEST(MfcWorkerThread, DestructionCancelsAndJoinsARunningThread) {
    testsupport::Watchdog watchdog;
    std::atomic<bool> sawCancel{false};
    std::atomic<bool> ended{false};
    auto thread = std::make_unique<ScriptedThread>([&](ScriptedThread& self) -> std::uint32_t {
        RunUntilCancelled(self);
        sawCancel = true;
        // Still busy for a while after the flag: the destructor must wait for this.
        std::this_thread::sleep_for(50ms);
        ended = true;
        return 0;
    });
    ASSERT_TRUE(thread->Start());
    thread.reset();
    EXPECT_TRUE(sawCancel.load());
    EXPECT_TRUE(ended.load());
}

TEST(MfcWorkerThread, SuspendedStartWaitsForResume) {
    testsupport::Watchdog watchdog;
    std::atomic<bool> ran{false};
    ScriptedThread thread([&](ScriptedThread&) -> std::uint32_t {
        ran = true;
        return 0;
    });
    ASSERT_TRUE(thread.Start(CMfcWorkerThread::kCreateSuspended));
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(ran.load());
    EXPECT_TRUE(thread.Resume());
    EXPECT_FALSE(thread.Resume());
    thread.Wait();
    EXPECT_TRUE(ran.load());
}

// The dialog joins the extraction while the extraction waits in an overwrite question: the
// question is answered during the join, and the progress messages posted around it stay queued
// in their order for the dialog's loop.
TEST(MfcWorkerThread, JoiningAWorkerBlockedInASendAnswersItAndKeepsPostedMessages) {
    testsupport::Watchdog watchdog;
    std::vector<Message> handled;
    MessageInbox inbox([&](const Message& m) -> LResult {
        handled.push_back(m);
        return m.id == sfx::WM_SFX_ASK_OVERWRITE ? sfx::kOverwriteYesToAll : 0;
    });
    ScriptedThread thread([handle = inbox.Handle()](ScriptedThread&) -> std::uint32_t {
        handle.Post(sfx::WM_SFX_DELETING, 1);
        handle.Post(sfx::WM_SFX_DELETING, 2);
        const auto answer = handle.Send(sfx::WM_SFX_ASK_OVERWRITE);
        handle.Post(sfx::WM_SFX_EXTRACT_DONE, 3);
        return static_cast<std::uint32_t>(answer);
    });
    thread.SetNotifyInbox(inbox.Handle());
    ASSERT_TRUE(thread.Start());
    thread.Wait();

    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.ExitCode(), static_cast<std::uint32_t>(sfx::kOverwriteYesToAll));
    ASSERT_EQ(handled.size(), 1u);
    EXPECT_EQ(handled[0].id, sfx::WM_SFX_ASK_OVERWRITE);

    handled.clear();
    EXPECT_EQ(inbox.ProcessPending(), 3u);
    std::vector<WParam> order;
    for (const auto& m : handled)
        order.push_back(m.wParam);
    EXPECT_EQ(order, (std::vector<WParam>{1, 2, 3}));
    EXPECT_EQ(handled.back().id, sfx::WM_SFX_EXTRACT_DONE);
}

// Destroying the dialog while the worker waits in a question must not deadlock either.
TEST(MfcWorkerThread, DestructionOnTheCreatorServicesAPendingQuestion) {
    testsupport::Watchdog watchdog;
    int questions = 0;
    MessageInbox inbox([&](const Message&) -> LResult {
        ++questions;
        return sfx::kOverwriteCancel;
    });
    std::atomic<std::intptr_t> answer{-1};
    auto thread = std::make_unique<ScriptedThread>(
        [&answer, handle = inbox.Handle()](ScriptedThread& self) -> std::uint32_t {
            // Ask only after the owner has started to tear the thread down.
            while (!self.IsCancelled())
                std::this_thread::sleep_for(1ms);
            answer = handle.Send(sfx::WM_SFX_ASK_OVERWRITE);
            return 0;
        });
    thread->SetNotifyInbox(inbox.Handle());
    ASSERT_TRUE(thread->Start());
    thread.reset();
    EXPECT_EQ(questions, 1);
    EXPECT_EQ(answer.load(), sfx::kOverwriteCancel);
}

// Only the creator services its inbox; another thread's Wait simply blocks until the end.
TEST(MfcWorkerThread, WaitOnAnotherThreadDoesNotHandleTheCreatorsMessages) {
    testsupport::Watchdog watchdog;
    int handled = 0;
    MessageInbox inbox([&](const Message&) -> LResult { return ++handled; });
    std::promise<void> asked;
    ScriptedThread thread([&asked, handle = inbox.Handle()](ScriptedThread&) -> std::uint32_t {
        asked.set_value();
        return static_cast<std::uint32_t>(handle.Send(sfx::WM_SFX_PROGRESS));
    });
    thread.SetNotifyInbox(inbox.Handle());
    ASSERT_TRUE(thread.Start());
    auto otherWait = std::async(std::launch::async, [&] { thread.Wait(); });
    asked.get_future().wait();
    EXPECT_EQ(otherWait.wait_for(50ms), std::future_status::timeout);
    EXPECT_EQ(handled, 0);
    EXPECT_TRUE(inbox.ProcessNext());
    otherWait.get();
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(thread.ExitCode(), 1u);
}

// The end of a run wakes the inbox from the worker thread; a wake callback that looks at the
// thread object meanwhile must not deadlock with a join in progress.
TEST(MfcWorkerThread, WakeCallbackMayQueryTheThreadWhileItIsJoined) {
    testsupport::Watchdog watchdog;
    MessageInbox inbox;
    ScriptedThread thread([](ScriptedThread&) -> std::uint32_t { return 5; });
    std::atomic<int> wakes{0};
    inbox.SetWakeCallback([&] {
        // Give the joining thread time to reach the join.
        std::this_thread::sleep_for(20ms);
        (void)thread.IsRunning();
        (void)thread.ExitCode();
        ++wakes;
    });
    thread.SetNotifyInbox(inbox.Handle());
    ASSERT_TRUE(thread.Start());
    std::thread([&] { thread.Wait(); }).join();
    EXPECT_EQ(wakes.load(), 1);
    EXPECT_EQ(thread.ExitCode(), 5u);
}

} // namespace
