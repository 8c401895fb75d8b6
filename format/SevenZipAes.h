#pragma once
// The 7z archive's cipher: AES-256 in CBC mode, its key derived from the password by rounds of
// SHA-256.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sfx::sevenzip {

// Rounds beyond this take minutes per folder; no archiver writes them.
constexpr unsigned kMaxAesCyclesPower = 24;
constexpr unsigned kAesCyclesPowerPlainKey = 0x3F; // the key is salt and password as they are

struct AesProperties {
    unsigned cyclesPower = 0;
    std::vector<std::uint8_t> salt;
    std::array<std::uint8_t, 16> iv{};
};

// False for properties that do not fit their own lengths.
bool ParseAesProperties(std::span<const std::uint8_t> properties, AesProperties& out);

// Asked between rounds of a long derivation: true ends it without a key.
using CancelCheck = std::function<bool()>;

// SHA-256 over 2^cyclesPower rounds of salt, password (UTF-16LE) and an 8-byte round counter;
// none when `cancelled` said so.
std::optional<std::array<std::uint8_t, 32>> DeriveAesKey(unsigned cyclesPower,
                                                         std::span<const std::uint8_t> salt,
                                                         std::u16string_view password,
                                                         const CancelCheck& cancelled = {});

// Keys derived before, so that folders with the same salt and password (every folder of an
// archive 7zz makes) pay for the rounds once. One per reader; not for sharing between threads.
class AesKeyCache {
public:
    // None when the reader's cancel check said so during the derivation.
    std::optional<std::array<std::uint8_t, 32>>
    Key(unsigned cyclesPower, std::span<const std::uint8_t> salt, std::u16string_view password);
    void SetCancelCheck(CancelCheck cancelled) { cancelled_ = std::move(cancelled); }

private:
    struct Entry {
        unsigned cyclesPower = 0;
        std::vector<std::uint8_t> salt;
        std::u16string password;
        std::array<std::uint8_t, 32> key{};
    };
    static constexpr std::size_t kEntries = 4;
    std::vector<Entry> entries_; // the most recent last
    CancelCheck cancelled_;
};

// Deciphers AES-256-CBC in place, block after block; the chain carries over between calls.
class AesCbcDecipher {
public:
    AesCbcDecipher(const std::array<std::uint8_t, 32>& key, const std::array<std::uint8_t, 16>& iv);
    ~AesCbcDecipher();
    AesCbcDecipher(const AesCbcDecipher&) = delete;
    AesCbcDecipher& operator=(const AesCbcDecipher&) = delete;

    static constexpr std::size_t kBlockSize = 16;

    // `size` is a multiple of the block size.
    void Decipher(std::uint8_t* data, std::size_t size);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace sfx::sevenzip
