#include "format/SevenZipAes.h"

#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/sha2.h>

#include <algorithm>
#include <cstring>

namespace sfx::sevenzip {

bool ParseAesProperties(std::span<const std::uint8_t> properties, AesProperties& out) {
    AesProperties parsed;
    if (properties.empty())
        return false;
    const std::uint8_t first = properties[0];
    parsed.cyclesPower = first & 0x3F;
    if ((first & 0xC0) == 0) {
        out = std::move(parsed);
        return properties.size() == 1;
    }
    if (properties.size() < 2)
        return false;
    const std::size_t saltSize = ((first >> 7) & 1u) + (properties[1] >> 4);
    const std::size_t ivSize = ((first >> 6) & 1u) + (properties[1] & 0x0F);
    if (properties.size() != 2 + saltSize + ivSize || ivSize > parsed.iv.size())
        return false;
    parsed.salt.assign(properties.begin() + 2, properties.begin() + 2 + saltSize);
    std::copy_n(properties.begin() + 2 + saltSize, ivSize, parsed.iv.begin());
    out = std::move(parsed);
    return true;
}

std::optional<std::array<std::uint8_t, 32>> DeriveAesKey(unsigned cyclesPower,
                                                         std::span<const std::uint8_t> salt,
                                                         std::u16string_view password,
                                                         const CancelCheck& cancelled) {
    // About a millisecond of rounds between two looks at the cancel check.
    constexpr std::uint64_t kRoundsBetweenChecks = 1 << 12;
    std::vector<std::uint8_t> round(salt.begin(), salt.end());
    for (const char16_t unit : password) {
        round.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        round.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    std::array<std::uint8_t, 32> key{};
    if (cyclesPower == kAesCyclesPowerPlainKey) {
        std::copy_n(round.begin(), std::min(round.size(), key.size()), key.begin());
        return key;
    }
    // One buffer per round, the counter at its end counted up in place.
    const std::size_t counterAt = round.size();
    round.resize(counterAt + 8, 0);
    sha256_ctx context;
    sha256_init(&context);
    const std::uint64_t rounds = std::uint64_t(1) << cyclesPower;
    for (std::uint64_t i = 0; i < rounds; ++i) {
        if (i % kRoundsBetweenChecks == 0 && i != 0 && cancelled && cancelled())
            return std::nullopt;
        sha256_update(&context, round.size(), round.data());
        for (std::size_t b = counterAt; b < round.size() && ++round[b] == 0; ++b) {
        }
    }
    sha256_digest(&context, key.size(), key.data());
    return key;
}

std::optional<std::array<std::uint8_t, 32>> AesKeyCache::Key(unsigned cyclesPower,
                                                             std::span<const std::uint8_t> salt,
                                                             std::u16string_view password) {
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return entry.cyclesPower == cyclesPower && std::ranges::equal(entry.salt, salt) &&
               entry.password == password;
    });
    if (found != entries_.end())
        return found->key;
    if (cancelled_ && cancelled_())
        return std::nullopt;
    const auto key = DeriveAesKey(cyclesPower, salt, password, cancelled_);
    if (!key)
        return std::nullopt;
    if (entries_.size() == kEntries)
        entries_.erase(entries_.begin());
    entries_.push_back({cyclesPower, {salt.begin(), salt.end()}, std::u16string(password), *key});
    return entries_.back().key;
}

namespace {

void DecipherBlocks(const void* context, std::size_t length, std::uint8_t* out,
                    const std::uint8_t* in) {
    aes256_decrypt(static_cast<const aes256_ctx*>(context), length, out, in);
}

} // namespace

struct AesCbcDecipher::State {
    aes256_ctx context;
    std::array<std::uint8_t, kBlockSize> chain;
};

AesCbcDecipher::AesCbcDecipher(const std::array<std::uint8_t, 32>& key,
                               const std::array<std::uint8_t, 16>& iv)
    : state_(std::make_unique<State>()) {
    aes256_set_decrypt_key(&state_->context, key.data());
    state_->chain = iv;
}

AesCbcDecipher::~AesCbcDecipher() = default;

void AesCbcDecipher::Decipher(std::uint8_t* data, std::size_t size) {
    cbc_decrypt(&state_->context, DecipherBlocks, kBlockSize, state_->chain.data(), size, data,
                data);
}

} // namespace sfx::sevenzip
