#include "format/ArchiveFallback.h"

#include "cptlib/platform/File.h"
#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/OwnImage.h"
#include "cptlib/platform/ThreadLocale.h"
#include "format/ReadTap.h"
#include "format/SevenZipCoders.h"
#include "format/SevenZipHeader.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>

namespace sfx {

namespace {

constexpr std::size_t kReadSize = 1 << 20;
// Headers larger than this are damage, not archives we could have built.
constexpr std::uint64_t kMaxHeaderSize = 256u << 20;
std::string_view WithoutTrailingSlash(std::string_view name) {
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return name;
}

// Whether the library's item is the one the headers list at its place: the same name, or, where
// the library changed the name, the same kind, size and depth.
bool SameItem(const ArchiveItem& listed, const ArchiveItem& library) {
    const std::string_view a = WithoutTrailingSlash(listed.name);
    const std::string_view b = WithoutTrailingSlash(library.name);
    if (a == b)
        return true;
    return listed.type == library.type &&
           (library.type != ArchiveItemType::File || listed.size == library.size) &&
           std::count(a.begin(), a.end(), '/') == std::count(b.begin(), b.end(), '/');
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// The archive's bytes: from `start` to the end of the file, read in large pieces.
struct Source {
    cptlib::platform::FileDescriptor file;
    std::uint64_t start = 0;
    std::uint64_t size = 0; // bytes from start to the end of the file
    std::uint64_t position = 0;
    // Not zero-filled, and no larger than the archive: a small archive must not pay for
    // clearing a megabyte it never reads.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t bufferSize = 0;
    std::uint32_t ioError = 0; // Win32 number of the last failed read

    std::uint32_t ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t length,
                         std::size_t& done) {
        return TappedReadAt(file, start + offset, out, length, done);
    }
};

la_ssize_t ReadCallback(struct archive* archive, void* data, const void** block) {
    auto& source = *static_cast<Source*>(data);
    if (!source.buffer) {
        source.bufferSize = static_cast<std::size_t>(
            std::max<std::uint64_t>(1, std::min<std::uint64_t>(source.size, kReadSize)));
        source.buffer = std::make_unique_for_overwrite<std::uint8_t[]>(source.bufferSize);
    }
    const std::uint64_t left = source.position < source.size ? source.size - source.position : 0;
    const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(left, source.bufferSize));
    std::size_t done = 0;
    const std::uint32_t error = source.ReadAt(source.position, source.buffer.get(), length, done);
    if (error != 0) {
        source.ioError = error;
        archive_set_error(archive, EIO, "Cannot read the archive file");
        return -1;
    }
    source.position += done;
    *block = source.buffer.get();
    return static_cast<la_ssize_t>(done);
}

la_int64_t SkipCallback(struct archive*, void* data, la_int64_t request) {
    auto& source = *static_cast<Source*>(data);
    if (request <= 0)
        return 0;
    const std::uint64_t left = source.position < source.size ? source.size - source.position : 0;
    const std::uint64_t skip = std::min<std::uint64_t>(left, static_cast<std::uint64_t>(request));
    source.position += skip;
    return static_cast<la_int64_t>(skip);
}

la_int64_t SeekCallback(struct archive*, void* data, la_int64_t offset, int whence) {
    auto& source = *static_cast<Source*>(data);
    la_int64_t base = 0;
    if (whence == SEEK_CUR)
        base = static_cast<la_int64_t>(source.position);
    else if (whence == SEEK_END)
        base = static_cast<la_int64_t>(source.size);
    else if (whence != SEEK_SET)
        return ARCHIVE_FATAL;
    const la_int64_t target = base + offset;
    if (target < 0)
        return ARCHIVE_FATAL;
    source.position = static_cast<std::uint64_t>(target);
    return target;
}

struct ArchiveFree {
    void operator()(struct archive* archive) const noexcept { archive_read_free(archive); }
};
using ArchivePtr = std::unique_ptr<struct archive, ArchiveFree>;

ArchivePtr NewSevenZipReader() {
    ArchivePtr archive(archive_read_new());
    if (archive)
        archive_read_support_format_7zip(archive.get());
    return archive;
}

class LibArchiveReader final : public IArchiveReader {
public:
    LibArchiveReader(std::string path, std::uint64_t offset)
        : path_(std::move(path)), offset_(offset) {}
    // Reads `file`, opened before, which this reader keeps for itself.
    LibArchiveReader(cptlib::platform::FileDescriptor file, std::uint64_t offset)
        : offset_(offset) {
        source_.file = std::move(file);
    }
    // Reads nothing: its first read fails with `openError`, why the file could not be had.
    LibArchiveReader(cptlib::HRESULT openError, std::uint64_t offset)
        : offset_(offset), openError_(openError) {}

    ArchiveStatus ReadIndex(ArchiveIndex& index) override;
    ArchiveStatus NextItem(ArchiveItem& item, bool& more) override;
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override;

private:
    ArchiveStatus OpenSource();
    ArchiveStatus Open(ArchivePtr& archive);
    ArchiveStatus IndexFromHeaders(ArchiveIndex& index);
    ArchiveStatus HeaderFailureInWords(const ArchiveStatus& status);
    ArchiveStatus DecodeHeader(const sevenzip::EncodedHeader& encoded,
                               std::vector<std::uint8_t>& header);
    ArchiveStatus Failure(struct archive* archive, struct archive_entry* entry);
    ArchiveItem ItemOf(struct archive_entry* entry) const;

    std::string path_;
    std::uint64_t offset_;
    cptlib::HRESULT openError_ = cptlib::kHrOk;
    // The library converts names through the thread's locale; under the C locale it would
    // refuse every name outside ASCII.
    cptlib::platform::Utf8CharacterLocale locale_;
    Source source_;
    bool sourceOpen_ = false;
    ArchivePtr archive_;
    struct archive_entry* entry_ = nullptr;
    std::uint64_t dataPosition_ = 0;
    ArchiveIndex index_; // from ReadIndex, for what the library does not tell
    bool indexHasModes_ = false;
    std::size_t nextIndexItem_ = 0;
};

ArchiveStatus LibArchiveReader::OpenSource() {
    if (sourceOpen_)
        return {};
    if (cptlib::Failed(openError_))
        return {openError_, {}};
    if (!source_.file) {
        const cptlib::HRESULT opened =
            cptlib::platform::OpenRegularFileForRead(source_.file, path_);
        if (cptlib::Failed(opened))
            return {opened, {}};
    }
    std::uint64_t fileSize = 0;
    const cptlib::HRESULT sized = cptlib::platform::QueryFileSize(source_.file, fileSize);
    if (cptlib::Failed(sized))
        return {sized, {}};
    source_.start = offset_;
    source_.size = fileSize > offset_ ? fileSize - offset_ : 0;
    sourceOpen_ = true;
    return {};
}

ArchiveStatus LibArchiveReader::Open(ArchivePtr& archive) {
    if (ArchiveStatus status = OpenSource(); !status.Ok())
        return status;
    archive = NewSevenZipReader();
    if (!archive)
        return {cptlib::kHrOutOfMemory, {}};
    source_.position = 0;
    source_.ioError = 0;
    struct archive* a = archive.get();
    archive_read_set_read_callback(a, ReadCallback);
    archive_read_set_skip_callback(a, SkipCallback);
    archive_read_set_seek_callback(a, SeekCallback);
    archive_read_set_callback_data(a, &source_);
    if (archive_read_open1(a) != ARCHIVE_OK)
        return Failure(a, nullptr);
    return {};
}

ArchiveStatus LibArchiveReader::ReadIndex(ArchiveIndex& index) {
    const cptlib::platform::Utf8CharacterLocale::Use use(locale_);
    if (ArchiveStatus status = OpenSource(); !status.Ok())
        return status;
    ArchiveIndex found;
    // Headers this reader refuses are damage: the library would only be slower to say so, or
    // loop on them for ever.
    if (ArchiveStatus status = IndexFromHeaders(found); !status.Ok())
        return status;
    // A link target is held in memory whole; one the system could not follow is damage.
    for (const ArchiveItem& item : found.items) {
        if (item.type == ArchiveItemType::Symlink &&
            item.size > cptlib::platform::MaxLinkTargetSize())
            return {cptlib::HRESULT_INVALID_DATA, {}};
    }
    indexHasModes_ = true;
    index_ = found;
    index = std::move(found);
    return {};
}

ArchiveStatus LibArchiveReader::IndexFromHeaders(ArchiveIndex& index) {
    const ArchiveStatus damaged{cptlib::HRESULT_INVALID_DATA, {}};
    std::uint8_t signature[sevenzip::kSignatureHeaderSize];
    std::size_t done = 0;
    sevenzip::SignatureHeader start;
    if (const std::uint32_t error = source_.ReadAt(0, signature, sizeof signature, done))
        return {cptlib::HResultFromWin32(error), {}};
    if (done != sizeof signature || !sevenzip::ParseSignatureHeader(signature, start))
        return damaged;
    const std::uint64_t available = source_.size - sevenzip::kSignatureHeaderSize;
    switch (sevenzip::PlaceOfNextHeader(start, available)) {
    case sevenzip::NextHeaderPlace::None:
        return {};
    case sevenzip::NextHeaderPlace::Damaged:
        return damaged;
    case sevenzip::NextHeaderPlace::Within:
        break;
    }
    std::vector<std::uint8_t> header(static_cast<std::size_t>(start.nextHeaderSize));
    if (const std::uint32_t error =
            source_.ReadAt(sevenzip::kSignatureHeaderSize + start.nextHeaderOffset, header.data(),
                           header.size(), done))
        return {cptlib::HResultFromWin32(error), {}};
    if (done != header.size() || sevenzip::Crc32(header) != start.nextHeaderCrc)
        return damaged;
    sevenzip::EncodedHeader encoded;
    const std::uint64_t budget = sevenzip::BookkeepingBudget(source_.size);
    switch (sevenzip::ParseHeader(header, index, encoded, nullptr, budget)) {
    case sevenzip::HeaderKind::Plain:
        return {};
    case sevenzip::HeaderKind::Encoded: {
        std::vector<std::uint8_t> decoded;
        if (ArchiveStatus status = DecodeHeader(encoded, decoded); !status.Ok())
            return status.text.empty() ? status : HeaderFailureInWords(status);
        sevenzip::EncodedHeader again;
        if (sevenzip::ParseHeader(decoded, index, again, nullptr,
                                  budget - std::min<std::uint64_t>(budget, decoded.size())) ==
            sevenzip::HeaderKind::Plain)
            return {};
        return damaged;
    }
    case sevenzip::HeaderKind::Invalid:
    case sevenzip::HeaderKind::OverBudget:
        break;
    }
    return damaged;
}

// An enciphered header, in the library's words about the whole archive (the header alone
// reads to it as enciphered content). It refuses such a header before parsing anything.
ArchiveStatus LibArchiveReader::HeaderFailureInWords(const ArchiveStatus& status) {
    ArchivePtr archive;
    if (ArchiveStatus opened = Open(archive); !opened.Ok())
        return opened;
    struct archive_entry* entry = nullptr;
    if (archive_read_next_header(archive.get(), &entry) < ARCHIVE_WARN)
        return Failure(archive.get(), nullptr);
    return status;
}

ArchiveStatus LibArchiveReader::DecodeHeader(const sevenzip::EncodedHeader& encoded,
                                             std::vector<std::uint8_t>& header) {
    const ArchiveStatus damaged{cptlib::HRESULT_INVALID_DATA, {}};
    const std::uint64_t available = source_.size - sevenzip::kSignatureHeaderSize;
    // Refused on its claim, before any memory is spent on it.
    if (encoded.unpackSize > sevenzip::EncodedHeaderCap(source_.size) ||
        encoded.packSize > kMaxHeaderSize || encoded.packPosition > available ||
        encoded.packSize > available - encoded.packPosition)
        return damaged;
    // The library allocates whatever dictionary a coder claims; the own reader's bound holds.
    for (const sevenzip::FolderInfo& folder : encoded.layout.folders)
        for (const sevenzip::CoderInfo& coder : folder.coders)
            if (sevenzip::ClaimedDictionary(coder).value_or(0) > sevenzip::kMaxDictionarySize)
                return damaged;
    std::vector<std::uint8_t> packed(static_cast<std::size_t>(encoded.packSize));
    std::size_t done = 0;
    if (const std::uint32_t error =
            source_.ReadAt(sevenzip::kSignatureHeaderSize + encoded.packPosition, packed.data(),
                           packed.size(), done))
        return {cptlib::HResultFromWin32(error), {}};
    if (done != packed.size())
        return damaged;
    const std::vector<std::uint8_t> bytes = sevenzip::MakeHeaderArchive(encoded, packed);
    ArchivePtr archive = NewSevenZipReader();
    if (!archive)
        return {cptlib::kHrOutOfMemory, {}};
    struct archive_entry* entry = nullptr;
    if (archive_read_open_memory(archive.get(), bytes.data(), bytes.size()) != ARCHIVE_OK ||
        archive_read_next_header(archive.get(), &entry) != ARCHIVE_OK)
        return Failure(archive.get(), entry);
    for (;;) {
        const void* block = nullptr;
        size_t size = 0;
        la_int64_t offset = 0;
        const int result = archive_read_data_block(archive.get(), &block, &size, &offset);
        if (result == ARCHIVE_EOF)
            return {};
        if (result != ARCHIVE_OK)
            return Failure(archive.get(), entry);
        // A decoder that yields more than the header claimed is not believed any further.
        if (header.size() + size > encoded.unpackSize)
            return damaged;
        const auto* first = static_cast<const std::uint8_t*>(block);
        header.insert(header.end(), first, first + size);
    }
}

ArchiveItem LibArchiveReader::ItemOf(struct archive_entry* entry) const {
    ArchiveItem item;
    const char* name = archive_entry_pathname_utf8(entry);
    item.name = name != nullptr ? name : "";
    const char* hardlink = archive_entry_hardlink_utf8(entry);
    const auto type = archive_entry_filetype(entry);
    if (hardlink != nullptr) {
        item.type = ArchiveItemType::HardLink;
        item.linkTarget = hardlink;
    } else if (type == AE_IFDIR) {
        item.type = ArchiveItemType::Folder;
    } else if (type == AE_IFLNK) {
        item.type = ArchiveItemType::Symlink;
        const char* target = archive_entry_symlink_utf8(entry);
        item.linkTarget = target != nullptr ? target : "";
        item.size = item.linkTarget.size();
    } else {
        item.special = type != AE_IFREG && type != 0;
        item.size = archive_entry_size_is_set(entry) != 0
                        ? static_cast<std::uint64_t>(archive_entry_size(entry))
                        : 0;
    }
    item.hasMode = true;
    item.mode = static_cast<std::uint32_t>(archive_entry_perm(entry)) & 07777;
    if (archive_entry_mtime_is_set(entry) != 0)
        item.mtime = static_cast<std::int64_t>(archive_entry_mtime(entry));
    return item;
}

ArchiveStatus LibArchiveReader::NextItem(ArchiveItem& item, bool& more) {
    const cptlib::platform::Utf8CharacterLocale::Use use(locale_);
    more = false;
    if (!archive_) {
        if (ArchiveStatus status = Open(archive_); !status.Ok())
            return status;
    }
    entry_ = nullptr;
    const int result = archive_read_next_header(archive_.get(), &entry_);
    if (result == ARCHIVE_EOF)
        return {};
    if (result < ARCHIVE_WARN)
        return Failure(archive_.get(), entry_);
    item = ItemOf(entry_);
    if (item.name.empty())
        return {cptlib::HRESULT_INVALID_DATA, {}};
    // The library makes up permissions where the archive has none; the headers tell which.
    if (indexHasModes_ && nextIndexItem_ < index_.items.size()) {
        const ArchiveItem& listed = index_.items[nextIndexItem_++];
        if (SameItem(listed, item)) {
            item.hasMode = listed.hasMode;
            // The library composes decomposed names and keeps 7zz's stand-ins for bytes that
            // are not UTF-8; the names as stored are what 7zz extracts to.
            const bool slash = !item.name.empty() && item.name.back() == '/';
            item.name = std::string(WithoutTrailingSlash(listed.name)) + (slash ? "/" : "");
        }
    }
    dataPosition_ = 0;
    more = true;
    return {};
}

ArchiveStatus LibArchiveReader::ReadBlock(std::span<const std::uint8_t>& block) {
    const cptlib::platform::Utf8CharacterLocale::Use use(locale_);
    block = {};
    if (!archive_ || entry_ == nullptr)
        return {};
    const void* data = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int result = archive_read_data_block(archive_.get(), &data, &size, &offset);
    if (result == ARCHIVE_EOF)
        return {};
    // The only warning while reading data is a check sum that does not match.
    if (result == ARCHIVE_WARN)
        return {HRESULT_CRC_ERROR, {}};
    if (result != ARCHIVE_OK)
        return Failure(archive_.get(), entry_);
    // 7z items are never sparse: a gap means the library and the archive disagree.
    if (offset < 0 || static_cast<std::uint64_t>(offset) != dataPosition_)
        return {cptlib::HRESULT_INVALID_DATA, {}};
    dataPosition_ += size;
    block = {static_cast<const std::uint8_t*>(data), size};
    return {};
}

// What a failure of the library means for the run.
ArchiveStatus LibArchiveReader::Failure(struct archive* archive, struct archive_entry* entry) {
    if (source_.ioError != 0)
        return {cptlib::HResultFromWin32(source_.ioError), {}};
    const char* message = archive_error_string(archive);
    std::string text = message != nullptr ? message : "";
    // Encrypted content: refused with the library's words until passwords are served.
    if ((entry != nullptr && archive_entry_is_encrypted(entry) != 0) ||
        Contains(text, "encrypted") || Contains(text, "Crypto"))
        return {cptlib::kHrOk, text.empty() ? "The archive is encrypted." : text};
    if (archive_errno(archive) == ENOMEM)
        return {cptlib::kHrOk, text.empty() ? "Out of memory." : text};
    if (Contains(text, "codec") || Contains(text, "nsupported") || Contains(text, "not supported"))
        return {kHrNotImpl, {}};
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

} // namespace

std::unique_ptr<IArchiveReader> MakeFallbackReader(const std::string& path, std::uint64_t offset) {
    return std::make_unique<LibArchiveReader>(path, offset);
}

std::unique_ptr<IArchiveReader> MakeFallbackReader(const cptlib::platform::FileDescriptor& file,
                                                   std::uint64_t offset) {
    cptlib::platform::FileDescriptor own;
    // A reader that cannot have the file reads nothing: the failure shows at its first read.
    if (const cptlib::HRESULT hr = cptlib::platform::ReopenFile(file, own); cptlib::Failed(hr))
        return std::make_unique<LibArchiveReader>(hr, offset);
    return std::make_unique<LibArchiveReader>(std::move(own), offset);
}

} // namespace sfx
