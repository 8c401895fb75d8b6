#pragma once
// The file digest: a SHA-256 over every byte of a launcher file up to the size the size slot
// holds, except the bytes that may change after the build (the value slots that are stamped
// later, the digest slot itself, and the PE check sum and certificate entry that signing
// rewrites), which count as zeros. The build tool writes it into the 32-byte kRtRcData
// resource "_VRN_DIGEST"; a file whose slot is missing or all zeros carries no digest.
//
// The file is hashed in 1 MiB pieces, each on its own, so that bytes count in whatever order
// readers pull them (several decoders read side by side); the digest is the hash of the
// pieces' hashes.

#include "cptlib/platform/File.h"
#include "format/ReadTap.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace sfx {

inline constexpr std::string_view kDigestSlotName = "_VRN_DIGEST";
constexpr std::size_t kDigestSize = 32;
constexpr std::uint64_t kDigestPiece = 1 << 20;

using Digest = std::array<std::uint8_t, kDigestSize>;

// What the digest covers.
struct DigestLayout {
    std::uint64_t covered = 0;    // bytes from the start of the file
    std::uint64_t slotOffset = 0; // the digest slot
    // [offset, offset + size) ranges that count as zeros, sorted.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> zeroed;
};

// The layout for a file whose image begins with `image` (the headers and resources, up to the
// image end) and which must be `covered` bytes long; nullopt when the image has no digest slot.
std::optional<DigestLayout> DigestLayoutOf(std::span<const std::uint8_t> image,
                                           std::uint64_t covered);

// The digest of bytes seen in any order. Thread-safe.
class DigestBuilder final : public IReadListener {
public:
    explicit DigestBuilder(DigestLayout layout);
    ~DigestBuilder() override;

    // Bytes at `offset`: they count where they continue what a piece has seen so far; others
    // are left for Finish to read.
    void BytesRead(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) override;

    // Reads what was not seen through `read` (which fills all of a range or fails) and gives
    // the digest; nullopt when a read fails.
    using RangeReader = std::function<bool(std::uint64_t offset, std::uint8_t* out, std::size_t)>;
    std::optional<Digest> Finish(const RangeReader& read);

    // Bytes that Finish still has to read.
    std::uint64_t Unseen() const;

    const DigestLayout& Layout() const { return layout_; }

private:
    struct Piece;
    void Hash(Piece& piece, std::uint64_t at, const std::uint8_t* bytes, std::size_t size);

    DigestLayout layout_;
    std::vector<Piece> pieces_;
    mutable std::mutex mutex_;
};

// The digest of the file, read whole from `read`.
std::optional<Digest> ComputeDigest(const DigestLayout& layout,
                                    const DigestBuilder::RangeReader& read);

// The bytes of a digest slot; nullopt when they are not a digest (wrong size or all zeros).
std::optional<Digest> DecodeDigestSlot(std::span<const std::uint8_t> bytes);

// The check of the launcher's own file while it is extracted: the head is counted at once,
// the archive as its readers read it (listening while this lives), the rest at the end.
class OwnFileDigestCheck {
public:
    // nullptr when the file carries no digest (it is then not checked, as before digests).
    static std::unique_ptr<OwnFileDigestCheck> Start(const cptlib::platform::FileDescriptor& file);
    ~OwnFileDigestCheck();

    // Whether the file's bytes give the digest it carries.
    bool Finish();

private:
    OwnFileDigestCheck(const cptlib::platform::FileDescriptor& file, DigestLayout layout,
                       const Digest& expected);
    const cptlib::platform::FileDescriptor& file_;
    DigestBuilder builder_;
    Digest expected_;
    std::unique_ptr<ScopedReadListener> listening_;
};

} // namespace sfx
