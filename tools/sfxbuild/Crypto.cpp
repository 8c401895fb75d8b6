#include "sfxbuild/Build.h"

#include <openssl/evp.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <vector>

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

std::array<std::uint8_t, 16> DerivedIv(std::string_view config,
                                       const std::filesystem::path& archive, int attempt) {
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    std::ifstream in(archive, std::ios::binary);
    if (!context || !in || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1)
        throw BuildError("cannot derive the initialisation vector from " + Quoted(archive));
    // The length first, so that no other split of configuration and archive gives the same
    // input.
    const std::string head =
        "sfxbuild IV " + std::to_string(attempt) + " " + std::to_string(config.size()) + "\n";
    bool ok = EVP_DigestUpdate(context.get(), head.data(), head.size()) == 1 &&
              EVP_DigestUpdate(context.get(), config.data(), config.size()) == 1;
    std::vector<char> buffer(1 << 20);
    while (ok && in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in.gcount() > 0)
            ok = EVP_DigestUpdate(context.get(), buffer.data(),
                                  static_cast<std::size_t>(in.gcount())) == 1;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!ok || in.bad() || EVP_DigestFinal_ex(context.get(), digest, &length) != 1 || length < 16)
        throw BuildError("cannot derive the initialisation vector from " + Quoted(archive));
    std::array<std::uint8_t, 16> iv{};
    std::copy(digest, digest + iv.size(), iv.begin());
    return iv;
}

} // namespace sfxbuild
