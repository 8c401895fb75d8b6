#pragma once
// Writing to a pipe whose reader has gone: the write fails and the program goes on, rather than
// the process being killed.

namespace cptlib::platform {

// Process-wide, once at start-up. Programs started later get the default action back.
void IgnoreBrokenPipe();

// The same for a write beyond the file size limit (SIGXFSZ): the write fails with EFBIG.
void IgnoreFileSizeLimit();

} // namespace cptlib::platform
