#pragma once
// Turns the stop signals of a terminal session into calls on an ordinary thread: the signal
// handler only writes the signal's number into a pipe, a watcher thread reads it and calls the
// callback, which may take locks, allocate and post messages.

#include <functional>
#include <memory>

namespace cptlib::platform {

enum class StopSignal {
    Interrupt, // SIGINT: Ctrl+C at the terminal
    Terminate, // SIGTERM or SIGHUP: the session or the system asks the process to end
};

class SignalWatch {
public:
    // Installs the handlers; the previous dispositions come back with destruction. Only one
    // watch may exist at a time (RuntimeError otherwise).
    explicit SignalWatch(std::function<void(StopSignal)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace cptlib::platform
