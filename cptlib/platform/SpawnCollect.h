#pragma once
// Running a program to its end while collecting what it writes: the build tool's packer and the
// tests' runner.

#include "cptlib/platform/Spawn.h"

#include <string>

namespace cptlib::platform {

struct CollectedRun {
    int waitStatus = -1;
    std::string out; // standard output, and standard error when merged
    std::string err;
};

// Starts `request` with its standard output and error replaced by pipes (one shared pipe when
// `mergeError`), reads both until the program closes them, and reaps it. Returns 0, or the
// error number of what failed before the program ran.
int RunCollectingOutput(SpawnRequest request, CollectedRun& run, bool mergeError = false);

} // namespace cptlib::platform
