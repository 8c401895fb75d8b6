#include "cptlib/platform/TerminalInput.h"

#include "cptlib/platform/SignalWatch.h"

#include "cptlib/Exceptions.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <istream>
#include <streambuf>
#include <system_error>

namespace cptlib::platform {

namespace {

// The terminal's settings for one read: Ctrl+C ends the line instead of raising SIGINT, so
// that the read learns of it; the echo goes off on request. Restored with the object.
class PromptMode {
public:
    PromptMode(bool hidden, bool interruptIsSignal) {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios mode = saved_;
        if (!interruptIsSignal && saved_.c_cc[VINTR] != _POSIX_VDISABLE) {
            interruptChar_ = static_cast<char>(saved_.c_cc[VINTR]);
            mode.c_lflag &= static_cast<tcflag_t>(~ISIG);
            mode.c_cc[VEOL] = saved_.c_cc[VINTR];
        }
        if (hidden) {
            mode.c_lflag &= static_cast<tcflag_t>(~ECHO);
            mode.c_lflag |= ECHONL;
        }
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &mode) == 0;
    }
    ~PromptMode() {
        if (active_)
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    PromptMode(const PromptMode&) = delete;
    PromptMode& operator=(const PromptMode&) = delete;

    bool Active() const { return active_; }
    // The character that Ctrl+C puts into the line; 0 when it raises no signal anyway.
    char InterruptChar() const { return active_ ? interruptChar_ : '\0'; }

private:
    termios saved_{};
    bool active_ = false;
    char interruptChar_ = '\0';
};

bool StopSignalled() {
    pollfd fd{detail::StopSignalDescriptor(), POLLIN, 0};
    return fd.fd >= 0 && ::poll(&fd, 1, 0) > 0;
}

// Standard input, one read at a time, ending at Ctrl+C or a stop signal.
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
        const PromptMode mode(hidden_, options_.interruptIsSignal);
        const int wake = options_.wake ? options_.wake->Descriptor() : -1;
        // Negative descriptors are skipped by poll.
        pollfd fds[3] = {{STDIN_FILENO, POLLIN, 0},
                         {detail::StopSignalDescriptor(), POLLIN, 0},
                         {wake, POLLIN, 0}};
        for (;;) {
            const int ready = ::poll(fds, 3, -1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0 || fds[1].revents != 0)
                return traits_type::eof();
            if (fds[2].revents != 0) {
                options_.wake->Clear();
                if (options_.onWake && !options_.onWake())
                    return traits_type::eof();
                if (StopSignalled())
                    return traits_type::eof();
                continue;
            }
            break;
        }
        ssize_t count;
        do
            count = ::read(STDIN_FILENO, buffer_, sizeof buffer_);
        while (count < 0 && errno == EINTR);
        if (count <= 0)
            return traits_type::eof();
        const char interrupt = mode.InterruptChar();
        // The line Ctrl+C ended is dropped: the prompt sees the end of input.
        if (interrupt != '\0' && buffer_[count - 1] == interrupt)
            return traits_type::eof();
        setg(buffer_, buffer_, buffer_ + count);
        return traits_type::to_int_type(*gptr());
    }

private:
    bool hidden_;
    PromptOptions options_;
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
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        CPT_THROW(SystemError(errno, std::generic_category(), "Could not create a prompt pipe"));
    read_ = fds[0];
    write_ = fds[1];
}

PromptWake::~PromptWake() {
    ::close(read_);
    ::close(write_);
}

void PromptWake::Wake() const noexcept {
    // A full pipe already wakes the read.
    [[maybe_unused]] const ssize_t written = ::write(write_, "w", 1);
}

void PromptWake::Clear() const noexcept {
    char buffer[64];
    while (::read(read_, buffer, sizeof buffer) > 0) {
    }
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
    if (::isatty(STDIN_FILENO) != 1)
        return false;
    PromptStream stream(true);
    return static_cast<bool>(std::getline(stream, line));
}

} // namespace cptlib::platform
