#pragma once
// The build tool's pieces: making launcher files, stamping their slots, describing them.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cptlib::platform {
class StopCleanup;
}

namespace sfxbuild {

// A failure to report: one line that names the file concerned.
class BuildError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "'path'" for messages.
std::string Quoted(const std::filesystem::path& path);

// Up to `length` bytes of a file from `offset`; fewer at its end, none when it cannot be read.
std::string ReadFileRange(const std::filesystem::path& path, std::uint64_t offset,
                          std::uint64_t length);

// The configuration block as format/ConfigBlock.h lays it out: the IV followed by the
// AES-128-CBC cipher text of `text` with PKCS#7 padding. (The launcher only deciphers; OpenSSL
// enciphers here, so that it stays out of the stub.)
std::string EncryptConfiguration(std::string_view text, const std::array<std::uint8_t, 16>& key,
                                 const std::array<std::uint8_t, 16>& iv);

// The IV of a reproducible configuration block: derived from the configuration and the
// archive's bytes, so that the same inputs give the same block; `attempt` counts retries.
std::array<std::uint8_t, 16> DerivedIv(std::string_view config,
                                       const std::filesystem::path& archive, int attempt);

// How 7zz packs; unset fields leave 7zz's own defaults.
struct PackOptions {
    std::optional<unsigned> level;   // -mx
    std::optional<unsigned> threads; // -mmt
    std::string solidBlockSize;      // -ms: "off" or a size with unit, e.g. "64m"
    std::string runSize;             // LZMA2's c: a size with unit; empty: one run a block
    // Enciphers the file data (7zAES), the item list stays readable; empty: none. Handed to 7zz
    // at its prompt, never as an argument.
    std::string password;
};

// Output that depends on nothing but the inputs.
struct Reproducible {
    // Item times later than this (seconds since 1970) are set back to it.
    std::optional<std::int64_t> latestTime;
};

// The solid block size sfxbuild asks of 7zz for a folder of `bytes` in plain files when none
// is given: blocks of balanced size that the launcher can decode side by side, or empty (one
// block, 7zz's own default) where the folder is too small to gain from it.
std::string DefaultSolidBlockSize(std::uint64_t bytes);

// The 7zz arguments for packing the current folder into `archive`.
std::vector<std::string> PackArguments(const PackOptions& pack, bool reproducible,
                                       const std::string& archive);

// Packs the contents of `folder` into a new 7z archive at `archive` with the 7zz program: LZMA2
// behind the x86 branch filter, Unix modes and symbolic links kept. With `cleanup`, a stop
// signal ends 7zz.
void MakeArchive(const std::filesystem::path& folder, const std::filesystem::path& archive,
                 const PackOptions& pack = {}, bool reproducible = false,
                 cptlib::platform::StopCleanup* cleanup = nullptr);

// Copies `folder` to the new folder `copy`, links kept, except the links named in `followed`,
// which become copies of what they point at; with `latestTime`, every item time is clamped to it.
void StageFolder(const std::filesystem::path& folder, const std::filesystem::path& copy,
                 std::optional<std::int64_t> latestTime,
                 const std::vector<std::string>& followed = {});

struct CreateOptions {
    std::filesystem::path config;
    std::optional<std::filesystem::path> dir;
    std::optional<std::filesystem::path> archive;
    std::filesystem::path stub;
    std::optional<std::string> data;
    std::filesystem::path output;
    // Links that leave the folder are packed as the files or folders they point at.
    bool follow = false;
    // The product checks of Check.h; off only to make broken files on purpose.
    bool check = true;
    PackOptions pack;
    std::optional<Reproducible> reproducible;
    // Removes partial output and ends 7zz on a stop signal; may be null.
    cptlib::platform::StopCleanup* cleanup = nullptr;
};

// Writes a launcher file: stub, start marker, configuration block, end marker, archive and the
// data block, with the final size in _VRN_VERIFY and mode 0755. Nothing is left at the output
// path when it fails.
void Create(const CreateOptions& options);

// Writes NAME=VALUE assignments into the zero-filled slots of a launcher file in place. Every
// assignment is checked before anything is written.
void Stamp(const std::filesystem::path& file, const std::vector<std::string>& assignments);

// Describes a launcher file: layout, configuration, slots.
void Info(const std::filesystem::path& file, std::ostream& out);

} // namespace sfxbuild
