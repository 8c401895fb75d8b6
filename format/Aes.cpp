#include "format/Aes.h"

#include <array>
#include <cstring>

namespace sfx {

namespace {

constexpr int kRounds = 10;

constexpr std::uint8_t Rotl8(std::uint8_t x, int n) {
    return static_cast<std::uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr std::uint8_t XTime(std::uint8_t x) {
    return static_cast<std::uint8_t>((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0));
}

constexpr std::uint8_t Mul(std::uint8_t a, std::uint8_t b) {
    std::uint8_t product = 0;
    for (; b != 0; b >>= 1, a = XTime(a))
        if ((b & 1) != 0)
            product ^= a;
    return product;
}

constexpr std::uint32_t Ror8(std::uint32_t x) {
    return (x >> 8) | (x << 24);
}

struct Tables {
    std::array<std::uint8_t, 256> sbox{};
    std::array<std::uint8_t, 256> invSbox{};
    // The inverse round (inverse substitution and inverse mix columns) per byte position.
    std::array<std::array<std::uint32_t, 256>, 4> td{};
};

constexpr Tables MakeTables() {
    Tables t;
    // Walk the field by powers of 3 and its inverse, which gives each byte's inverse.
    std::uint8_t p = 1, q = 1;
    do {
        p = static_cast<std::uint8_t>(p ^ XTime(p));
        q = static_cast<std::uint8_t>(q ^ (q << 1));
        q = static_cast<std::uint8_t>(q ^ (q << 2));
        q = static_cast<std::uint8_t>(q ^ (q << 4));
        if ((q & 0x80) != 0)
            q ^= 0x09;
        const std::uint8_t affine =
            static_cast<std::uint8_t>(q ^ Rotl8(q, 1) ^ Rotl8(q, 2) ^ Rotl8(q, 3) ^ Rotl8(q, 4));
        t.sbox[p] = static_cast<std::uint8_t>(affine ^ 0x63);
    } while (p != 1);
    t.sbox[0] = 0x63;
    for (int i = 0; i < 256; ++i)
        t.invSbox[t.sbox[static_cast<std::size_t>(i)]] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < 256; ++i) {
        const std::uint8_t s = t.invSbox[i];
        std::uint32_t word = (std::uint32_t{Mul(s, 0x0E)} << 24) |
                             (std::uint32_t{Mul(s, 0x09)} << 16) |
                             (std::uint32_t{Mul(s, 0x0D)} << 8) | std::uint32_t{Mul(s, 0x0B)};
        for (auto& table : t.td) {
            table[i] = word;
            word = Ror8(word);
        }
    }
    return t;
}

constexpr Tables kTables = MakeTables();

constexpr std::uint8_t Byte(std::uint32_t word, int index) {
    return static_cast<std::uint8_t>(word >> (24 - 8 * index));
}

std::uint32_t LoadBigEndian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void StoreBigEndian(std::uint8_t* p, std::uint32_t word) {
    for (int i = 0; i < 4; ++i)
        p[i] = Byte(word, i);
}

std::uint32_t SubWord(std::uint32_t word) {
    std::uint32_t out = 0;
    for (int i = 0; i < 4; ++i)
        out = (out << 8) | kTables.sbox[Byte(word, i)];
    return out;
}

std::uint32_t InvMixColumn(std::uint32_t word) {
    // td applies the inverse substitution first, so undo it with the forward one.
    return kTables.td[0][kTables.sbox[Byte(word, 0)]] ^ kTables.td[1][kTables.sbox[Byte(word, 1)]] ^
           kTables.td[2][kTables.sbox[Byte(word, 2)]] ^ kTables.td[3][kTables.sbox[Byte(word, 3)]];
}

using RoundKeys = std::array<std::uint32_t, 4 * (kRounds + 1)>;

// The key schedule in the order of the equivalent inverse cipher: last round key first, inner
// round keys passed through the inverse mix columns.
void ExpandDecryptionKey(const std::uint8_t* key, RoundKeys& dk) {
    RoundKeys w{};
    for (std::size_t i = 0; i < 4; ++i)
        w[i] = LoadBigEndian(key + 4 * i);
    std::uint32_t rcon = 0x01;
    for (std::size_t i = 4; i < w.size(); ++i) {
        std::uint32_t temp = w[i - 1];
        if (i % 4 == 0) {
            temp = SubWord((temp << 8) | (temp >> 24)) ^ (rcon << 24);
            rcon = XTime(static_cast<std::uint8_t>(rcon));
        }
        w[i] = w[i - 4] ^ temp;
    }
    for (std::size_t round = 0; round <= kRounds; ++round) {
        for (std::size_t j = 0; j < 4; ++j) {
            const std::uint32_t word = w[4 * (kRounds - round) + j];
            dk[4 * round + j] = (round == 0 || round == kRounds) ? word : InvMixColumn(word);
        }
    }
    volatile std::uint32_t* wipe = w.data();
    for (std::size_t i = 0; i < w.size(); ++i)
        wipe[i] = 0;
}

void DecryptBlock(const RoundKeys& dk, const std::uint8_t* in, std::uint8_t* out) {
    std::uint32_t s[4];
    for (std::size_t j = 0; j < 4; ++j)
        s[j] = LoadBigEndian(in + 4 * j) ^ dk[j];
    const auto& td = kTables.td;
    for (std::size_t round = 1; round < kRounds; ++round) {
        std::uint32_t t[4];
        for (std::size_t j = 0; j < 4; ++j)
            t[j] = td[0][Byte(s[j], 0)] ^ td[1][Byte(s[(j + 3) % 4], 1)] ^
                   td[2][Byte(s[(j + 2) % 4], 2)] ^ td[3][Byte(s[(j + 1) % 4], 3)] ^
                   dk[4 * round + j];
        std::memcpy(s, t, sizeof s);
    }
    const auto& inv = kTables.invSbox;
    for (std::size_t j = 0; j < 4; ++j) {
        const std::uint32_t word = (std::uint32_t{inv[Byte(s[j], 0)]} << 24) |
                                   (std::uint32_t{inv[Byte(s[(j + 3) % 4], 1)]} << 16) |
                                   (std::uint32_t{inv[Byte(s[(j + 2) % 4], 2)]} << 8) |
                                   std::uint32_t{inv[Byte(s[(j + 1) % 4], 3)]};
        StoreBigEndian(out + 4 * j, word ^ dk[4 * kRounds + j]);
    }
}

} // namespace

std::size_t AesCbcDecrypt(std::uint8_t* out, const std::uint8_t* cipherText, std::size_t length,
                          const std::uint8_t* key, const std::uint8_t* iv) {
    if (length == 0 || length % kAesBlockSize != 0)
        return 0;
    RoundKeys dk{};
    ExpandDecryptionKey(key, dk);
    std::uint8_t vector[kAesBlockSize];
    std::uint8_t next[kAesBlockSize];
    std::memcpy(vector, iv, kAesBlockSize);
    for (std::size_t offset = 0; offset < length; offset += kAesBlockSize) {
        // Keep the cipher block before `out` may overwrite it.
        std::memcpy(next, cipherText + offset, kAesBlockSize);
        DecryptBlock(dk, next, out + offset);
        for (std::size_t i = 0; i < kAesBlockSize; ++i)
            out[offset + i] ^= vector[i];
        std::memcpy(vector, next, kAesBlockSize);
    }
    volatile std::uint32_t* wipe = dk.data();
    for (std::size_t i = 0; i < dk.size(); ++i)
        wipe[i] = 0;

    std::size_t padding = out[length - 1];
    if (padding > kAesBlockSize)
        padding = kAesBlockSize;
    return padding > length ? 0 : length - padding;
}

} // namespace sfx
