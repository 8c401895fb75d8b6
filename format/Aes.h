#pragma once
// AES-128 in CBC mode, deciphering only: the configuration block is the launcher's one use.

#include <cstddef>
#include <cstdint>

namespace sfx {

constexpr std::size_t kAesBlockSize = 16;
constexpr std::size_t kAesKeySize = 16;

// Deciphers `length` bytes of `cipherText` into `out` (room for `length` bytes; it may be the
// cipher text itself) with the 16-byte `key` and initialisation vector `iv`. Returns the length
// without the padding the last byte p announces: p above 16 counts as 16, 0 removes nothing,
// the padding bytes are not checked. 0 when the length is 0 or not a multiple of 16.
std::size_t AesCbcDecrypt(std::uint8_t* out, const std::uint8_t* cipherText, std::size_t length,
                          const std::uint8_t* key, const std::uint8_t* iv);

} // namespace sfx
