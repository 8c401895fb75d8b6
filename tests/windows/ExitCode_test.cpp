// Windows keeps a program's 32-bit exit code whole, so the launcher's codes (and a setup's) pass
// through without the 8-bit mapping that a POSIX exit status needs.

#include "WindowsProcess.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ExitCode, ThirtyTwoBitCodesAreReadBackIntact) {
    const std::uint32_t codes[] = {0,          1,          130,        1602,       3010,
                                   0x20000002, 0x20001004, 0x20001005, 0x80070070, 0xFFFFFFFE};
    for (const std::uint32_t code : codes)
        EXPECT_EQ(windows_test::RunAndWait(windows_test::ProgramFolder() / "win_exit_with.exe",
                                           std::to_string(code)),
                  code);
}

} // namespace
