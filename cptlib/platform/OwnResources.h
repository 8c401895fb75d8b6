#pragma once
// The resource tree linked into the running program, as the bytes of a resource section.

#include <cstdint>
#include <span>

namespace cptlib::platform {

// Empty when the program carries none.
std::span<const std::uint8_t> OwnResourceSection();

} // namespace cptlib::platform
