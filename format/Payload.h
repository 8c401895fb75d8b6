#pragma once
// The payload behind the program image: start marker, configuration block, end marker, archive;
// the markers and their search.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace sfx {

constexpr std::size_t kStartMarkerSize = 18; // ";!@Install@!UTF-8!"
constexpr std::size_t kEndMarkerSize = 15;   // ";!@InstallEnd@!"
// Only the first 20 MiB of the file are searched,
constexpr std::uint64_t kMarkerSearchLimit = 0x1400000;
// and of those only positions i < size - kMarkerSearchTail.
constexpr std::size_t kMarkerSearchTail = 20;

// The markers with their first byte set to ';'. The image only holds copies with another first
// byte, so that the search never finds the program's own constants.
std::string StartMarker();
std::string EndMarker();

struct PayloadLayout {
    std::uint64_t startMarker = 0; // offset of the start marker
    std::uint64_t blockOffset = 0; // configuration block (IV + cipher text)
    std::uint64_t blockSize = 0;
    std::uint64_t archiveOffset = 0; // first byte behind the end marker
};

// Finds the first start marker and the first end marker behind it within `data` (the first
// min(size, 20 MiB) bytes of the file), with the same result as a byte-by-byte scan over
// positions i < data.size() - 20. nullopt when either is missing or the block is empty.
std::optional<PayloadLayout> FindPayload(std::span<const std::uint8_t> data);

// The front of a launcher file's search range, read up to where the markers were found (the
// whole range when they were not), and the payload found in it.
struct MappedPayload {
    cptlib::platform::FileDescriptor file;
    cptlib::platform::MappedFileView view;
    PayloadLayout layout;
};

// Reads the search range of `path` and finds the payload in it. HRESULT_INVALID_DATA when the
// file is empty or the markers are missing.
cptlib::HRESULT MapPayload(const std::filesystem::path& path, MappedPayload& payload);
// The same for an open file, which the caller keeps open (`payload.file` stays empty).
cptlib::HRESULT MapPayload(const cptlib::platform::FileDescriptor& file, MappedPayload& payload);

// Finds the markers of a launcher file without deciphering anything.
cptlib::HRESULT LocatePayload(const std::filesystem::path& path, PayloadLayout& layout);
cptlib::HRESULT LocatePayload(const cptlib::platform::FileDescriptor& file, PayloadLayout& layout);

} // namespace sfx
