#pragma once
// What the console seams share on Windows: the stop event that ends prompts, and the starter's
// console for a program without one of its own.

#include <windows.h>

namespace cptlib::platform::detail {

// Set for good once a stop has ended the run; prompts wait on it.
HANDLE StopEvent();

// A program of the window subsystem has no console; started from one, it joins that console for
// the standard streams that were not handed to it. Once per process; later calls do nothing.
void UseStartersConsole();

} // namespace cptlib::platform::detail
