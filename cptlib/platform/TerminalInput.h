#pragma once
// Reading an answer at the terminal without showing it.

#include <string>

namespace cptlib::platform {

// Reads one line from stdin with the terminal's echo turned off (restored afterwards, also when
// the read fails). False at end of input or when stdin is not a terminal.
bool ReadHiddenLine(std::string& line);

} // namespace cptlib::platform
