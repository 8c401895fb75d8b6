#pragma once
// Looking into a launcher file without running it: its description for pipelines, its items,
// and a full check of its content.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

namespace sfxbuild {

// `info` as one JSON object (see the README for its shape).
void InfoJson(const std::filesystem::path& file, std::ostream& out);

// One line per item: type and permissions, size, modification time (UTC), name.
void List(const std::filesystem::path& file, std::ostream& out);

enum class VerifyResult { Intact = 0, ReadError = 1, Damaged = 2 };

// The self-check (file size), the file's digest, the configuration block, and a decode of every
// item against its check sum, without writing files. Writes one line: "OK ..." when intact, else
// what is wrong (to `problem`, without a line break). Enciphered items are decoded with `password`;
// without one they are counted as not decoded (their bytes are still checked by the file's digest,
// where it carries one).
VerifyResult Verify(const std::filesystem::path& file, std::ostream& out, std::string& problem,
                    const std::optional<std::string>& password = std::nullopt);

} // namespace sfxbuild
