#include "cptlib/sys/MessageInbox.h"

#include <condition_variable>
#include <deque>
#include <mutex>

namespace cptlib {

namespace detail {

// A send waiting for its reply; lives on the sender's stack until `done` is set.
struct PendingSend {
    Message message;
    LResult result = 0;
    bool done = false;
};

struct InboxState {
    const std::thread::id owner = std::this_thread::get_id();

    std::mutex mutex;
    std::condition_variable ownerWake;
    std::condition_variable replyReady;
    std::deque<Message> posted;
    std::deque<PendingSend*> sent;
    bool closed = false;
    bool wakePending = false;
    std::shared_ptr<const std::function<void()>> wakeCallback;

    // Touched by the owner thread only.
    MessageInbox::Handler handler;
    PendingSend* current = nullptr;

    bool OnOwnerThread() const { return std::this_thread::get_id() == owner; }

    void Notify(std::unique_lock<std::mutex>& lock) {
        auto callback = wakeCallback;
        lock.unlock();
        ownerWake.notify_all();
        if (callback && *callback)
            (*callback)();
    }

    LResult CallHandler(const Message& message) { return handler ? handler(message) : 0; }

    void Complete(LResult result) {
        if (current == nullptr)
            return;
        {
            std::lock_guard lock(mutex);
            current->result = result;
            current->done = true;
        }
        current = nullptr;
        replyReady.notify_all();
    }

    void DispatchSent(PendingSend* record) {
        PendingSend* const outer = current;
        current = record;
        LResult result = 0;
        try {
            result = CallHandler(record->message);
        } catch (...) {
            // A sender must never be left waiting for a handler that has gone.
            Complete(0);
            current = outer;
            throw;
        }
        Complete(result);
        current = outer;
    }

    // Owner thread, lock held on entry and on return.
    bool DispatchOneSent(std::unique_lock<std::mutex>& lock) {
        if (sent.empty())
            return false;
        PendingSend* record = sent.front();
        sent.pop_front();
        lock.unlock();
        DispatchSent(record);
        lock.lock();
        return true;
    }
};

} // namespace detail

bool InboxHandle::Post(MessageId id, WParam wParam, LParam lParam) const {
    if (!state_)
        return false;
    std::unique_lock lock(state_->mutex);
    if (state_->closed)
        return false;
    state_->posted.push_back({id, wParam, lParam});
    state_->Notify(lock);
    return true;
}

LResult InboxHandle::Send(MessageId id, WParam wParam, LParam lParam) const {
    if (!state_)
        return 0;
    auto& state = *state_;
    if (state.OnOwnerThread()) {
        {
            std::lock_guard lock(state.mutex);
            if (state.closed)
                return 0;
        }
        // A direct call has no waiting sender to release early.
        detail::PendingSend* const outer = state.current;
        state.current = nullptr;
        struct Restore {
            detail::InboxState& state;
            detail::PendingSend* outer;
            ~Restore() { state.current = outer; }
        } restore{state, outer};
        return state.CallHandler({id, wParam, lParam});
    }

    detail::PendingSend record{{id, wParam, lParam}};
    std::unique_lock lock(state.mutex);
    if (state.closed)
        return 0;
    state.sent.push_back(&record);
    state.Notify(lock);
    lock.lock();
    state.replyReady.wait(lock, [&] { return record.done; });
    return record.result;
}

void InboxHandle::Wake() const {
    if (!state_)
        return;
    std::unique_lock lock(state_->mutex);
    state_->wakePending = true;
    state_->Notify(lock);
}

bool InboxHandle::IsClosed() const {
    if (!state_)
        return true;
    std::lock_guard lock(state_->mutex);
    return state_->closed;
}

bool InboxHandle::IsOwnerThread() const {
    return state_ && state_->OnOwnerThread();
}

bool InboxHandle::ServiceSentMessagesUntil(const std::function<bool()>& done) const {
    if (!state_ || !state_->OnOwnerThread())
        return false;
    auto& state = *state_;
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (state.DispatchOneSent(lock))
            continue;
        if (done())
            return true;
        state.ownerWake.wait(lock);
    }
}

MessageInbox::MessageInbox(Handler handler) : state_(std::make_shared<detail::InboxState>()) {
    state_->handler = std::move(handler);
}

MessageInbox::~MessageInbox() {
    Close();
    if (state_->OnOwnerThread())
        state_->handler = nullptr;
}

void MessageInbox::SetHandler(Handler handler) {
    if (state_->OnOwnerThread())
        state_->handler = std::move(handler);
}

void MessageInbox::SetWakeCallback(std::function<void()> callback) {
    auto shared = std::make_shared<const std::function<void()>>(std::move(callback));
    std::lock_guard lock(state_->mutex);
    state_->wakeCallback = std::move(shared);
}

bool MessageInbox::ProcessNext() {
    auto& state = *state_;
    if (!state.OnOwnerThread())
        return false;
    std::unique_lock lock(state.mutex);
    for (;;) {
        if (state.DispatchOneSent(lock))
            return true;
        if (!state.posted.empty()) {
            const Message message = state.posted.front();
            state.posted.pop_front();
            lock.unlock();
            state.CallHandler(message);
            return true;
        }
        if (state.closed)
            return false;
        if (state.wakePending) {
            state.wakePending = false;
            return true;
        }
        state.ownerWake.wait(lock);
    }
}

std::size_t MessageInbox::ProcessPending() {
    auto& state = *state_;
    if (!state.OnOwnerThread())
        return 0;
    std::size_t handled = 0;
    std::unique_lock lock(state.mutex);
    state.wakePending = false;
    // Messages posted by the handlers themselves wait for the next round, so that a message
    // that reposts itself cannot starve the surrounding event loop.
    std::size_t postedBudget = state.posted.size();
    for (;;) {
        if (state.DispatchOneSent(lock)) {
            ++handled;
            continue;
        }
        if (postedBudget == 0 || state.posted.empty())
            return handled;
        --postedBudget;
        const Message message = state.posted.front();
        state.posted.pop_front();
        lock.unlock();
        state.CallHandler(message);
        ++handled;
        lock.lock();
    }
}

std::size_t MessageInbox::ServiceSentMessages() {
    auto& state = *state_;
    if (!state.OnOwnerThread())
        return 0;
    std::size_t handled = 0;
    std::unique_lock lock(state.mutex);
    while (state.DispatchOneSent(lock))
        ++handled;
    return handled;
}

bool MessageInbox::ReplyMessage(LResult result) {
    auto& state = *state_;
    if (!state.OnOwnerThread() || state.current == nullptr)
        return false;
    state.Complete(result);
    return true;
}

void MessageInbox::Close() {
    auto& state = *state_;
    {
        std::lock_guard lock(state.mutex);
        state.closed = true;
        state.posted.clear();
        for (auto* record : state.sent) {
            record->result = 0;
            record->done = true;
        }
        state.sent.clear();
    }
    state.replyReady.notify_all();
    state.ownerWake.notify_all();
}

} // namespace cptlib
