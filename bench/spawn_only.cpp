// The least a launcher does before its setup runs: a statically linked program that starts the
// program named by its arguments and waits for it. The setup-start benchmark times it as the
// floor that no launcher can go below on this machine.

#include "cptlib/platform/Spawn.h"

#include <sys/wait.h>

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    cptlib::platform::SpawnRequest request;
    request.program = argv[1];
    request.arguments.assign(argv + 2, argv + argc);
    // As the launcher starts its setup: what this program was given goes on.
    request.passOnInheritable = true;
    pid_t pid = -1;
    if (cptlib::platform::Spawn(request, pid) != 0)
        return 126;
    const int status = cptlib::platform::WaitForProcess(pid);
    if (status < 0)
        return 2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
