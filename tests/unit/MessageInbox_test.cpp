#include "cptlib/sys/MessageInbox.h"

#include "support/Watchdog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using namespace cptlib;
using namespace std::chrono_literals;

// Counts arrivals through the wake callback so the owner knows when workers have queued.
class Arrivals {
public:
    void Attach(MessageInbox& inbox) {
        inbox.SetWakeCallback([this] {
            {
                std::lock_guard lock(mutex_);
                ++count_;
            }
            changed_.notify_all();
        });
    }
    void WaitFor(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

TEST(MessageInbox, SendIsHandledOnTheOwnerThreadAndReturnsTheReply) {
    testsupport::Watchdog watchdog;
    const auto owner = std::this_thread::get_id();
    std::thread::id handledOn;
    MessageInbox inbox([&](const Message& m) -> LResult {
        handledOn = std::this_thread::get_id();
        return static_cast<LResult>(m.wParam) + m.lParam;
    });
    auto reply = std::async(std::launch::async,
                            [handle = inbox.Handle()] { return handle.Send(0x8009, 40, 2); });
    ASSERT_TRUE(inbox.ProcessNext());
    EXPECT_EQ(reply.get(), 42);
    EXPECT_EQ(handledOn, owner);
}

TEST(MessageInbox, SentMessagesGoFirstAndPostedOnesKeepTheirOrder) {
    testsupport::Watchdog watchdog;
    std::vector<MessageId> handled;
    MessageInbox inbox([&](const Message& m) -> LResult {
        handled.push_back(m.id);
        return 0;
    });
    Arrivals arrivals;
    arrivals.Attach(inbox);
    auto worker = std::async(std::launch::async, [handle = inbox.Handle()] {
        handle.Post(1);
        handle.Post(2);
        handle.Send(3);
        handle.Post(4);
    });
    arrivals.WaitFor(3);
    EXPECT_EQ(inbox.ServiceSentMessages(), 1u);
    EXPECT_EQ(handled, (std::vector<MessageId>{3}));
    worker.get();
    while (inbox.ProcessPending() != 0) {
    }
    EXPECT_EQ(handled, (std::vector<MessageId>{3, 1, 2, 4}));
}

TEST(MessageInbox, SendFromTheOwnerCallsTheHandlerDirectly) {
    int calls = 0;
    MessageInbox inbox([&](const Message& m) -> LResult {
        ++calls;
        return m.lParam * 2;
    });
    EXPECT_EQ(inbox.Send(0x8008, 0, 21), 42);
    EXPECT_EQ(calls, 1);
    // Nothing was queued on the way.
    EXPECT_EQ(inbox.ProcessPending(), 0u);
}

TEST(MessageInbox, ClosingReleasesAWaitingSenderAndRefusesNewMessages) {
    testsupport::Watchdog watchdog;
    auto inbox = std::make_unique<MessageInbox>([](const Message&) -> LResult { return 7; });
    Arrivals arrivals;
    arrivals.Attach(*inbox);
    const InboxHandle handle = inbox->Handle();
    auto blocked = std::async(std::launch::async, [handle] { return handle.Send(0x8009); });
    arrivals.WaitFor(1);
    inbox->Close();
    EXPECT_EQ(blocked.get(), 0);
    EXPECT_FALSE(inbox->ProcessNext());

    inbox.reset(); // the owner is gone; its handle stays usable
    auto late = std::async(std::launch::async, [handle] {
        return std::make_pair(handle.Post(0x8004), handle.Send(0x8009));
    });
    ASSERT_EQ(late.wait_for(5s), std::future_status::ready) << "send to a closed inbox hangs";
    EXPECT_EQ(late.get(), std::make_pair(false, LResult{0}));
    EXPECT_TRUE(handle.IsClosed());
}

TEST(MessageInbox, EmptyHandleDropsMessages) {
    const InboxHandle none;
    EXPECT_FALSE(none);
    EXPECT_FALSE(none.Post(1));
    EXPECT_EQ(none.Send(1), 0);
}

TEST(MessageInbox, ReplyMessageReleasesTheSenderBeforeTheHandlerReturns) {
    testsupport::Watchdog watchdog;
    std::promise<LResult> received;
    auto receivedFuture = received.get_future();
    bool releasedEarly = false;
    MessageInbox* self = nullptr;
    MessageInbox inbox([&](const Message&) -> LResult {
        EXPECT_TRUE(self->ReplyMessage(5));
        EXPECT_FALSE(self->ReplyMessage(6)) << "a second reply must be refused";
        // The sender can only have its answer now if the reply released it.
        releasedEarly = receivedFuture.wait_for(5s) == std::future_status::ready;
        return 99;
    });
    self = &inbox;
    std::thread worker([&, handle = inbox.Handle()] { received.set_value(handle.Send(0x8008)); });
    ASSERT_TRUE(inbox.ProcessNext());
    worker.join();
    EXPECT_TRUE(releasedEarly);
    EXPECT_EQ(receivedFuture.get(), 5);
}

TEST(MessageInbox, HandlerFailureStillReleasesTheSender) {
    testsupport::Watchdog watchdog;
    MessageInbox inbox([](const Message&) -> LResult { throw std::runtime_error("broken"); });
    auto reply =
        std::async(std::launch::async, [handle = inbox.Handle()] { return handle.Send(0x8007); });
    EXPECT_THROW(inbox.ProcessNext(), std::runtime_error);
    EXPECT_EQ(reply.get(), 0);
}

TEST(MessageInbox, WakeEndsTheWaitWithoutAMessage) {
    testsupport::Watchdog watchdog;
    int handled = 0;
    MessageInbox inbox([&](const Message&) -> LResult { return ++handled; });
    std::thread waker([handle = inbox.Handle()] {
        std::this_thread::sleep_for(20ms);
        handle.Wake();
    });
    EXPECT_TRUE(inbox.ProcessNext());
    waker.join();
    EXPECT_EQ(handled, 0);
}

TEST(MessageInbox, ProcessPendingLeavesSelfPostedMessagesForTheNextRound) {
    std::vector<MessageId> handled;
    MessageInbox* self = nullptr;
    MessageInbox inbox([&](const Message& m) -> LResult {
        handled.push_back(m.id);
        if (m.id == 1)
            self->Post(2);
        return 0;
    });
    self = &inbox;
    inbox.Post(1);
    EXPECT_EQ(inbox.ProcessPending(), 1u);
    EXPECT_EQ(inbox.ProcessPending(), 1u);
    EXPECT_EQ(handled, (std::vector<MessageId>{1, 2}));
}

TEST(MessageInbox, OwnerOperationsAreRefusedOnOtherThreads) {
    int handled = 0;
    MessageInbox inbox([&](const Message&) -> LResult { return ++handled; });
    inbox.Post(1);
    std::thread other([&] {
        EXPECT_FALSE(inbox.IsOwnerThread());
        EXPECT_EQ(inbox.ProcessPending(), 0u);
        EXPECT_FALSE(inbox.Handle().ServiceSentMessagesUntil([] { return true; }));
    });
    other.join();
    EXPECT_EQ(handled, 0);
    EXPECT_EQ(inbox.ProcessPending(), 1u);
}

} // namespace
