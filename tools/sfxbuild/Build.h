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

// The data block the launcher finds in the last 64 KiB of its file: "##DATA##", the query and
// "##ENDDATA##", all UTF-16LE. Throws BuildError when the query is not UTF-8, has a '%' that is
// not followed by two hexadecimal digits, holds the end marker, or the block exceeds 64 KiB.
std::string MakeDataBlock(std::string_view query);

// The byte offset of the first data block start marker in `tail` (the file's last 64 KiB), and
// the payload behind it up to the end marker.
struct DataBlockPosition {
    std::size_t start = 0;   // of the start marker
    std::size_t payload = 0; // first byte after the start marker
    std::size_t length = 0;  // payload bytes
};
std::optional<DataBlockPosition> FindDataBlockIn(std::span<const std::uint8_t> tail);
constexpr std::size_t kDataBlockWindow = 65536;

// The configuration block: the IV followed by the AES-128-CBC cipher text of `text` with PKCS#7
// padding.
std::string EncryptConfiguration(std::string_view text, const std::array<std::uint8_t, 16>& key,
                                 const std::array<std::uint8_t, 16>& iv);

// The length a 7z archive's start header gives it (32 + next-header offset + next-header size);
// nullopt when `header` does not begin with the 7z signature or is shorter than 32 bytes.
std::optional<std::uint64_t> SevenZipArchiveSize(std::span<const std::uint8_t> header);

// Where the payload goes behind a stub: the end of the last section's raw data for a PE file,
// the end of the file for ELF. nullopt for anything else or headers that do not fit the file.
std::optional<std::uint64_t> ProgramImageEnd(std::span<const std::uint8_t> stub);

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
