// Runs the 7zz program; the build tool's one program start.

#include "sfxbuild/Build.h"

#include "cptlib/platform/Process.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SpawnCollect.h"
#include "cptlib/platform/StopCleanup.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

namespace sfxbuild {

namespace {

// The last line that says something, for the one-line message.
std::string LastLine(const std::string& output) {
    std::string last, line;
    for (const char c : output + "\n") {
        if (c == '\n' || c == '\r') {
            if (line.find_first_not_of(" \t") != std::string::npos)
                last = line;
            line.clear();
        } else {
            line += c;
        }
    }
    const auto first = last.find_first_not_of(" \t");
    return first == std::string::npos ? last : last.substr(first);
}

// Bytes in the plain files under `folder`; links are not followed.
std::uint64_t FolderBytes(const std::filesystem::path& folder) {
    std::uint64_t total = 0;
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code sizeEc;
        if (it->is_regular_file(sizeEc) && !it->is_symlink(sizeEc)) {
            const std::uintmax_t size = it->file_size(sizeEc);
            if (!sizeEc)
                total += size;
        }
    }
    return total;
}

} // namespace

// Four blocks: as many as the launcher decodes at once (one per core, up to four), so that
// 2- to 8-core machines keep every decoder busy; each block of a large folder is many times the
// 16 MiB dictionary of the default level, so few matches are lost at block bounds
// (bench/extract_bench.sh prints the growth against one block, target at most 2 %). Blocks
// below 32 MiB would lose more than they gain.
std::string DefaultSolidBlockSize(std::uint64_t bytes) {
    constexpr std::uint64_t kBlocks = 4;
    constexpr std::uint64_t kSmallestBlock = std::uint64_t{32} << 20;
    const std::uint64_t blocks = std::min(kBlocks, bytes / kSmallestBlock);
    if (blocks < 2)
        return {};
    // 7zz closes a block before the file that would overflow it; a little room keeps a last
    // small file from starting a block of its own.
    const std::uint64_t size = (bytes + blocks - 1) / blocks;
    return std::to_string(size + size / 64) + "b";
}

std::vector<std::string> PackArguments(const PackOptions& pack, bool reproducible,
                                       const std::string& archive) {
    // Runs of LZMA2 that start with an empty dictionary decode side by side in the launcher,
    // but cost size: one block each solid block unless asked (see --run-size).
    std::vector<std::string> arguments = {"a", "-t7z", "-m0=BCJ",
                                          pack.runSize.empty() ? std::string("-m1=LZMA2")
                                                               : "-m1=LZMA2:c=" + pack.runSize};
    if (pack.level)
        arguments.push_back("-mx=" + std::to_string(*pack.level));
    if (!pack.solidBlockSize.empty())
        arguments.push_back("-ms=" + pack.solidBlockSize);
    if (pack.threads)
        arguments.push_back("-mmt=" + std::to_string(*pack.threads));
    // Without a value 7zz reads the password from its input. The launcher cannot open an
    // archive whose item list is enciphered.
    if (!pack.password.empty())
        arguments.insert(arguments.end(), {"-p", "-mhe=off"});
    // Times of this machine's accesses and changes would make every build differ.
    if (reproducible)
        arguments.insert(arguments.end(), {"-mtm=on", "-mtc=off", "-mta=off"});
    // The pattern is expanded by 7zz itself; it takes hidden files as well. 7zz sorts the items
    // by name, whatever order the folder lists them in.
    arguments.insert(arguments.end(), {"-snl", "-bso0", "-bsp0", "-y", "--", archive, "*"});
    return arguments;
}

void MakeArchive(const std::filesystem::path& folder, const std::filesystem::path& archive,
                 const PackOptions& pack, bool reproducible,
                 cptlib::platform::StopCleanup* cleanup) {
    std::error_code ec;
    if (!std::filesystem::is_directory(folder, ec))
        throw BuildError("folder " + Quoted(folder) + " does not exist or is not a folder");
    const std::string target = std::filesystem::absolute(archive).string();
    const std::string directory = std::filesystem::absolute(folder).string();
    // Only absolute folders of PATH: a 7zz in the current folder is not ours to run.
    const std::string program = cptlib::platform::FindProgram("7zz");
    if (program.empty())
        throw BuildError("cannot run 7zz to pack folder " + Quoted(folder) + ": " +
                         std::strerror(ENOENT) +
                         " on PATH; install 7-Zip (Debian package 7zip) or pass --archive");
    cptlib::platform::SpawnRequest request;
    request.program = program;
    PackOptions options = pack;
    if (options.solidBlockSize.empty())
        options.solidBlockSize = DefaultSolidBlockSize(FolderBytes(folder));
    request.arguments = PackArguments(options, reproducible, target);
    request.directory = directory;
    // The password reaches 7zz through its prompt, where `ps` does not show it.
    cptlib::platform::FileDescriptor password;
    request.input = cptlib::platform::Stream::Null();
    if (!pack.password.empty()) {
        if (const int error = cptlib::platform::PipeHolding(pack.password + "\n", password))
            throw BuildError("cannot hand the password to 7zz: " +
                             std::string(std::strerror(error)));
        request.input = cptlib::platform::Stream::From(password.get());
    }
    cptlib::platform::CollectedRun run;
    if (const int error = cptlib::platform::RunCollectingOutput(request, run, true, cleanup))
        throw BuildError("cannot run 7zz to pack folder " + Quoted(folder) + ": " +
                         std::strerror(error));
    using cptlib::platform::ProcessEnd;
    const ProcessEnd end = cptlib::platform::DecodeWaitStatus(run.waitStatus);
    if (end.kind == ProcessEnd::Kind::Exited && end.value == 0)
        return;
    std::string reason = end.kind == ProcessEnd::Kind::Exited
                             ? "exit status " + std::to_string(end.value)
                             : "killed by signal " + std::to_string(end.value);
    if (end.kind == ProcessEnd::Kind::Exited && end.value == 127)
        reason += ", 7zz not found";
    const std::string detail = LastLine(run.out);
    throw BuildError("7zz failed to pack folder " + Quoted(folder) + " (" + reason + ")" +
                     (detail.empty() ? "" : ": " + detail));
}

} // namespace sfxbuild
