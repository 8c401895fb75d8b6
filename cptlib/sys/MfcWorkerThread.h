#pragma once
// Base of the long-running workers beside the user interface: owns the thread, a cancel flag and
// the rules for starting, cancelling and joining.

#include "cptlib/sys/MessageInbox.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace cptlib {

class CMfcWorkerThread {
public:
    // Start flag: create the thread but let it begin Run only after Resume.
    static constexpr std::uint32_t kCreateSuspended = 0x4;

    CMfcWorkerThread();
    CMfcWorkerThread(const CMfcWorkerThread&) = delete;
    CMfcWorkerThread& operator=(const CMfcWorkerThread&) = delete;

    // Cancels a run still in progress and joins it. Run may still be executing while a derived
    // destructor runs, so a derived class whose Run touches its own members must call
    // CancelAndWait() first thing in its destructor.
    virtual ~CMfcWorkerThread();

    // Sets the cancel flag; with `wait`, joins the thread as Wait does.
    virtual void RequestCancel(bool wait);

protected:
    // The work; its result becomes the thread's exit code.
    virtual std::uint32_t Run() = 0;

public:
    virtual bool IsCancelled() const;

    // Refused (false, nothing changed) while a previous run still runs. Otherwise records the
    // calling thread as creator, clears the cancel flag and starts a new thread. False when the
    // thread cannot be created.
    bool Start(std::uint32_t creationFlags = 0);

    // Lets a thread started with kCreateSuspended begin; false when none is waiting.
    bool Resume();

    // Returns once the thread has ended (at once without a thread). On the creator thread, with
    // a notify inbox owned by that thread, the inbox's sent messages are handled meanwhile (posted
    // ones stay queued), so a worker blocked in a send to the creator cannot deadlock the join.
    void Wait();

    bool IsRunning() const;

    // Result of Run once the last run has ended; empty before that.
    std::optional<std::uint32_t> ExitCode() const;

    std::thread::id CreatorThreadId() const;

    // The inbox the worker reports to; Wait services it and the end of a run wakes it. Takes
    // effect at the next Start.
    void SetNotifyInbox(InboxHandle inbox);
    InboxHandle NotifyInbox() const;

protected:
    // Sets the cancel flag if a run is in progress and joins the thread; never throws.
    void CancelAndWait() noexcept;

private:
    struct RunState;

    mutable std::mutex mutex_; // guards the members below but not the thread object itself
    std::mutex joinMutex_;     // held while the thread object is joined or replaced
    std::unique_ptr<std::thread> thread_;
    std::thread::id worker_;
    std::shared_ptr<RunState> run_;
    std::thread::id creator_;
    InboxHandle notify_;
    std::atomic<bool> cancel_{false};
};

} // namespace cptlib
