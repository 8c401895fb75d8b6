#include "launcher/ExitStatus.h"

#include <sys/wait.h>

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
    if (WIFEXITED(waitStatus))
        return static_cast<std::uint32_t>(WEXITSTATUS(waitStatus));
    if (WIFSIGNALED(waitStatus))
        return 128u + static_cast<std::uint32_t>(WTERMSIG(waitStatus));
    return 1;
}

} // namespace sfx
