#include "cptlib/platform/Terminal.h"

#include <unistd.h>

namespace cptlib::platform {

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}
bool StderrIsTerminal() {
    return isatty(STDERR_FILENO) == 1;
}

} // namespace cptlib::platform
