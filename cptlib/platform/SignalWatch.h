#pragma once
// Turns the stop signals of a terminal session into calls on an ordinary thread: the signal
// handler only writes the signal's number into a pipe, a watcher thread reads it and calls the
// callback, which may take locks, allocate and post messages.

#include <csignal>
#include <functional>
#include <memory>

namespace cptlib::platform {

enum class StopSignal {
    Interrupt, // SIGINT: Ctrl+C at the terminal
    Terminate, // SIGTERM: the system or a user asks the process to end
    Hangup,    // SIGHUP: the terminal session ended
    Quit,      // SIGQUIT: Ctrl+\ at the terminal
};

// The system's number of the signal, to pass it on.
int SignalNumber(StopSignal kind);

struct StopSignalEvent {
    StopSignal kind = StopSignal::Terminate;
    // Sent by the terminal to its whole foreground process group (Ctrl+C, a hang-up), so a
    // program the launcher started in that group has received it too.
    bool fromTerminal = false;
};

// Whether `number` was ignored when the process started. A hang-up, interrupt or quit
// ignored then stays ignored: no watch takes it, and programs started keep ignoring it.
bool IgnoredAtStart(int number);

// While a watch exists, SIGTERM and SIGHUP also end every terminal prompt of the process, the
// open one and all later ones (TerminalInput.h), after the callback has seen the signal.
class SignalWatch {
public:
    // Installs the handlers; the previous dispositions come back with destruction. Only one
    // watch may exist at a time (RuntimeError otherwise).
    explicit SignalWatch(std::function<void(StopSignal)> onSignal);
    explicit SignalWatch(std::function<void(const StopSignalEvent&)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Ends every terminal prompt of the process, the open one and all later ones, as SIGTERM
    // does. From any thread, the callback included.
    static void EndPrompts();

private:
    static void EndWatcher();
    struct State;
    std::unique_ptr<State> state_;
};

#ifndef _WIN32
namespace detail {
// Every signal ignored when the process started.
const sigset_t& SignalsIgnoredAtStart();
// Readable for good once a watch has passed on SIGTERM or SIGHUP; -1 when it cannot be made.
int StopSignalDescriptor();
} // namespace detail
#endif

} // namespace cptlib::platform
