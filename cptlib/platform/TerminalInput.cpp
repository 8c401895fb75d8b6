#include "cptlib/platform/TerminalInput.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>

namespace cptlib::platform {

namespace {

class EchoOff {
public:
    EchoOff() {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

    bool Active() const { return active_; }

private:
    termios saved_{};
    bool active_ = false;
};

} // namespace

bool ReadHiddenLine(std::string& line) {
    line.clear();
    EchoOff echo;
    if (!echo.Active())
        return false;
    return static_cast<bool>(std::getline(std::cin, line));
}

} // namespace cptlib::platform
