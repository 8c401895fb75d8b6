#pragma once
// The stop signals of the whole run, from the first start-up step to the end: one watch, whose
// signals go to whoever waits for them now (a question, the progress dialog). The start-up
// steps look between steps whether one has arrived.

#include "cptlib/platform/SignalWatch.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace sfx {

class RunStopSignals {
public:
    using Handler = std::function<void(const cptlib::platform::StopSignalEvent&)>;

    // Installs the process's signal watch (RuntimeError when one exists already).
    RunStopSignals();
    RunStopSignals(const RunStopSignals&) = delete;
    RunStopSignals& operator=(const RunStopSignals&) = delete;

    // Whether a stop signal has arrived since the watch began.
    bool Requested() const { return requested_.load(); }

    // While it lives, the signals go to its handler (on the watch's thread).
    class Route {
    public:
        ~Route();
        Route(const Route&) = delete;
        Route& operator=(const Route&) = delete;

    private:
        friend class RunStopSignals;
        explicit Route(RunStopSignals& owner) : owner_(owner) {}
        RunStopSignals& owner_;
    };
    // A signal that arrived while nobody took it is handed to `handler` at once. One route at a
    // time.
    [[nodiscard]] Route RouteTo(Handler handler);

    // Armed when the worker has been asked to stop: a stop signal that arrives later than
    // kForcedEndGrace after that ends the process on the watch's thread, with the cancelled
    // status, after removing `folder` (when not empty). A worker stuck in one long call never
    // looks at the cancel; one that looks ends well within the grace.
    static constexpr std::chrono::milliseconds kForcedEndGrace{2000};
    void ArmForcedEnd(std::string folder);
    void DisarmForcedEnd();

private:
    void OnSignal(const cptlib::platform::StopSignalEvent& event);

    std::mutex mutex_;
    Handler handler_;
    std::optional<cptlib::platform::StopSignalEvent> unhandled_;
    struct ForcedEnd {
        std::string folder;
        std::chrono::steady_clock::time_point armed;
    };
    std::optional<ForcedEnd> forcedEnd_;
    std::atomic<bool> requested_{false};
    // Last: its thread ends before the rest goes.
    std::optional<cptlib::platform::SignalWatch> watch_;
};

} // namespace sfx
