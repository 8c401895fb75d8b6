#include "format/Bcj2.h"

#include "format/SevenZipCoders.h"

#include <optional>

namespace sfx::sevenzip {

namespace {

constexpr std::uint32_t kTopValue = 1u << 24;
constexpr unsigned kProbabilityBits = 11;
constexpr std::uint16_t kProbabilityOne = 1u << kProbabilityBits;
constexpr unsigned kMoveBits = 5;

// A branch opcode: call (E8), jump (E9), or a conditional jump (0F 8x).
bool IsBranch(std::uint8_t previous, std::uint8_t byte) {
    return (byte & 0xFE) == 0xE8 || (previous == 0x0F && (byte & 0xF0) == 0x80);
}

class Bcj2Stream final : public SizedStream {
public:
    Bcj2Stream(std::array<std::unique_ptr<ByteStream>, 4> inputs, std::uint64_t size)
        : SizedStream(size), main_(std::move(inputs[0])), calls_(std::move(inputs[1])),
          jumps_(std::move(inputs[2])), ranges_(std::move(inputs[3])) {
        probabilities_.fill(kProbabilityOne / 2);
    }

protected:
    ArchiveStatus Produce(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        if (!started_) {
            for (int i = 0; i < 5; ++i) {
                std::uint8_t byte = 0;
                if (ArchiveStatus status = Required(ranges_, byte); !status.Ok())
                    return status;
                code_ = (code_ << 8) | byte;
            }
            started_ = true;
        }
        const std::uint64_t left = Left();
        while (done < size) {
            if (pendingAt_ < pending_.size()) {
                out[done++] = pending_[pendingAt_++];
                continue;
            }
            std::uint8_t byte = 0;
            bool have = false;
            if (ArchiveStatus status = main_.Next(byte, have); !status.Ok())
                return status;
            if (!have)
                break;
            out[done++] = byte;
            ++position_;
            // After the folder's last byte no branch decision follows.
            if (!IsBranch(previous_, byte) || done == left) {
                previous_ = byte;
                continue;
            }
            const std::size_t model = byte == 0xE8 ? previous_ : byte == 0xE9 ? 256 : 257;
            bool converted = false;
            if (ArchiveStatus status = DecodeBit(probabilities_[model], converted); !status.Ok())
                return status;
            if (!converted) {
                previous_ = byte;
                continue;
            }
            std::uint32_t target = 0;
            for (int i = 0; i < 4; ++i) {
                std::uint8_t part = 0;
                if (ArchiveStatus status = Required(byte == 0xE8 ? calls_ : jumps_, part);
                    !status.Ok())
                    return status;
                target = (target << 8) | part;
            }
            const std::uint32_t relative = target - (position_ + 4);
            for (std::size_t i = 0; i < pending_.size(); ++i)
                pending_[i] = static_cast<std::uint8_t>(relative >> (8 * i));
            pendingAt_ = 0;
            position_ += 4;
            previous_ = static_cast<std::uint8_t>(relative >> 24);
        }
        return {};
    }

private:
    static ArchiveStatus Required(ByteInput& input, std::uint8_t& byte) {
        bool have = false;
        if (ArchiveStatus status = input.Next(byte, have); !status.Ok())
            return status;
        if (!have)
            return {cptlib::HRESULT_INVALID_DATA, {}};
        return {};
    }

    ArchiveStatus DecodeBit(std::uint16_t& probability, bool& bit) {
        const std::uint32_t bound = (range_ >> kProbabilityBits) * probability;
        if (code_ < bound) {
            range_ = bound;
            probability = static_cast<std::uint16_t>(
                probability + ((kProbabilityOne - probability) >> kMoveBits));
            bit = false;
        } else {
            range_ -= bound;
            code_ -= bound;
            probability = static_cast<std::uint16_t>(probability - (probability >> kMoveBits));
            bit = true;
        }
        if (range_ < kTopValue) {
            std::uint8_t byte = 0;
            if (ArchiveStatus status = Required(ranges_, byte); !status.Ok())
                return status;
            range_ <<= 8;
            code_ = (code_ << 8) | byte;
        }
        return {};
    }

    ByteInput main_;
    ByteInput calls_;
    ByteInput jumps_;
    ByteInput ranges_;
    std::array<std::uint16_t, 258> probabilities_{};
    std::uint32_t range_ = 0xFFFFFFFF;
    std::uint32_t code_ = 0;
    bool started_ = false;
    std::uint32_t position_ = 0; // output bytes so far; branch targets count modulo 2^32
    std::uint8_t previous_ = 0;
    std::array<std::uint8_t, 4> pending_{};
    std::size_t pendingAt_ = 4;
};

} // namespace

std::unique_ptr<ByteStream> MakeBcj2Decoder(std::array<std::unique_ptr<ByteStream>, 4> inputs,
                                            std::uint64_t size) {
    return std::make_unique<Bcj2Stream>(std::move(inputs), size);
}

} // namespace sfx::sevenzip
