#include "cptlib/platform/SignalWatch.h"

#include "cptlib/Exceptions.h"
#include "cptlib/platform/win32/Console.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>
#include <thread>

namespace cptlib::platform {

namespace detail {

HANDLE StopEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

} // namespace detail

namespace {

// The session's end and a console's closing end the process once their handler returns: the
// run gets this long after its callback to clean up (the system allows about five seconds).
constexpr DWORD kCleanupTime = 4500;

constexpr UINT kEndWindow = WM_APP + 1;

std::atomic<bool> g_watchExists{false};

} // namespace

namespace {

struct WatchState {
    std::function<void(const StopSignalEvent&)> onSignal;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<StopSignalEvent> queue;
    std::uint64_t posted = 0;
    std::uint64_t handled = 0;
    bool ending = false;
    std::thread watcher;
    std::thread windowThread;
    HWND window = nullptr;
    // Set when the watch ends, for a handler that holds the process open for the cleanup.
    HANDLE ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);

    ~WatchState() {
        if (ended != nullptr)
            CloseHandle(ended);
    }

    std::uint64_t Post(const StopSignalEvent& event) {
        std::lock_guard lock(mutex);
        queue.push_back(event);
        changed.notify_all();
        return ++posted;
    }

    // For the events after which the system ends the process: the callback has run, and the
    // run had its time to clean up, unless it ended the watch before.
    void PostAndHold(const StopSignalEvent& event) {
        const std::uint64_t number = Post(event);
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return handled >= number || ending; });
        }
        WaitForSingleObject(ended, kCleanupTime);
    }

    void Watch() {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return ending || !queue.empty(); });
            if (ending)
                return;
            const StopSignalEvent event = queue.front();
            queue.pop_front();
            lock.unlock();
            try {
                onSignal(event);
            } catch (...) {
                // The watcher must outlive a failing callback; the next signal tries again.
            }
            if (event.kind != StopSignal::Interrupt)
                SignalWatch::EndPrompts();
            lock.lock();
            ++handled;
            changed.notify_all();
        }
    }
};

} // namespace

struct SignalWatch::State : WatchState {};

namespace {

// The watch that the console's handler and the window reach; guarded by g_currentMutex.
std::mutex g_currentMutex;
WatchState* g_current = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD type) {
    std::unique_lock lock(g_currentMutex);
    WatchState* state = g_current;
    if (state == nullptr)
        return FALSE;
    // Every console event reaches all processes of the console, a setup started in it too.
    StopSignalEvent event;
    event.fromTerminal = true;
    switch (type) {
    case CTRL_C_EVENT:
        event.kind = StopSignal::Interrupt;
        break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        event.kind = StopSignal::Terminate;
        break;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        event.kind = StopSignal::Hangup;
        break;
    default:
        return FALSE;
    }
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        state->Post(event);
        return TRUE;
    }
    // The lock is held on: the watch's end waits for it, after releasing this wait.
    state->PostAndHold(event);
    return TRUE;
}

LRESULT CALLBACK WatchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<WatchState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_CLOSE:
        // A close request, as `taskkill` without /f sends it: the run ends as on SIGTERM.
        if (state != nullptr)
            state->Post({StopSignal::Terminate, false});
        return 0;
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        if (wParam != FALSE && state != nullptr)
            state->PostAndHold({StopSignal::Hangup, false});
        return 0;
    case kEndWindow:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A hidden top-level window: a program of the window subsystem learns of a close request and
// of the session's end only by its windows' messages. Message-only windows get neither.
void RunWatchWindow(WatchState* state, std::promise<HWND>& created) {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    static const wchar_t kClassName[] = L"cptlib.StopWatch";
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WatchWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                        nullptr, nullptr, instance, nullptr);
    if (window != nullptr)
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(state));
    created.set_value(window);
    if (window == nullptr)
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

SignalWatch::SignalWatch(std::function<void(StopSignal)> onSignal)
    : SignalWatch(std::function<void(const StopSignalEvent&)>(
          [onSignal = std::move(onSignal)](const StopSignalEvent& event) {
              onSignal(event.kind);
          })) {}

SignalWatch::SignalWatch(std::function<void(const StopSignalEvent&)> onSignal)
    : state_(std::make_unique<State>()) {
    if (g_watchExists.exchange(true))
        CPT_THROW(RuntimeError("A signal watch exists already"));
    detail::StopEvent();
    state_->onSignal = std::move(onSignal);
    state_->watcher = std::thread([state = state_.get()] { state->Watch(); });
    {
        std::lock_guard lock(g_currentMutex);
        g_current = state_.get();
    }
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // Without a window (no window station) only the console's events are watched.
    std::promise<HWND> created;
    std::future<HWND> window = created.get_future();
    state_->windowThread =
        std::thread([state = state_.get(), &created] { RunWatchWindow(state, created); });
    state_->window = window.get();
}

void SignalWatch::EndWatcher() {}

void SignalWatch::EndPrompts() {
    SetEvent(detail::StopEvent());
}

SignalWatch::~SignalWatch() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    // First release a handler that holds the process open, then wait until none runs.
    {
        std::lock_guard lock(state_->mutex);
        state_->ending = true;
        state_->changed.notify_all();
    }
    SetEvent(state_->ended);
    {
        std::lock_guard lock(g_currentMutex);
        g_current = nullptr;
    }
    if (state_->window != nullptr)
        PostMessageW(state_->window, kEndWindow, 0, 0);
    state_->windowThread.join();
    state_->watcher.join();
    g_watchExists.store(false);
}

// The C runtime's numbers; a console has no hang-up, and Ctrl+Break stands for quit.
int SignalNumber(StopSignal kind) {
    switch (kind) {
    case StopSignal::Interrupt:
        return SIGINT;
    case StopSignal::Quit:
        return SIGBREAK;
    case StopSignal::Hangup:
    case StopSignal::Terminate:
        break;
    }
    return SIGTERM;
}

// A process started with Ctrl+C disabled inherits that as a console flag of its own, which
// no call reads back; a handler installed later does not change it, so nothing is lost.
bool IgnoredAtStart(int /*number*/) {
    return false;
}

} // namespace cptlib::platform
