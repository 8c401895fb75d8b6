#pragma once
// Starts the helper programs beside the test program with CreateProcessW and waits for them.

#include <cstdint>
#include <filesystem>
#include <string>

namespace windows_test {

// The folder of the running test program.
std::filesystem::path ProgramFolder();

// Runs `program` with `parameters` as the rest of its command line; the exit code it ended
// with. Fails the current test (and returns ~0u) when the program cannot be started.
std::uint32_t RunAndWait(const std::filesystem::path& program, const std::string& parameters);

} // namespace windows_test
