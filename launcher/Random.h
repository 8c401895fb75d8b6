#pragma once
// The C runtime's random generator as the launcher uses it: seeded once at start-up, drawn for
// the random folder names.

#include <cstdint>

namespace sfx {

void SeedRandom(std::uint32_t seed);
// The next value, 0..32767: state = state * 214013 + 2531011, value = bits 16..30.
int NextRandom();

} // namespace sfx
