#pragma once
// Facts about the processor the program runs on.

#include <string_view>

namespace cptlib::platform {

// True for a kernel machine name (uname -m) of a 64-bit processor: x86_64, aarch64, s390x, ...
bool IsSixtyFourBitMachine(std::string_view machine);

// A 32-bit build running on a 64-bit kernel: the counterpart of a 32-bit process on 64-bit
// Windows. A 64-bit build always gives false, as the native process does there.
bool Is32BitProcessOn64BitKernel();

// Processors this process may run on: its affinity mask (taskset, cpusets), else the count
// the system reports; at least 1.
unsigned UsableProcessorCount();

} // namespace cptlib::platform
