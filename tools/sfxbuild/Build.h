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

// Packs the contents of `folder` into a new 7z archive at `archive` with the 7zz program: LZMA2
// behind the x86 branch filter, Unix modes and symbolic links kept.
void MakeArchive(const std::filesystem::path& folder, const std::filesystem::path& archive);

struct CreateOptions {
    std::filesystem::path config;
    std::optional<std::filesystem::path> dir;
    std::optional<std::filesystem::path> archive;
    std::filesystem::path stub;
    std::optional<std::string> data;
    std::filesystem::path output;
    // The product checks of Check.h; off only to make broken files on purpose.
    bool check = true;
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
