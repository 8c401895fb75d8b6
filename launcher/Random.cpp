#include "launcher/Random.h"

#include <atomic>

namespace sfx {

namespace {
std::atomic<std::uint32_t> g_state{1};
} // namespace

void SeedRandom(std::uint32_t seed) {
    g_state.store(seed);
}

int NextRandom() {
    std::uint32_t state = g_state.load();
    std::uint32_t next;
    do {
        next = state * 214013u + 2531011u;
    } while (!g_state.compare_exchange_weak(state, next));
    return static_cast<int>((next >> 16) & 0x7FFF);
}

} // namespace sfx
