#include "cptlib/platform/Machine.h"

#include <sys/utsname.h>

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

} // namespace cptlib::platform
