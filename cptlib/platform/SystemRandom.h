#pragma once
// Numbers from the system's random source, for values another local user must not predict.

#include <cstdint>

namespace cptlib::platform {

// A 32-bit value from the kernel's random source (getrandom). Waits only while the source is
// not yet initialised at boot; never falls back to anything predictable.
std::uint32_t SystemRandomSeed();

} // namespace cptlib::platform
