#pragma once
// Where the program image ends: the build tool puts the payload there, and the launcher's
// self-check knows from it how long its own file must be.

#include <cstdint>
#include <optional>
#include <span>

namespace sfx {

// Where the payload goes behind a stub: the end of the last section's raw data for a PE file,
// the end of the bytes for ELF. nullopt for anything else or headers that do not fit the bytes.
std::optional<std::uint64_t> ProgramImageEnd(std::span<const std::uint8_t> stub);

// How a launcher file's headers fix the length the whole file must have.
struct ExpectedFileSize {
    enum class Rule {
        NotProgram,       // neither "MZ" nor "\x7FELF"
        BadPeSignature,   // "MZ" without a PE header behind it
        CertificateTable, // a signed PE file ends with its certificate table: `size`
        SizeSlot,         // the size slot holds it (ELF, or PE without certificate table)
    };
    Rule rule = Rule::NotProgram;
    std::uint64_t size = 0;
};

// The rule for a file that begins with `headers` (its first bytes, up to 1 MiB).
ExpectedFileSize ExpectedFileSizeRule(std::span<const std::uint8_t> headers);

} // namespace sfx
