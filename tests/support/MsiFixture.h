#pragma once
// Installer databases for tests, made with msibuild.

#include "cptlib/platform/ProgramSearch.h"
#include "support/Process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Runs SQL statements on `file` (created when missing).
inline void RunMsibuild(const std::filesystem::path& file, const std::vector<std::string>& sql) {
    const std::string msibuild = cptlib::platform::FindProgram("msibuild");
    ASSERT_FALSE(msibuild.empty()) << "msibuild (package msitools) is needed";
    std::vector<std::string> args = {msibuild, file.string()};
    for (const auto& statement : sql) {
        args.push_back("-q");
        args.push_back(statement);
    }
    const ProcessResult result = RunProcess(args);
    ASSERT_EQ(result.status, 0) << result.err;
}

// A database whose Property table holds `properties`. Values must not contain quotes.
inline void
MakePropertyDatabase(const std::filesystem::path& file,
                     const std::vector<std::pair<std::string, std::string>>& properties) {
    std::vector<std::string> sql = {
        "CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL "
        "LOCALIZABLE PRIMARY KEY `Property`)"};
    for (const auto& [name, value] : properties)
        sql.push_back("INSERT INTO `Property` (`Property`, `Value`) VALUES ('" + name + "', '" +
                      value + "')");
    RunMsibuild(file, sql);
}

} // namespace testsupport
