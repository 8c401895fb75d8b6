#include "cptlib/platform/SystemRandom.h"

#include <windows.h>

#include <bcrypt.h>

#include <cstdlib>

namespace cptlib::platform {

// The system's preferred generator; it does not fail once the process runs, and nothing
// predictable may stand in for it if it ever did.
std::uint32_t SystemRandomSeed() {
    std::uint32_t value = 0;
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        std::abort();
    return value;
}

} // namespace cptlib::platform
