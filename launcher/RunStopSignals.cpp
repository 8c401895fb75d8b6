#include "launcher/RunStopSignals.h"

#include "launcher/ExitStatus.h"
#include "launcher/TemporaryFolder.h"

#include <cstdlib>

namespace sfx {

RunStopSignals::RunStopSignals() {
    watch_.emplace(
        Handler([this](const cptlib::platform::StopSignalEvent& event) { OnSignal(event); }));
}

void RunStopSignals::OnSignal(const cptlib::platform::StopSignalEvent& event) {
    requested_ = true;
    std::lock_guard lock(mutex_);
    if (forcedEnd_ && std::chrono::steady_clock::now() - forcedEnd_->armed >= kForcedEndGrace) {
        // The worker may still be writing into the folder: a few passes catch what it adds.
        for (int pass = 0; pass < 3 && !forcedEnd_->folder.empty(); ++pass) {
            if (RemoveTemporaryFolder(forcedEnd_->folder))
                break;
        }
        std::_Exit(ProcessExitStatus(kExitCancelled));
    }
    if (handler_)
        handler_(event);
    else
        unhandled_ = event;
}

RunStopSignals::Route RunStopSignals::RouteTo(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
    if (unhandled_) {
        const cptlib::platform::StopSignalEvent event = *unhandled_;
        unhandled_.reset();
        handler_(event);
    }
    return Route(*this);
}

void RunStopSignals::ArmForcedEnd(std::string folder) {
    std::lock_guard lock(mutex_);
    if (!forcedEnd_)
        forcedEnd_ = ForcedEnd{std::move(folder), std::chrono::steady_clock::now()};
}

void RunStopSignals::DisarmForcedEnd() {
    std::lock_guard lock(mutex_);
    forcedEnd_.reset();
}

RunStopSignals::Route::~Route() {
    std::lock_guard lock(owner_.mutex_);
    owner_.handler_ = nullptr;
}

} // namespace sfx
