#pragma once
// Running a program to its end while collecting what it writes: the build tool's packer and the
// tests' runner.

#include "cptlib/platform/File.h"
#include "cptlib/platform/Spawn.h"

#include <functional>
#include <string>

namespace cptlib::platform {

struct CollectedRun {
    int waitStatus = -1;
    std::string out; // standard output, and standard error when merged
    std::string err;
};

// Told when a program starts and ends, e.g. to end it on a stop signal.
class ChildTracker {
public:
    virtual ~ChildTracker() = default;
    // Calls `spawn` (which sets the process id) and returns its result.
    virtual int Start(const std::function<int(ProcessHandle&)>& spawn) = 0;
    // The program is about to be reaped; its id may be reused soon after.
    virtual void Ending(ProcessHandle pid) = 0;
};

// A pipe that already holds `text`, its write end closed, as a program's input: the program
// reads `text` and then the end, and nothing of it shows in the program's arguments or
// environment. For short texts (a pipe holds 64 KiB). Returns 0 or an error number.
int PipeHolding(const std::string& text, FileDescriptor& readEnd);

// Starts `request` with its standard output and error replaced by pipes (one shared pipe when
// `mergeError`), reads both until the program closes them, and reaps it. Returns 0, or the
// error number of what failed before the program ran.
int RunCollectingOutput(SpawnRequest request, CollectedRun& run, bool mergeError = false,
                        ChildTracker* tracker = nullptr);

} // namespace cptlib::platform
