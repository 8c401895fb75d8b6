#pragma once
// Ends a command-line tool on a stop signal without leaving partial output behind: on SIGINT,
// SIGTERM or SIGHUP the tracked child programs are ended, the tracked files and folders are
// removed, and the process exits with status 128 + the signal's number.

#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/SpawnCollect.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace cptlib::platform {

class StopCleanup : public ChildTracker {
public:
    // `message`, when not empty, is written to stderr as one line before the exit.
    explicit StopCleanup(std::string message = {});
    ~StopCleanup() override;
    StopCleanup(const StopCleanup&) = delete;
    StopCleanup& operator=(const StopCleanup&) = delete;

    // Runs `create` with stops held back, and tracks `path` when it returns true: a stop cannot
    // fall between creating the item and tracking it.
    bool Create(const std::filesystem::path& path, const std::function<bool()>& create);
    // No longer removed on a stop (committed or already removed).
    void Forget(const std::filesystem::path& path);

    int Start(const std::function<int(ProcessHandle&)>& spawn) override;
    void Ending(ProcessHandle pid) override;

private:
    void OnStop(StopSignal kind);

    std::string message_;
    std::mutex mutex_;
    std::set<std::filesystem::path> paths_;
    std::set<ProcessHandle> children_;
    // Last member: the watch ends before what its callback uses.
    std::unique_ptr<SignalWatch> watch_;
};

} // namespace cptlib::platform
