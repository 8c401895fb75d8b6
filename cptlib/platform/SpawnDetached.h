#pragma once
// Starting a program that is awaited only for a while and may run as another user: the form the
// desktop opener needs. A fork and exec of its own, since the user change has to happen in the
// new process before the program runs.

#include "cptlib/platform/Spawn.h"

#include <chrono>
#include <string>
#include <vector>

namespace cptlib::platform {

// The user a program runs as; only a root process can change to it.
struct UserIdentity {
    UserId uid = 0;
    GroupId gid = 0;
    std::vector<GroupId> groups;
    // Entered when the request names no working folder, as far as it can be.
    std::string home;
    // When not empty: a file the user must be allowed to read, checked with the user's rights
    // before the program starts (step Access when refused; a missing file is not checked).
    std::string mustRead;
};

// What went wrong when the program could not be started.
enum class SpawnStep {
    Prepare,   // the processes could not be made
    Streams,   // dup2
    Groups,    // setgroups
    GroupId,   // setresgid
    UserId,    // setresuid
    Directory, // chdir
    Exec,      // execve
    Access,    // access: the user cannot read UserIdentity::mustRead
};

// The system call of a step ("dup2", ...); empty for Prepare.
const char* SpawnStepName(SpawnStep step);

struct DetachedOutcome {
    enum class Kind { Exited, Signaled, StillRunning, Failed };
    Kind kind = Kind::Failed;
    int value = 0; // the exit status or the signal number
    SpawnStep step = SpawnStep::Prepare;
    int error = 0; // the error number of the failed step; 0 when unknown
};

// Starts the program, as `user` when given, and waits up to `handOver` for it to end. A program
// still running then is left to the system: it is not the caller's child and needs no wait.
DetachedOutcome SpawnDetached(const SpawnRequest& request, const UserIdentity* user,
                              std::chrono::nanoseconds handOver);

} // namespace cptlib::platform
