#include "format/Aes.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

Bytes RandomBytes(std::size_t n) {
    Bytes out(n);
    if (n != 0) {
        EXPECT_EQ(RAND_bytes(out.data(), static_cast<int>(n)), 1);
    }
    return out;
}

// Enciphers with OpenSSL; `pad` selects PKCS#7 padding, else the length must be whole blocks.
Bytes OpenSslEncrypt(const Bytes& plain, const Bytes& key, const Bytes& iv, bool pad) {
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_aes_128_cbc(), nullptr, key.data(), iv.data()), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), pad ? 1 : 0);
    Bytes out(plain.size() + 16);
    int n = 0, tail = 0;
    EXPECT_EQ(
        EVP_EncryptUpdate(ctx.get(), out.data(), &n, plain.data(), static_cast<int>(plain.size())),
        1);
    EXPECT_EQ(EVP_EncryptFinal_ex(ctx.get(), out.data() + n, &tail), 1);
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

TEST(AesCbcDecrypt, StandardSingleBlockVectors) {
    struct Case {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Case cases[] = {
        {"2b7e151628aed2a6abf7158809cf4f3c", "3243f6a8885a308d313198a2e0370734",
         "3925841d02dc09fbdc118597196a0b32"},
        {"000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
         "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {"00000000000000000000000000000000", "00000000000000000000000000000000",
         "66e94bd4ef8a2c3b884cfa59ca342b2e"},
    };
    const Bytes zeroIv(16, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cipher);
        const Bytes key = FromHex(c.key), cipher = FromHex(c.cipher);
        Bytes out(16, 0xAA);
        sfx::AesCbcDecrypt(out.data(), cipher.data(), cipher.size(), key.data(), zeroIv.data());
        EXPECT_EQ(out, FromHex(c.plain));
    }
}

TEST(AesCbcDecrypt, ReversesOpenSslWithPkcs7Padding) {
    for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u, 1024u, 5000u}) {
        SCOPED_TRACE(length);
        const Bytes key = RandomBytes(16), iv = RandomBytes(16), plain = RandomBytes(length);
        const Bytes cipher = OpenSslEncrypt(plain, key, iv, true);
        Bytes out(cipher.size());
        const std::size_t n =
            sfx::AesCbcDecrypt(out.data(), cipher.data(), cipher.size(), key.data(), iv.data());
        ASSERT_EQ(n, length);
        out.resize(n);
        EXPECT_EQ(out, plain);

        // In place, as the block may be deciphered where it lies.
        Bytes inPlace = cipher;
        EXPECT_EQ(sfx::AesCbcDecrypt(inPlace.data(), inPlace.data(), inPlace.size(), key.data(),
                                     iv.data()),
                  length);
        inPlace.resize(length);
        EXPECT_EQ(inPlace, plain);
    }
}

TEST(AesCbcDecrypt, LastByteTellsThePaddingLength) {
    struct Case {
        std::size_t length;
        std::uint8_t lastByte;
        std::size_t expected;
    };
    const Case cases[] = {
        {32, 0, 32},                               // nothing removed
        {32, 1, 31},   {32, 16, 16}, {32, 17, 16}, // above 16 counts as 16
        {32, 255, 16}, {16, 16, 0},  {16, 200, 0}, {48, 5, 43},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << "/" << int{c.lastByte});
        const Bytes key = RandomBytes(16), iv = RandomBytes(16);
        // The padding bytes are not checked: only the last byte is set.
        Bytes plain = RandomBytes(c.length);
        plain.back() = c.lastByte;
        const Bytes cipher = OpenSslEncrypt(plain, key, iv, false);
        ASSERT_EQ(cipher.size(), c.length);
        Bytes out(c.length);
        EXPECT_EQ(
            sfx::AesCbcDecrypt(out.data(), cipher.data(), cipher.size(), key.data(), iv.data()),
            c.expected);
        EXPECT_EQ(out, plain);
    }
}

TEST(AesCbcDecrypt, RefusesLengthsThatAreNotWholeBlocks) {
    const Bytes key = RandomBytes(16), iv = RandomBytes(16), cipher = RandomBytes(48);
    for (std::size_t length : {0u, 1u, 15u, 17u, 47u}) {
        SCOPED_TRACE(length);
        Bytes out(48, 0x5C);
        EXPECT_EQ(sfx::AesCbcDecrypt(out.data(), cipher.data(), length, key.data(), iv.data()), 0u);
        EXPECT_EQ(out, Bytes(48, 0x5C));
    }
}

} // namespace
