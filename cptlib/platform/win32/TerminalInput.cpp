#include "cptlib/platform/TerminalInput.h"

#include "cptlib/Exceptions.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/win32/Console.h"
#include "cptlib/platform/win32/Wide.h"

#include <istream>
#include <streambuf>
#include <system_error>

namespace cptlib::platform {

namespace {

// Set by Ctrl+C while a prompt takes it.
HANDLE PromptInterruptEvent() {
    static const HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return event;
}

// Installed last, so asked first: Ctrl+C ends the read and is no stop signal, with or without a
// watch.
BOOL WINAPI OnPromptInterrupt(DWORD type) {
    if (type != CTRL_C_EVENT)
        return FALSE;
    SetEvent(PromptInterruptEvent());
    return TRUE;
}

bool StopSignalled() {
    return WaitForSingleObject(detail::StopEvent(), 0) == WAIT_OBJECT_0;
}

// The console's input settings for one read: echo off on request, Ctrl+C to the prompt unless
// it stays a stop signal. Restored with the object.
class PromptMode {
public:
    PromptMode(HANDLE input, bool hidden, bool interruptIsSignal) : input_(input) {
        if (!GetConsoleMode(input_, &saved_))
            return;
        DWORD mode = saved_ | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT;
        if (hidden)
            mode &= ~static_cast<DWORD>(ENABLE_ECHO_INPUT);
        else
            mode |= ENABLE_ECHO_INPUT;
        active_ = SetConsoleMode(input_, mode) != 0;
        if (active_ && !interruptIsSignal) {
            takesInterrupt_ = true;
            ResetEvent(PromptInterruptEvent());
            SetConsoleCtrlHandler(OnPromptInterrupt, TRUE);
        }
    }
    ~PromptMode() {
        if (takesInterrupt_)
            SetConsoleCtrlHandler(OnPromptInterrupt, FALSE);
        if (active_)
            SetConsoleMode(input_, saved_);
    }
    PromptMode(const PromptMode&) = delete;
    PromptMode& operator=(const PromptMode&) = delete;

    bool Active() const { return active_; }
    bool TakesInterrupt() const { return takesInterrupt_; }

private:
    HANDLE input_;
    DWORD saved_ = 0;
    bool active_ = false;
    bool takesInterrupt_ = false;
};

// Standard input, one read at a time, ending at Ctrl+C or a stop signal. A console is read as
// UTF-16 and handed on as UTF-8; redirected input passes as it is.
class PromptBuffer : public std::streambuf {
public:
    PromptBuffer(bool hidden, PromptOptions options)
        : hidden_(hidden), options_(std::move(options)) {}

protected:
    int_type underflow() override {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        if (StopSignalled())
            return traits_type::eof();
        detail::UseStartersConsole();
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        if (input == nullptr || input == INVALID_HANDLE_VALUE)
            return traits_type::eof();
        DWORD mode = 0;
        if (!GetConsoleMode(input, &mode))
            return ReadRedirected(input);
        const PromptMode prompt(input, hidden_, options_.interruptIsSignal);
        // A console's handle is signalled while it holds input events; the read itself waits
        // for the whole line.
        for (;;) {
            HANDLE handles[4] = {input, detail::StopEvent(), PromptInterruptEvent(),
                                 options_.wake ? options_.wake->Event() : nullptr};
            const DWORD count = options_.wake ? 4 : 3;
            const DWORD ready = WaitForMultipleObjects(count, handles, FALSE, INFINITE);
            if (ready == WAIT_OBJECT_0 + 1 || ready == WAIT_OBJECT_0 + 2 || ready == WAIT_FAILED)
                return traits_type::eof();
            if (ready == WAIT_OBJECT_0 + 3) {
                options_.wake->Clear();
                if (options_.onWake && !options_.onWake())
                    return traits_type::eof();
                if (StopSignalled())
                    return traits_type::eof();
                continue;
            }
            // Events other than keys (focus, mouse, size) make no line.
            INPUT_RECORD record{};
            DWORD peeked = 0;
            if (PeekConsoleInputW(input, &record, 1, &peeked) && peeked == 1 &&
                record.EventType != KEY_EVENT) {
                ReadConsoleInputW(input, &record, 1, &peeked);
                continue;
            }
            break;
        }
        wchar_t wide[256];
        DWORD read = 0;
        if (!ReadConsoleW(input, wide, static_cast<DWORD>(std::size(wide)), &read, nullptr) ||
            read == 0)
            return traits_type::eof();
        // Ctrl+C during the read aborts it; the line it ended is dropped.
        if (prompt.TakesInterrupt() &&
            WaitForSingleObject(PromptInterruptEvent(), 0) == WAIT_OBJECT_0)
            return traits_type::eof();
        if (StopSignalled())
            return traits_type::eof();
        // Echo off also swallows the line break the user typed.
        if (hidden_ && prompt.Active())
            WriteConsoleW(GetStdHandle(STD_ERROR_HANDLE), L"\r\n", 2, nullptr, nullptr);
        std::wstring line;
        for (const wchar_t c : std::wstring_view(wide, read))
            if (c != L'\r')
                line += c;
        // Text that does not convert (a lone surrogate) ends the read like a failed one.
        text_ = Narrow(line);
        if (text_.empty() && !line.empty())
            return traits_type::eof();
        setg(text_.data(), text_.data(), text_.data() + text_.size());
        return traits_type::to_int_type(*gptr());
    }

private:
    int_type ReadRedirected(HANDLE input) {
        DWORD read = 0;
        if (!ReadFile(input, buffer_, sizeof buffer_, &read, nullptr) || read == 0)
            return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + read);
        return traits_type::to_int_type(*gptr());
    }

    bool hidden_;
    PromptOptions options_;
    std::string text_;
    char buffer_[512];
};

class PromptStream : public std::istream {
public:
    explicit PromptStream(bool hidden, PromptOptions options = {})
        : std::istream(nullptr), buffer_(hidden, std::move(options)) {
        rdbuf(&buffer_);
    }

private:
    PromptBuffer buffer_;
};

} // namespace

PromptWake::PromptWake() {
    event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event_ == nullptr)
        CPT_THROW(SystemError(static_cast<int>(GetLastError()), std::system_category(),
                              "Could not create a prompt event"));
}

PromptWake::~PromptWake() {
    CloseHandle(event_);
}

void PromptWake::Wake() const noexcept {
    SetEvent(event_);
}

void PromptWake::Clear() const noexcept {
    ResetEvent(event_);
}

std::unique_ptr<std::istream> OpenPrompt(PromptOptions options) {
    return std::make_unique<PromptStream>(false, std::move(options));
}

std::istream& TerminalIn() {
    static PromptStream stream(false);
    // Each prompt starts afresh after one that Ctrl+C ended.
    stream.clear();
    return stream;
}

bool ReadHiddenLine(std::string& line) {
    line.clear();
    detail::UseStartersConsole();
    DWORD mode = 0;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        return false;
    PromptStream stream(true);
    return static_cast<bool>(std::getline(stream, line));
}

} // namespace cptlib::platform
