#pragma once
// 7z archives for tests, made with 7zz.

#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace testsupport {

// Packs `names` (7zz wildcards relative to `folder`, already quoted for the shell) into
// `archive`, links kept as links; `options` are further 7zz switches. A failure fails the test.
inline std::filesystem::path Pack7z(const std::filesystem::path& folder,
                                    const std::filesystem::path& archive,
                                    const std::string& options = "",
                                    const std::string& names = "'*'") {
    const std::string command = "7zz a -t7z -snl -bso0 -bsp0 " + options + " " +
                                ShellQuote(archive.string()) + " -- " + names;
    const ProcessResult r = RunShell(command, {{"LC_ALL", "C.UTF-8"}}, folder.string());
    EXPECT_EQ(r.status, 0) << command << " in " << folder << ": " << r.err;
    return archive;
}

} // namespace testsupport
