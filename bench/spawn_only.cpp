// The least a launcher does before its setup runs: a statically linked program that starts the
// program named by its arguments and waits for it. The setup-start benchmark times it as the
// floor that no launcher can go below on this machine.

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0)
        return 126;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return 2;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
