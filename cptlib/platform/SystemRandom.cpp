#include "cptlib/platform/SystemRandom.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>
#include <stdexcept>

namespace cptlib::platform {

std::uint32_t SystemRandomSeed() {
    std::uint32_t value = 0;
    auto* bytes = reinterpret_cast<unsigned char*>(&value);
    std::size_t filled = 0;
    while (filled < sizeof value) {
        const ssize_t got = ::getrandom(bytes + filled, sizeof value - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw std::runtime_error("the system's random source cannot be read");
        }
        filled += static_cast<std::size_t>(got);
    }
    return value;
}

} // namespace cptlib::platform
