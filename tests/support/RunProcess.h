#pragma once
// Runs a program for a test and collects its output and exit status.

#include "cptlib/platform/Process.h"
#include "cptlib/platform/SpawnCollect.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
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

inline ProcessResult RunProcess(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& env = {},
                                const std::string& workingDirectory = {}) {
    cptlib::platform::SpawnRequest request;
    request.program = argv.at(0);
    request.arguments.assign(argv.begin() + 1, argv.end());
    request.directory = workingDirectory;
    request.environment = MergedEnvironment(env);

    request.input = cptlib::platform::Stream::Null();
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

// A fresh folder under the temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() /
                ("sfxtest-" + std::to_string(getpid()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline std::string BinPath(const std::string& name) {
    return std::string(SFX_BIN_DIR) + "/" + name;
}

// The launcher stub for launcher files of a test. The launcher searches only its first 20 MiB
// for the payload, so a stub with debugging information (a Debug or sanitizer build) is
// stripped into `folder` first.
inline std::filesystem::path SmallStub(const std::filesystem::path& folder) {
    const std::filesystem::path stub = BinPath("sfxstub");
    if (std::filesystem::file_size(stub) <= 16 * 1024 * 1024)
        return stub;
    const std::filesystem::path copy = folder / "stub";
    const std::string command =
        "strip --strip-debug -o '" + copy.string() + "' '" + stub.string() + "'";
    if (std::system(command.c_str()) != 0)
        throw std::runtime_error("cannot strip " + stub.string());
    return copy;
}

// Makes the launcher file `out` with the build tool from a configuration file and a product
// folder; `stub` and the data block's query `data` when given.
inline ProcessResult CreateLauncher(const std::filesystem::path& config,
                                    const std::filesystem::path& product,
                                    const std::filesystem::path& out,
                                    const std::filesystem::path& stub = {},
                                    const std::string& data = {}) {
    std::vector<std::string> args = {
        BinPath("sfxbuild"), "create", "--config",  config.string(), "--dir",
        product.string(),    "-o",     out.string()};
    if (!stub.empty())
        args.insert(args.end(), {"--stub", stub.string()});
    if (!data.empty())
        args.insert(args.end(), {"--data", data});
    return RunProcess(args);
}

// Sets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

} // namespace testsupport
