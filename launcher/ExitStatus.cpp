#include "launcher/ExitStatus.h"

#include "cptlib/platform/Process.h"

namespace sfx {

int ProcessExitStatus(std::uint32_t exitCode) {
    switch (exitCode) {
    case kExitSuccess:
        return 0;
    case kExitCancelled:
        return 130;
    case kExitNoStringTables:
        return 70;
    case kExitBadArchive:
        return 65;
    case kExitSetupFailed:
        return 126;
    default:
        return static_cast<int>(exitCode & 0xFF);
    }
}

std::uint32_t ExitCodeFromWaitStatus(int waitStatus) {
    using Kind = cptlib::platform::ProcessEnd::Kind;
    const cptlib::platform::ProcessEnd end = cptlib::platform::DecodeWaitStatus(waitStatus);
    switch (end.kind) {
    case Kind::Exited:
        return static_cast<std::uint32_t>(end.value);
    case Kind::Killed:
        return 128u + static_cast<std::uint32_t>(end.value);
    case Kind::Other:
        break;
    }
    return 1;
}

} // namespace sfx
