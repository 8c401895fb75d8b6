#include "sfxbuild/Build.h"

#include <openssl/evp.h>

#include <memory>

namespace sfxbuild {

std::string EncryptConfiguration(std::string_view text, const std::array<std::uint8_t, 16>& key,
                                 const std::array<std::uint8_t, 16>& iv) {
    const std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(
        EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    if (!context)
        throw BuildError("cannot set up the cipher");
    // PKCS#7 padding is the library's default.
    if (EVP_EncryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()) != 1)
        throw BuildError("cannot set up the cipher");
    std::string block(iv.begin(), iv.end());
    block.resize(iv.size() + text.size() + 16);
    auto* out = reinterpret_cast<unsigned char*>(block.data() + iv.size());
    int written = 0, last = 0;
    if (text.size() > static_cast<std::size_t>(INT32_MAX - 16) ||
        EVP_EncryptUpdate(context.get(), out, &written,
                          reinterpret_cast<const unsigned char*>(text.data()),
                          static_cast<int>(text.size())) != 1 ||
        EVP_EncryptFinal_ex(context.get(), out + written, &last) != 1)
        throw BuildError("cannot encipher the configuration");
    block.resize(iv.size() + static_cast<std::size_t>(written) + static_cast<std::size_t>(last));
    return block;
}

} // namespace sfxbuild
