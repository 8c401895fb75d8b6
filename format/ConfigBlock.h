#pragma once
// The configuration block between the markers: a 16-byte IV followed by the AES-128-CBC cipher
// text of the UTF-8 configuration, padded as PKCS#7 pads it, under the key of ConfigKey.h.

#include "cptlib/SystemError.h"
#include "format/Aes.h"
#include "format/Payload.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace sfx {

constexpr std::size_t kConfigIvSize = kAesBlockSize;

// Deciphers the block (16-byte IV + AES-128-CBC cipher text). Empty bytes when the inputs do not
// meet the conditions; the result is the plain bytes after the padding is removed.
std::string DecryptConfigurationBlock(const std::uint8_t* block, std::size_t blockLength,
                                      const std::uint8_t* key, std::size_t keyLength);

// Reads, finds and deciphers the configuration block of a launcher file. On success `text`
// holds the UTF-8 configuration and `layout` (when given) the offsets. HRESULT_INVALID_DATA when
// the markers are missing or the deciphered bytes are not UTF-8.
cptlib::HRESULT ReadConfigurationBlock(const std::filesystem::path& path, std::string& text,
                                       PayloadLayout* layout = nullptr);
// The same for an open launcher file.
cptlib::HRESULT ReadConfigurationBlock(const cptlib::platform::FileDescriptor& file,
                                       std::string& text, PayloadLayout* layout = nullptr);

} // namespace sfx
