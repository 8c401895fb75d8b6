#pragma once
// A window-like message queue owned by one (user-interface) thread. Other threads post messages
// to it or send them and wait for the reply; the owner handles them one by one. Sent messages are
// handled before posted ones, and may also be serviced alone while the owner waits for something
// else (joining a worker that is itself blocked in a send).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace cptlib {

using MessageId = std::uint32_t;
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;

struct Message {
    MessageId id = 0;
    WParam wParam = 0;
    LParam lParam = 0;
};

namespace detail {
struct InboxState;
}

// A copyable reference to an inbox, as a window handle is: workers keep one to talk to the
// owner. It stays safe after the inbox is closed or destroyed: posts are then dropped and sends
// return 0 at once.
class InboxHandle {
public:
    InboxHandle() = default;

    explicit operator bool() const noexcept { return state_ != nullptr; }

    // Queues the message; false when the handle is empty or the inbox is closed.
    bool Post(MessageId id, WParam wParam = 0, LParam lParam = 0) const;

    // Blocks until the owner has handled the message and returns its reply. From the owner
    // thread the handler is called directly. 0 when the handle is empty or the inbox is closed,
    // also for a send still waiting when the inbox closes.
    LResult Send(MessageId id, WParam wParam = 0, LParam lParam = 0) const;

    // Wakes the owner's waiting loop without a message.
    void Wake() const;

    bool IsClosed() const;
    bool IsOwnerThread() const;

    // Owner thread only: handles sent messages (never posted ones) until `done` holds. `done` is
    // evaluated under the inbox's lock whenever a message arrives or Wake is called, so whoever
    // makes it true must call Wake afterwards. Returns false without waiting when called from
    // another thread.
    bool ServiceSentMessagesUntil(const std::function<bool()>& done) const;

private:
    friend class MessageInbox;
    explicit InboxHandle(std::shared_ptr<detail::InboxState> state) : state_(std::move(state)) {}
    std::shared_ptr<detail::InboxState> state_;
};

// The owner's side. The constructing thread owns the inbox; the owner-only operations refuse
// (return false or 0) on any other thread. Destruction closes the inbox.
class MessageInbox {
public:
    using Handler = std::function<LResult(const Message&)>;

    explicit MessageInbox(Handler handler = {});
    ~MessageInbox();
    MessageInbox(const MessageInbox&) = delete;
    MessageInbox& operator=(const MessageInbox&) = delete;

    InboxHandle Handle() const { return InboxHandle(state_); }
    bool Post(MessageId id, WParam wParam = 0, LParam lParam = 0) const {
        return Handle().Post(id, wParam, lParam);
    }
    LResult Send(MessageId id, WParam wParam = 0, LParam lParam = 0) const {
        return Handle().Send(id, wParam, lParam);
    }

    // Owner thread only.
    void SetHandler(Handler handler);

    // Called on the posting or sending thread, outside the inbox's lock, whenever a message
    // arrives or Wake is called; lets an event loop of another toolkit schedule ProcessPending.
    void SetWakeCallback(std::function<void()> callback);

    bool IsOwnerThread() const { return Handle().IsOwnerThread(); }
    bool IsClosed() const { return Handle().IsClosed(); }

    // Waits for the next message and handles it, a sent one first. Returns true after a message
    // or a Wake, false once the inbox is closed and nothing is left to handle.
    bool ProcessNext();

    // Handles everything queued now without waiting; returns the number of messages handled.
    std::size_t ProcessPending();

    // Handles the queued sent messages only; posted ones stay queued in their order.
    std::size_t ServiceSentMessages();

    bool ServiceSentMessagesUntil(const std::function<bool()>& done) const {
        return Handle().ServiceSentMessagesUntil(done);
    }

    // Inside the handler of a sent message: releases the sender now with `result`; what the
    // handler returns later is ignored. False when the current message was not sent by another
    // thread or has already been replied to.
    bool ReplyMessage(LResult result);

    // Drops the posted messages, releases waiting senders with 0 and refuses new messages.
    void Close();

private:
    std::shared_ptr<detail::InboxState> state_;
};

} // namespace cptlib
