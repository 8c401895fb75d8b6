// A program of the window subsystem that asks for a hidden answer at its console, as the
// launcher asks for a password, and shows what it read: its UTF-8 bytes in hexadecimal, which no
// console code page changes.
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"

#include <cstdio>
#include <string>

int wmain() {
    if (!cptlib::platform::StdinIsTerminal() || !cptlib::platform::StderrIsTerminal())
        return 2;
    std::fputs("Answer: ", stderr);
    std::fflush(stderr);
    std::string line;
    const bool read = cptlib::platform::ReadHiddenLine(line);
    std::fprintf(stderr, "read=%d answer=[", read ? 1 : 0);
    for (const char c : line)
        std::fprintf(stderr, "%02x", static_cast<unsigned char>(c));
    std::fputs("]\n", stderr);
    return read ? 0 : 1;
}
