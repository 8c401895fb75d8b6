#include "format/FileDigest.h"

#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/MappedFileView.h"
#include "cptlib/resources/ResourceTree.h"
#include "format/LittleEndian.h"
#include "format/Payload.h"
#include "format/SizeSlot.h"

#include <nettle/sha2.h>

#include <algorithm>

namespace sfx {

namespace {

// Changes what the digest means when the rule changes.
constexpr std::string_view kDigestTag = "sfx file digest 1";

bool IsStampedSlot(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper.starts_with("VRN") || upper.starts_with("ZQ_");
}

// The PE fields that signing rewrites: the check sum and the certificate table's entry.
void AddSigningFields(std::span<const std::uint8_t> image,
                      std::vector<std::pair<std::uint64_t, std::uint64_t>>& zeroed) {
    const auto peAt = ReadLittleEndian<std::uint32_t>(image, 0x3C);
    if (!peAt || ReadLittleEndian<std::uint32_t>(image, *peAt) != 0x00004550u)
        return;
    const std::uint64_t optional = std::uint64_t(*peAt) + 24;
    const auto magic = ReadLittleEndian<std::uint16_t>(image, optional);
    if (!magic || (*magic != 0x10B && *magic != 0x20B))
        return;
    zeroed.emplace_back(optional + 64, 4);
    const std::uint64_t directories = optional + (*magic == 0x10B ? 96 : 112);
    zeroed.emplace_back(directories + 4 * 8, 8);
}

} // namespace

std::optional<DigestLayout> DigestLayoutOf(std::span<const std::uint8_t> image,
                                           std::uint64_t covered) {
    cptlib::ResourceTree tree;
    std::vector<cptlib::ResourceInfo> resources;
    if (cptlib::Failed(cptlib::ResourceTree::Open(image, tree)) ||
        cptlib::Failed(tree.EnumAll(resources)))
        return std::nullopt;
    DigestLayout layout;
    layout.covered = covered;
    bool found = false;
    for (const cptlib::ResourceInfo& resource : resources) {
        if (!resource.type.name.empty() || resource.type.id != cptlib::kRtRcData)
            continue;
        if (resource.name.name == kDigestSlotName && resource.data.size == kDigestSize) {
            layout.slotOffset = resource.data.offset;
            found = true;
        } else if (!IsStampedSlot(resource.name.name)) {
            continue;
        }
        layout.zeroed.emplace_back(resource.data.offset, resource.data.size);
    }
    if (!found)
        return std::nullopt;
    if (cptlib::DetectImageFormat(image) == cptlib::ImageFormat::Pe)
        AddSigningFields(image, layout.zeroed);
    std::sort(layout.zeroed.begin(), layout.zeroed.end());
    return layout;
}

struct DigestBuilder::Piece {
    sha256_ctx context;
    std::uint64_t seen = 0;
    bool done = false;
    Digest hash{};
};

DigestBuilder::DigestBuilder(DigestLayout layout)
    : layout_(std::move(layout)),
      pieces_(static_cast<std::size_t>((layout_.covered + kDigestPiece - 1) / kDigestPiece)) {
    for (Piece& piece : pieces_)
        sha256_init(&piece.context);
}

DigestBuilder::~DigestBuilder() = default;

void DigestBuilder::Hash(Piece& piece, std::uint64_t at, const std::uint8_t* bytes,
                         std::size_t size) {
    static constexpr std::uint8_t kZeros[256] = {};
    const std::uint64_t end = at + size;
    std::uint64_t position = at;
    for (const auto& [zeroAt, zeroSize] : layout_.zeroed) {
        const std::uint64_t zeroEnd = zeroAt + zeroSize;
        if (zeroEnd <= position || zeroAt >= end)
            continue;
        if (zeroAt > position) {
            sha256_update(&piece.context, zeroAt - position, bytes + (position - at));
            position = zeroAt;
        }
        for (const std::uint64_t stop = std::min(zeroEnd, end); position < stop;) {
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(stop - position, 256));
            sha256_update(&piece.context, n, kZeros);
            position += n;
        }
    }
    if (position < end)
        sha256_update(&piece.context, end - position, bytes + (position - at));
    piece.seen += size;
}

void DigestBuilder::BytesRead(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) {
    const std::uint64_t end = std::min(offset + size, layout_.covered);
    if (offset >= end)
        return;
    const std::lock_guard lock(mutex_);
    for (std::uint64_t index = offset / kDigestPiece; index * kDigestPiece < end; ++index) {
        Piece& piece = pieces_[static_cast<std::size_t>(index)];
        const std::uint64_t pieceEnd = std::min((index + 1) * kDigestPiece, layout_.covered);
        const std::uint64_t next = index * kDigestPiece + piece.seen;
        if (piece.done || next < offset || next >= end)
            continue;
        const std::uint64_t stop = std::min(pieceEnd, end);
        Hash(piece, next, bytes + (next - offset), static_cast<std::size_t>(stop - next));
        if (next + (stop - next) == pieceEnd) {
            sha256_digest(&piece.context, kDigestSize, piece.hash.data());
            piece.done = true;
        }
    }
}

std::uint64_t DigestBuilder::Unseen() const {
    const std::lock_guard lock(mutex_);
    std::uint64_t unseen = 0;
    for (std::size_t index = 0; index < pieces_.size(); ++index) {
        const std::uint64_t length =
            std::min<std::uint64_t>(kDigestPiece, layout_.covered - index * kDigestPiece);
        unseen += length - pieces_[index].seen;
    }
    return unseen;
}

std::optional<Digest> DigestBuilder::Finish(const RangeReader& read) {
    std::vector<std::uint8_t> buffer;
    for (std::size_t index = 0; index < pieces_.size(); ++index) {
        const Piece& piece = pieces_[index];
        if (piece.done)
            continue;
        const std::uint64_t at = index * kDigestPiece + piece.seen;
        const std::uint64_t pieceEnd = std::min((index + 1) * kDigestPiece, layout_.covered);
        buffer.resize(static_cast<std::size_t>(pieceEnd - at));
        if (!read(at, buffer.data(), buffer.size()))
            return std::nullopt;
        BytesRead(at, buffer.data(), buffer.size());
    }
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, kDigestTag.size(),
                  reinterpret_cast<const std::uint8_t*>(kDigestTag.data()));
    const std::string covered = LittleEndianBytes(layout_.covered, 8);
    sha256_update(&context, covered.size(), reinterpret_cast<const std::uint8_t*>(covered.data()));
    for (const Piece& piece : pieces_)
        sha256_update(&context, piece.hash.size(), piece.hash.data());
    Digest digest{};
    sha256_digest(&context, digest.size(), digest.data());
    return digest;
}

std::optional<Digest> ComputeDigest(const DigestLayout& layout,
                                    const DigestBuilder::RangeReader& read) {
    DigestBuilder builder(layout);
    return builder.Finish(read);
}

std::optional<Digest> DecodeDigestSlot(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kDigestSize ||
        std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }))
        return std::nullopt;
    Digest digest{};
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    return digest;
}

OwnFileDigestCheck::OwnFileDigestCheck(const cptlib::platform::FileDescriptor& file,
                                       DigestLayout layout, const Digest& expected)
    : file_(file), builder_(std::move(layout)), expected_(expected) {}

OwnFileDigestCheck::~OwnFileDigestCheck() = default;

std::unique_ptr<OwnFileDigestCheck>
OwnFileDigestCheck::Start(const cptlib::platform::FileDescriptor& file) {
    std::uint64_t size = 0;
    if (cptlib::Failed(cptlib::platform::QueryFileSize(file, size)))
        return nullptr;
    const auto covered = ReadSizeSlot(file);
    if (!covered || *covered > size)
        return nullptr;
    cptlib::platform::MappedFileView view;
    if (cptlib::Failed(view.Map(
            file, static_cast<std::uint32_t>(std::min<std::uint64_t>(size, kMarkerSearchLimit)))))
        return nullptr;
    auto layout = DigestLayoutOf(view.bytes(), *covered);
    if (!layout || layout->slotOffset + kDigestSize > view.size())
        return nullptr;
    const auto expected = DecodeDigestSlot(view.bytes().subspan(layout->slotOffset, kDigestSize));
    if (!expected)
        return nullptr;
    std::unique_ptr<OwnFileDigestCheck> check(
        new OwnFileDigestCheck(file, std::move(*layout), *expected));
    // The head up to the payload was read by the start-up's marker search.
    if (const auto found = FindPayload(view.bytes()))
        check->builder_.BytesRead(
            0, view.data(),
            static_cast<std::size_t>(std::min<std::uint64_t>(found->archiveOffset, view.size())));
    check->listening_ = std::make_unique<ScopedReadListener>(&check->builder_);
    return check;
}

bool OwnFileDigestCheck::Finish() {
    listening_.reset();
    const auto digest =
        builder_.Finish([this](std::uint64_t offset, std::uint8_t* out, std::size_t length) {
            std::size_t done = 0;
            return cptlib::platform::ReadFileAt(file_, offset, out, length, done) == 0 &&
                   done == length;
        });
    return digest && *digest == expected_;
}

} // namespace sfx
