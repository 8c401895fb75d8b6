#pragma once
// Whole files written and read by tests.

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testsupport {

// Writes `content` to `path`, making the folders above it.
inline void WriteFile(const std::filesystem::path& path, const std::string& content) {
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << content;
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// A program (a script, usually): `content` written to `path`, which only its owner may change and
// run.
inline void WriteExecutable(const std::filesystem::path& path, const std::string& content) {
    WriteFile(path, content);
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

// The file's bytes; empty when it cannot be read.
// Bytes that no packer can shrink (a fixed xorshift sequence), for archives that must be large.
inline std::string IncompressibleBytes(std::size_t size) {
    std::string data(size, '\0');
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (auto& byte : data) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state);
    }
    return data;
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The permission bits of `path` itself (a link is not followed); 0xFFFF when it is missing.
inline unsigned ModeOf(const std::filesystem::path& path) {
#ifdef _WIN32
    std::error_code ec;
    const auto status = std::filesystem::symlink_status(path, ec);
    return ec || !std::filesystem::exists(status)
               ? 0xFFFFu
               : static_cast<unsigned>(status.permissions()) & 07777;
#else
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
#endif
}

} // namespace testsupport
