#pragma once
// Launcher files for tests, made by the build tool of this build: stub, configuration block and
// a product folder or a ready archive.

#include "support/Process.h"

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

// The launcher stub for launcher files of a test. The launcher searches only its first 20 MiB
// for the payload, so a stub with debugging information (a Debug or sanitizer build) is
// stripped into `folder` first.
inline std::filesystem::path SmallStub(const std::filesystem::path& folder) {
    const std::filesystem::path stub = BinPath("sfxstub");
    if (std::filesystem::file_size(stub) <= 16 * 1024 * 1024)
        return stub;
    const std::filesystem::path copy = folder / "stub";
    if (!StripDebugCopy(stub, copy))
        throw std::runtime_error("cannot strip " + stub.string());
    return copy;
}

// What `sfxbuild create` packs: the configuration file and either a product folder or a 7z
// archive.
struct LauncherRecipe {
    std::filesystem::path config;
    std::filesystem::path folder;  // --dir
    std::filesystem::path archive; // --archive, when no folder is given
    std::filesystem::path stub;    // empty: the stub beside the build tool
    std::string data;              // the data block's query, when given
};

// Makes the launcher file `out` with the build tool.
inline ProcessResult CreateLauncher(const LauncherRecipe& recipe,
                                    const std::filesystem::path& out) {
    // Launcher tests ship broken products on purpose; the build tool's checks are its own tests'.
    std::vector<std::string> args = {BinPath("sfxbuild"), "create", "--no-checks", "--config",
                                     recipe.config.string()};
    if (!recipe.folder.empty())
        args.insert(args.end(), {"--dir", recipe.folder.string()});
    else
        args.insert(args.end(), {"--archive", recipe.archive.string()});
    if (!recipe.stub.empty())
        args.insert(args.end(), {"--stub", recipe.stub.string()});
    if (!recipe.data.empty())
        args.insert(args.end(), {"--data", recipe.data});
    args.insert(args.end(), {"-o", out.string()});
    return RunProcess(args);
}

// The same from a configuration file and a product folder; `stub` and the data block's query
// `data` when given.
inline ProcessResult CreateLauncher(const std::filesystem::path& config,
                                    const std::filesystem::path& product,
                                    const std::filesystem::path& out,
                                    const std::filesystem::path& stub = {},
                                    const std::string& data = {}) {
    return CreateLauncher(LauncherRecipe{config, product, {}, stub, data}, out);
}

// The same from a configuration file and a ready 7z archive.
inline ProcessResult CreateLauncherFromArchive(const std::filesystem::path& config,
                                               const std::filesystem::path& archive,
                                               const std::filesystem::path& out,
                                               const std::filesystem::path& stub = {}) {
    return CreateLauncher(LauncherRecipe{config, {}, archive, stub, {}}, out);
}

// Writes `assignments` ("NAME=value") into the resource slots of the launcher file `file`.
inline ProcessResult StampLauncher(const std::filesystem::path& file,
                                   const std::vector<std::string>& assignments) {
    std::vector<std::string> args = {BinPath("sfxbuild"), "stamp", file.string()};
    args.insert(args.end(), assignments.begin(), assignments.end());
    return RunProcess(args);
}

} // namespace testsupport
