#pragma once
// A started program that the launcher waits for: start, wait, and passing the launcher's stop
// signals on to it.

#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/Spawn.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace cptlib::platform {

// Whether `path` names something to start as a program: a name ending in ".exe" (any case),
// or a regular file with an execute bit.
bool IsProgramFile(const std::string& path);

class ChildProcess {
public:
    ChildProcess() = default;
    // Does not wait: a program that is still running keeps running.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `file` with `arguments` (without the program name) in `directory` (empty: the
    // launcher's own). The program shares the launcher's terminal, process group and standard
    // streams. A bare name is not started (it would name a file in the current folder).
    // Returns a Win32 error number, 0 once the program runs.
    std::uint32_t Start(const std::string& file, const std::vector<std::string>& arguments,
                        const std::string& directory);
    // The same for a program in an open folder: `directory` (empty: the folder itself) is
    // relative to it and `file` ("./name") to that directory, so both are reached through the
    // descriptor whatever the folder's name has become.
    std::uint32_t StartIn(const FolderHandle& folder, const std::string& file,
                          const std::vector<std::string>& arguments, const std::string& directory);
    // The same with `parameters`, a command line tail composed by Windows rules: on Windows it
    // reaches the program as written (a program may parse its own command line), elsewhere it
    // is split by those rules.
    std::uint32_t StartCommand(const std::string& file, const std::string& parameters,
                               const std::string& directory);
    std::uint32_t StartCommandIn(const FolderHandle& folder, const std::string& file,
                                 const std::string& parameters, const std::string& directory);

    // Waits without time limit for the program to end; its wait status (on Windows its 32-bit
    // exit code), or nothing without a started program.
    std::optional<int> Wait();

    bool Started() const;

    // Passes a stop signal on. A signal that the terminal sent to the whole process group has
    // reached the program already (`toGroup`); it is only kept for a program still to start.
    // A signal before the start is delivered right after it; after the end it is dropped.
    // On Windows a stop is a cancel: the program's windows are asked to close, and whatever
    // still runs of what it started ends after a grace time.
    void ForwardStopSignal(StopSignal kind, bool toGroup);

private:
    std::uint32_t Start(SpawnRequest request);

    mutable std::mutex mutex_;
    int pid_ = -1;
    bool reaped_ = false;
    std::optional<StopSignal> pending_;
#ifdef _WIN32
    std::uint32_t StartCommandLine(const std::string& file, const std::string& parameters,
                                   const std::string& directory);
    void Cancel();
    // The process and the job that holds it and everything it starts.
    void* process_ = nullptr;
    void* job_ = nullptr;
    std::uint32_t processId_ = 0;
#endif
};

} // namespace cptlib::platform
