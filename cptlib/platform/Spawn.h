#pragma once
// Starting a program: the one way the launcher, the build tool and the tests create processes.
// The program starts with no signal blocked and every signal at its default action, and with
// no descriptor beyond its standard streams and those asked for.
// Plain C++ and the C library only, so that a static program can link this file alone.

#include "cptlib/platform/Handles.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace cptlib::platform {

using Environment = std::map<std::string, std::string>;

// This process's environment.
Environment CurrentEnvironment();

// Where a standard stream of the program comes from or goes to.
struct Stream {
    enum class Kind { Inherit, Null, Descriptor };
    Kind kind = Kind::Inherit;
    int fd = -1;

    static Stream Inherit() { return {}; }
    // /dev/null.
    static Stream Null() { return {Kind::Null, -1}; }
    // A descriptor of the caller, such as a pipe end; it stays open in the caller.
    static Stream From(int descriptor) { return {Kind::Descriptor, descriptor}; }
};

struct SpawnRequest {
    // A path, not searched (see FindProgram). A bare name is not started: it would name a file
    // in the current folder.
    std::string program;
    // Without the program name; the program sees `program` as its own name.
    std::vector<std::string> arguments;
    // The program's working folder; empty: the caller's.
    std::string directory;
    // An open folder that the program starts in before `directory` (then relative to it) is
    // entered, and that a relative `program` is found in; -1: none.
    int directoryDescriptor = -1;
    // nullopt: the caller's.
    std::optional<Environment> environment;
    Stream input, output, error;
    // Further descriptors of the caller that the program gets: the i-th as descriptor 3 + i.
    std::vector<int> descriptors;
    // Descriptors the caller holds without close-on-exec reach the program as well, as a shell
    // passes on what it was given. Off: only those above.
    bool passOnInheritable = false;
    // A terminal device, such as the far end of a pseudo-terminal: the program starts in a
    // session of its own whose controlling terminal it is, so that the terminal's signals (Ctrl+C,
    // hang-up) reach it. Empty: the caller's session.
    std::string controllingTerminal;
};

// Starts the program; sets `pid`. Returns 0, or the error number of what failed (ENOENT for a
// bare or empty name, the program's exec failure otherwise).
int Spawn(const SpawnRequest& request, ProcessHandle& pid);

// Waits for the process to end and reaps it; its wait status, or -1 with errno set.
int WaitForProcess(ProcessHandle pid);

} // namespace cptlib::platform
