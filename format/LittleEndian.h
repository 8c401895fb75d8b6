#pragma once
// Little-endian fields of the launcher file's headers, read with a bounds check so that damaged
// offsets never read past the bytes at hand.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace sfx {

// nullopt when the field does not lie wholly within `bytes`.
template <class T>
std::optional<T> ReadLittleEndian(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return std::nullopt;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
    return value;
}

// `size` bytes of `value`, lowest first.
inline std::string LittleEndianBytes(std::uint64_t value, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

} // namespace sfx
