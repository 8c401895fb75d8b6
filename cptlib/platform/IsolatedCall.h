#pragma once
// Work that may crash on hostile input, run in a short-lived child process: the caller gets the
// bytes the work produced, or how the child ended.

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace cptlib::platform {

struct IsolatedResult {
    enum class End { Finished, Failed, Crashed, TimedOut, TooLarge, NotStarted };
    End end = End::NotStarted;
    // Finished: the work's bytes. Crashed: the signal; Failed: the exit status.
    std::string output;
    int detail = 0;
};

// `work` runs in the child with the crash signals at their defaults and no exit handlers; its
// result is handed back whole. A child that runs longer than `limit` or produces more than
// `maxOutput` bytes is killed.
IsolatedResult RunIsolated(const std::function<std::string()>& work,
                           std::chrono::milliseconds limit, std::size_t maxOutput);

} // namespace cptlib::platform
