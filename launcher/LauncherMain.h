#pragma once
// The launcher's run from its arguments to its exit status, shared by the system entries
// (main on Linux, wWinMain on Windows).

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sfx {

class CApp;

struct LauncherEntry {
    // The arguments after the program name, as UTF-8.
    std::vector<std::string> args;
    // The name the program was started under (argv[0]), as UTF-8.
    std::string startedAs;
    // Hands the application its windows before it starts.
    std::function<void(CApp&)> useWindows;
    // The run's code as the process's exit status.
    std::function<int(std::uint32_t)> exitStatus;
};

int RunLauncher(const LauncherEntry& entry);

} // namespace sfx
