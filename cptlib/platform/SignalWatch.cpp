#include "cptlib/platform/SignalWatch.h"

#include "cptlib/Exceptions.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <thread>

namespace cptlib::platform {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// What the process was given, taken before main() can change it: `nohup` and a shell's
// background jobs start it with hang-up, interrupt or quit ignored, and that choice is kept.
struct StartDispositions {
    sigset_t ignored;
    StartDispositions() {
        sigemptyset(&ignored);
        for (int number = 1; number < NSIG; ++number) {
            struct sigaction current {};
            if (::sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN)
                sigaddset(&ignored, number);
        }
    }
};
const StartDispositions g_startDispositions;

// SIGTERM is always watched: only the stop signals of a session are left to the starter.
bool KeptIgnored(int number) {
    return number != SIGTERM && IgnoredAtStart(number);
}

// The handler's pipe lives as long as the process: a handler still running on another thread
// while a watch ends must never write into a descriptor number that has been reused.
struct SignalPipe {
    int read = -1;
    int write = -1;
};

const SignalPipe& ProcessSignalPipe() {
    static const SignalPipe pipe = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
            CPT_THROW(SystemError(errno, std::generic_category(), "Could not create signal pipe"));
        return SignalPipe{fds[0], fds[1]};
    }();
    return pipe;
}

// Becomes readable when a stop signal has ended the run; never drained. One descriptor, as a
// run under a low descriptor limit needs every one.
const SignalPipe& ProcessStopPipe() {
    static const SignalPipe pipe = [] {
        const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return SignalPipe{fd, fd};
    }();
    return pipe;
}

// Written into the signal pipe by a watch that ends: no signal has this number.
constexpr unsigned char kEndWatch = 0;

std::atomic<int> g_writeEnd{-1};
std::atomic<bool> g_watchExists{false};

// The byte written for a signal that the kernel sent (the terminal's signals come that way).
constexpr unsigned char kFromKernel = 0x80;

extern "C" void OnStopSignal(int number, siginfo_t* info, void*) {
    const int saved = errno;
    const int fd = g_writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        unsigned char byte = static_cast<unsigned char>(number);
        if (info != nullptr && info->si_code == SI_KERNEL)
            byte |= kFromKernel;
        // A full pipe already holds enough stop requests.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = saved;
}

void Drain(int fd) {
    unsigned char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

struct SignalWatch::State {
    std::function<void(const StopSignalEvent&)> onSignal;
    struct sigaction previous[std::size(kSignals)]{};
    std::thread watcher;

    void Watch(int signalRead) {
        pollfd fds[1] = {{signalRead, POLLIN, 0}};
        for (;;) {
            if (::poll(fds, 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                return;
            }
            unsigned char numbers[64];
            const ssize_t count = ::read(signalRead, numbers, sizeof numbers);
            // The end comes before any signal that arrived with it.
            if (count > 0 && std::find(numbers, numbers + count, kEndWatch) != numbers + count)
                return;
            for (ssize_t i = 0; i < count; ++i) {
                StopSignalEvent event;
                event.fromTerminal = (numbers[i] & kFromKernel) != 0;
                const int number = numbers[i] & ~kFromKernel;
                event.kind = number == SIGINT    ? StopSignal::Interrupt
                             : number == SIGHUP  ? StopSignal::Hangup
                             : number == SIGQUIT ? StopSignal::Quit
                                                 : StopSignal::Terminate;
                try {
                    onSignal(event);
                } catch (...) {
                    // The watcher must outlive a failing callback; the next signal tries again.
                }
                // After the callback, so that what it posted is there when a prompt gives up.
                if (event.kind != StopSignal::Interrupt)
                    EndPrompts();
            }
        }
    }
};

namespace detail {
int StopSignalDescriptor() {
    return ProcessStopPipe().read;
}
} // namespace detail

SignalWatch::SignalWatch(std::function<void(StopSignal)> onSignal)
    : SignalWatch(std::function<void(const StopSignalEvent&)>(
          [onSignal = std::move(onSignal)](const StopSignalEvent& event) {
              onSignal(event.kind);
          })) {}

SignalWatch::SignalWatch(std::function<void(const StopSignalEvent&)> onSignal)
    : state_(std::make_unique<State>()) {
    if (g_watchExists.exchange(true))
        CPT_THROW(RuntimeError("A signal watch exists already"));
    try {
        const SignalPipe& pipe = ProcessSignalPipe();
        Drain(pipe.read);
        ProcessStopPipe();
        state_->onSignal = std::move(onSignal);
        state_->watcher = std::thread([state = state_.get(), fd = pipe.read] { state->Watch(fd); });

        g_writeEnd.store(pipe.write);
        struct sigaction action {};
        action.sa_sigaction = OnStopSignal;
        sigemptyset(&action.sa_mask);
        // Interrupted system calls elsewhere in the program resume as if nothing happened.
        action.sa_flags = SA_RESTART | SA_SIGINFO;
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            if (KeptIgnored(kSignals[i]))
                ::sigaction(kSignals[i], nullptr, &state_->previous[i]);
            else
                ::sigaction(kSignals[i], &action, &state_->previous[i]);
        }
    } catch (...) {
        if (state_->watcher.joinable()) {
            EndWatcher();
            state_->watcher.join();
        }
        g_watchExists.store(false);
        throw;
    }
}

void SignalWatch::EndWatcher() {
    const unsigned char end = kEndWatch;
    while (::write(ProcessSignalPipe().write, &end, 1) < 0 && errno == EINTR) {
    }
}

void SignalWatch::EndPrompts() {
    if (ProcessStopPipe().write >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(ProcessStopPipe().write, &one, sizeof one);
    }
}

SignalWatch::~SignalWatch() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &state_->previous[i], nullptr);
    g_writeEnd.store(-1);
    EndWatcher();
    state_->watcher.join();
    g_watchExists.store(false);
}

int SignalNumber(StopSignal kind) {
    switch (kind) {
    case StopSignal::Interrupt:
        return SIGINT;
    case StopSignal::Hangup:
        return SIGHUP;
    case StopSignal::Quit:
        return SIGQUIT;
    case StopSignal::Terminate:
        break;
    }
    return SIGTERM;
}

bool IgnoredAtStart(int number) {
    return number > 0 && number < NSIG && sigismember(&g_startDispositions.ignored, number) == 1;
}

namespace detail {
const sigset_t& SignalsIgnoredAtStart() {
    return g_startDispositions.ignored;
}
} // namespace detail

} // namespace cptlib::platform
