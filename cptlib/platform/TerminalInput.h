#pragma once
// Reading answers at the terminal. A prompt's read ends early, as at the end of input, when
// Ctrl+C is pressed at it (the way Escape closes a window's question) and, for that read and
// every later one, once a stop signal has ended the run (SIGTERM or SIGHUP passed on by a
// SignalWatch).

#include <iosfwd>
#include <string>

namespace cptlib::platform {

// Standard input for prompts, with the rules above while it is a terminal; a plain reader of
// standard input otherwise.
std::istream& TerminalIn();

// Reads one line from stdin with the terminal's echo turned off (restored afterwards, also when
// the read fails). False at end of input, on Ctrl+C, after a stop signal, or when stdin is not
// a terminal.
bool ReadHiddenLine(std::string& line);

} // namespace cptlib::platform
