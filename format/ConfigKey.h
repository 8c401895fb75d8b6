#pragma once
// The configuration key, shared by the launcher and the build tool. It is assembled at run time
// from four words so that it never stands in the image as one piece.

#include <array>
#include <cstdint>

namespace sfx {

inline std::array<std::uint8_t, 16> MakeConfigKey() {
    const std::uint32_t words[4] = {0x5f3a91c7u, 0x2de48b06u, 0xa17c3e59u, 0x84b2f01du};
    std::array<std::uint8_t, 16> key{};
    for (int i = 0; i < 16; ++i)
        key[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(words[i / 4] >> (8 * (i % 4)));
    return key;
}

} // namespace sfx
