#pragma once
// Whether the launcher can decode an archive's methods: its own reader takes an archive whose
// every folder it decodes; any other goes whole to the archive library, which lacks some
// methods, cannot decipher, and fails on some chains.

#include <filesystem>
#include <optional>
#include <string>

namespace sfxbuild {

// Throws BuildError, one line naming the method, for an archive the launcher cannot decode.
// Where the library would have to decode it, it is decoded as `verify` does.
void CheckArchiveMethods(const std::filesystem::path& archive);

// The method chain of the first folder the launcher's readers cannot decode ("PPMd+BCJ"),
// for messages; nullopt when the headers cannot say.
std::optional<std::string> UndecodableMethod(const std::filesystem::path& file,
                                             std::uint64_t offset);

} // namespace sfxbuild
