#include "launcher/RunStopSignals.h"

namespace sfx {

RunStopSignals::RunStopSignals() {
    watch_.emplace(
        Handler([this](const cptlib::platform::StopSignalEvent& event) { OnSignal(event); }));
}

void RunStopSignals::OnSignal(const cptlib::platform::StopSignalEvent& event) {
    requested_ = true;
    std::lock_guard lock(mutex_);
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

RunStopSignals::Route::~Route() {
    std::lock_guard lock(owner_.mutex_);
    owner_.handler_ = nullptr;
}

} // namespace sfx
