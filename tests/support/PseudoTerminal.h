#pragma once
// A program run on a pseudo-terminal of its own, as a user at a terminal runs it: the terminal
// is its standard streams and its controlling terminal (so Ctrl+C written to it raises SIGINT
// in the program), 80 columns wide unless told otherwise.

#include "cptlib/platform/Process.h"
#include "cptlib/platform/Spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

class PseudoTerminal {
public:
    using Clock = std::chrono::steady_clock;

    explicit PseudoTerminal(unsigned short columns = 80, unsigned short rows = 24) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("cannot open a pseudo-terminal");
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            throw std::runtime_error("no name for the pseudo-terminal");
        slaveName_ = name;
        winsize size{};
        size.ws_col = columns;
        size.ws_row = rows;
        ::ioctl(master_, TIOCSWINSZ, &size);
    }
    ~PseudoTerminal() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            cptlib::platform::WaitForProcess(pid_);
        }
        if (master_ >= 0)
            ::close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // `env` replaces the environment entirely.
    void Start(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
               const std::string& directory = {}) {
        const int slave = ::open(slaveName_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0)
            throw std::runtime_error("cannot open " + slaveName_);
        cptlib::platform::SpawnRequest request;
        request.program = argv.at(0);
        request.arguments.assign(argv.begin() + 1, argv.end());
        request.environment = env;
        request.directory = directory;
        request.input = request.output = request.error = cptlib::platform::Stream::From(slave);
        request.controllingTerminal = slaveName_;
        const int error = cptlib::platform::Spawn(request, pid_);
        ::close(slave);
        if (error != 0)
            throw std::runtime_error("cannot start " + argv[0]);
    }

    // What the user types; "\x03" is Ctrl+C, "\n" Enter.
    void Type(const std::string& bytes) {
        [[maybe_unused]] const ssize_t written = ::write(master_, bytes.data(), bytes.size());
    }

    void Signal(int number) const { ::kill(pid_, number); }

    // The window resized, as a terminal emulator does it: the new size, then SIGWINCH.
    void Resize(unsigned short columns, unsigned short rows = 24) const {
        winsize size{};
        size.ws_col = columns;
        size.ws_row = rows;
        ::ioctl(master_, TIOCSWINSZ, &size);
        Signal(SIGWINCH);
    }

    // Collects output until `text` has appeared after what was seen before (true) or time is up.
    bool WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (output_.find(text, seen_) != std::string::npos) {
                seen_ = output_.find(text, seen_) + text.size();
                return true;
            }
            if (Clock::now() >= deadline || !Pump(std::chrono::milliseconds(20)))
                return output_.find(text, seen_) != std::string::npos;
        }
    }

    // Waits for the end, reading the output meanwhile; its exit status (128 + N when signal N
    // ended it), or -1 when it still runs after `timeout`.
    int WaitForExit(std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (status_ < 0) {
            int raw = 0;
            if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
                status_ = WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : WEXITSTATUS(raw);
                break;
            }
            if (Clock::now() >= deadline)
                return -1;
            Pump(std::chrono::milliseconds(10));
        }
        Pump(std::chrono::milliseconds(0));
        return status_;
    }

    // Whether the terminal echoes what is typed now (the program's setting, read through the
    // master side).
    bool Echoing() const {
        termios mode{};
        if (::tcgetattr(master_, &mode) != 0)
            throw std::runtime_error("cannot read the terminal's settings");
        return (mode.c_lflag & ECHO) != 0;
    }

    const std::string& Output() const { return output_; }
    pid_t Pid() const { return pid_; }

private:
    // Reads what is there within `wait`; false once nobody holds the terminal's far end.
    bool Pump(std::chrono::milliseconds wait) {
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(wait.count())) <= 0)
            return true;
        char buffer[4096];
        const ssize_t count = ::read(master_, buffer, sizeof buffer);
        if (count <= 0) {
            // Let the caller's wait run its course rather than spin.
            ::poll(nullptr, 0, static_cast<int>(wait.count()));
            return false;
        }
        output_.append(buffer, static_cast<std::size_t>(count));
        return true;
    }

    int master_ = -1;
    std::string slaveName_;
    pid_t pid_ = -1;
    int status_ = -1;
    std::string output_;
    std::size_t seen_ = 0;
};

} // namespace testsupport
