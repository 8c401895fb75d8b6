#include "cptlib/sys/MfcWorkerThread.h"

#include <condition_variable>
#include <system_error>

namespace cptlib {

// What the running thread shares with its object; outlives both through shared ownership.
struct CMfcWorkerThread::RunState {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    std::atomic<bool> finished{false};
    std::uint32_t exitCode = 0;
    InboxHandle inbox; // as set when the run started
};

CMfcWorkerThread::CMfcWorkerThread() = default;

CMfcWorkerThread::~CMfcWorkerThread() {
    CancelAndWait();
}

void CMfcWorkerThread::RequestCancel(bool wait) {
    cancel_.exchange(true);
    if (wait)
        Wait();
}

bool CMfcWorkerThread::IsCancelled() const {
    return cancel_.load();
}

bool CMfcWorkerThread::Start(std::uint32_t creationFlags) {
    std::lock_guard joining(joinMutex_);
    std::unique_ptr<std::thread> ended;
    {
        std::lock_guard lock(mutex_);
        if (run_ && !run_->finished.load())
            return false;
        ended = std::move(thread_);
        run_.reset();
    }
    // Joined outside the state lock: the thread may still be in its inbox's wake callback.
    if (ended && ended->joinable())
        ended->join();
    ended.reset();

    std::lock_guard lock(mutex_);
    creator_ = std::this_thread::get_id();
    cancel_.exchange(false);
    auto run = std::make_shared<RunState>();
    run->released = (creationFlags & kCreateSuspended) == 0;
    run->inbox = notify_;
    try {
        thread_ = std::make_unique<std::thread>([this, run] {
            {
                std::unique_lock gate(run->mutex);
                run->changed.wait(gate, [&] { return run->released; });
            }
            const std::uint32_t code = Run();
            {
                std::lock_guard done(run->mutex);
                run->exitCode = code;
                run->finished.store(true);
            }
            run->changed.notify_all();
            run->inbox.Wake();
        });
    } catch (const std::system_error&) {
        return false;
    }
    worker_ = thread_->get_id();
    run_ = std::move(run);
    return true;
}

bool CMfcWorkerThread::Resume() {
    std::shared_ptr<RunState> run;
    {
        std::lock_guard lock(mutex_);
        run = run_;
    }
    if (!run)
        return false;
    {
        std::lock_guard gate(run->mutex);
        if (run->released)
            return false;
        run->released = true;
    }
    run->changed.notify_all();
    return true;
}

void CMfcWorkerThread::Wait() {
    std::shared_ptr<RunState> run;
    std::thread::id worker;
    std::thread::id creator;
    {
        std::lock_guard lock(mutex_);
        if (!thread_)
            return;
        run = run_;
        worker = worker_;
        creator = creator_;
    }
    const auto self = std::this_thread::get_id();
    // Joining itself would never return.
    if (self == worker)
        return;

    if (run && !run->finished.load()) {
        if (self == creator && run->inbox.IsOwnerThread()) {
            run->inbox.ServiceSentMessagesUntil([&] { return run->finished.load(); });
        } else {
            std::unique_lock gate(run->mutex);
            run->changed.wait(gate, [&] { return run->finished.load(); });
        }
    }

    std::lock_guard joining(joinMutex_);
    std::thread* thread = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (thread_ && worker_ == worker)
            thread = thread_.get();
    }
    if (thread && thread->joinable())
        thread->join();
}

bool CMfcWorkerThread::IsRunning() const {
    std::lock_guard lock(mutex_);
    return run_ && !run_->finished.load();
}

std::optional<std::uint32_t> CMfcWorkerThread::ExitCode() const {
    std::lock_guard lock(mutex_);
    if (!run_ || !run_->finished.load())
        return std::nullopt;
    std::lock_guard done(run_->mutex);
    return run_->exitCode;
}

std::thread::id CMfcWorkerThread::CreatorThreadId() const {
    std::lock_guard lock(mutex_);
    return creator_;
}

void CMfcWorkerThread::SetNotifyInbox(InboxHandle inbox) {
    std::lock_guard lock(mutex_);
    notify_ = std::move(inbox);
}

InboxHandle CMfcWorkerThread::NotifyInbox() const {
    std::lock_guard lock(mutex_);
    return notify_;
}

void CMfcWorkerThread::CancelAndWait() noexcept {
    if (IsRunning())
        cancel_.exchange(true);
    // A thread started suspended would otherwise never end.
    Resume();
    for (;;) {
        try {
            Wait();
            return;
        } catch (...) {
            // A failing message handler must not leave the thread unjoined; keep servicing.
        }
    }
}

} // namespace cptlib
