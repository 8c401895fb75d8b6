#pragma once
// Reading answers at the terminal. A prompt's read ends early, as at the end of input, when
// Ctrl+C is pressed at it (the way Escape closes a window's question) and, for that read and
// every later one, once a stop signal has ended the run (SIGTERM or SIGHUP passed on by a
// SignalWatch).

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace cptlib::platform {

// Standard input for prompts, with the rules above while it is a terminal; a plain reader of
// standard input otherwise.
std::istream& TerminalIn();

// Reads one line from stdin with the terminal's echo turned off (restored afterwards, also when
// the read fails). False at end of input, on Ctrl+C, after a stop signal, or when stdin is not
// a terminal.
bool ReadHiddenLine(std::string& line);

// Lets the program reach a prompt that waits for an answer: Wake, from any thread, has the read
// call its owner's handler on the reading thread (PromptOptions).
class PromptWake {
public:
    PromptWake();
    ~PromptWake();
    PromptWake(const PromptWake&) = delete;
    PromptWake& operator=(const PromptWake&) = delete;

    void Wake() const noexcept;
#ifdef _WIN32
    // The read's side: an event handle, signalled after Wake until cleared.
    void* Event() const {
        return event_;
    }
#else
    // The read's side: readable after Wake until cleared.
    int Descriptor() const {
        return read_;
    }
#endif
    void Clear() const noexcept;

private:
#ifdef _WIN32
    void* event_ = nullptr;
#else
    int read_ = -1;
    int write_ = -1;
#endif
};

struct PromptOptions {
    std::shared_ptr<const PromptWake> wake;
    // Called on the reading thread after each Wake; false ends the read as at the end of input.
    std::function<bool()> onWake;
    // Ctrl+C raises SIGINT as it does outside prompts (for a SignalWatch to pass on) instead of
    // ending the read.
    bool interruptIsSignal = false;
};

// A prompt of its own on standard input, with the rules above and `options`.
std::unique_ptr<std::istream> OpenPrompt(PromptOptions options);

} // namespace cptlib::platform
