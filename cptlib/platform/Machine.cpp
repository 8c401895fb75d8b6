#include "cptlib/platform/Machine.h"

#include <sched.h>
#include <sys/utsname.h>

#include <algorithm>
#include <thread>

namespace cptlib::platform {

bool IsSixtyFourBitMachine(std::string_view machine) {
    return machine.find("64") != std::string_view::npos || machine == "s390x" || machine == "alpha";
}

bool Is32BitProcessOn64BitKernel() {
    if constexpr (sizeof(void*) >= 8) {
        return false;
    } else {
        struct utsname name {};
        // A failing query counts as "not 64-bit", as a missing or failing check does on Windows.
        return ::uname(&name) == 0 && IsSixtyFourBitMachine(name.machine);
    }
}

unsigned UsableProcessorCount() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        const int count = CPU_COUNT(&set);
        if (count > 0)
            return static_cast<unsigned>(count);
    }
    // More processors than the fixed set holds, or no answer: the system's count.
    return std::max(1u, std::thread::hardware_concurrency());
}

} // namespace cptlib::platform
