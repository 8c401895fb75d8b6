#pragma once

#include <cstdint>

namespace sfx {

// Exit codes of the launcher.
constexpr std::uint32_t kExitSuccess = 0;
constexpr std::uint32_t kExitCancelled = 1602;
constexpr std::uint32_t kExitNoStringTables = 0x20000002;
constexpr std::uint32_t kExitBadArchive = 0x20001004;
constexpr std::uint32_t kExitSetupFailed = 0x20001005;

// A POSIX exit status holds 8 bits: the launcher's own codes map to conventional statuses,
// everything else (the setup program's status) passes through.
int ProcessExitStatus(std::uint32_t exitCode);

// The exit code the launcher reports for a setup program that ended with a wait status.
std::uint32_t ExitCodeFromWaitStatus(int waitStatus);

} // namespace sfx
