#pragma once
// Runs a program for a test and collects its output and exit status.

#include "cptlib/platform/Process.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SpawnCollect.h"

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct ProcessResult {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// `env` entries are added to (or replace) the test's own environment; an empty value removes.
inline std::map<std::string, std::string>
MergedEnvironment(const std::map<std::string, std::string>& env) {
    std::map<std::string, std::string> merged = cptlib::platform::CurrentEnvironment();
    for (const auto& [key, value] : env) {
        if (value.empty())
            merged.erase(key);
        else
            merged[key] = value;
    }
    return merged;
}

// `argv` in `workingDirectory` (empty: this one) with `env` merged in, reading /dev/null.
inline cptlib::platform::SpawnRequest RequestFor(const std::vector<std::string>& argv,
                                                 const std::map<std::string, std::string>& env,
                                                 const std::string& workingDirectory) {
    cptlib::platform::SpawnRequest request;
    request.program = argv.at(0);
    request.arguments.assign(argv.begin() + 1, argv.end());
    request.directory = workingDirectory;
    request.environment = MergedEnvironment(env);
    request.input = cptlib::platform::Stream::Null();
    return request;
}

inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& env = {},
                                const std::string& workingDirectory = {}) {
    const cptlib::platform::SpawnRequest request = RequestFor(argv, env, workingDirectory);
    cptlib::platform::CollectedRun run;
    if (cptlib::platform::RunCollectingOutput(request, run) != 0)
        throw std::runtime_error("cannot start " + argv[0]);
    ProcessResult result;
    result.out = std::move(run.out);
    result.err = std::move(run.err);
    const cptlib::platform::ProcessEnd end = cptlib::platform::DecodeWaitStatus(run.waitStatus);
    result.status =
        end.kind == cptlib::platform::ProcessEnd::Kind::Killed ? 128 + end.value : end.value;
    return result;
}

// `text` as one word of a /bin/sh command line.
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs `command` with /bin/sh, in `workingDirectory` when given.
inline ProcessResult RunShell(const std::string& command,
                              const std::map<std::string, std::string>& env = {},
                              const std::string& workingDirectory = {}) {
    return RunProcess({"/bin/sh", "-c", command}, env, workingDirectory);
}

// A copy of `program` without debugging information at `copy`; false when strip fails.
inline bool StripDebugCopy(const std::filesystem::path& program,
                           const std::filesystem::path& copy) {
    const std::string strip = cptlib::platform::FindProgram("strip");
    return !strip.empty() &&
           RunProcess({strip, "--strip-debug", "-o", copy.string(), program.string()}).status == 0;
}

// A program of this build, such as "sfxbuild".
inline std::string BinPath(const std::string& name) {
    return std::string(SFX_BIN_DIR) + "/" + name;
}

} // namespace testsupport
