#pragma once
// The size slot: the zero-filled 8-byte kRtRcData resource "_VRN_VERIFY" of the stub, where the
// build tool writes the final length of the launcher file (little-endian) for the self-check.

#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace sfx {

inline constexpr std::string_view kSizeSlotName = "_VRN_VERIFY";
constexpr std::size_t kSizeSlotSize = 8;

// The file offset of the slot in a program image; nullopt when it has no 8-byte slot.
std::optional<std::uint64_t> SizeSlotOffset(std::span<const std::uint8_t> image);

// The slot's bytes for `size`.
std::string EncodeSizeSlot(std::uint64_t size);

// The size the slot's bytes hold; nullopt when they are not 8 bytes.
std::optional<std::uint64_t> DecodeSizeSlot(std::string_view bytes);

// The size the slot of the program file at `path` holds; nullopt when it cannot be read or is
// not 8 bytes.
std::optional<std::uint64_t> ReadSizeSlot(const std::filesystem::path& path);
std::optional<std::uint64_t> ReadSizeSlot(const cptlib::platform::FileDescriptor& file);

} // namespace sfx
