#include "format/SevenZipReader.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/FileIo.h"
#include "format/SevenZipFolder.h"
#include "format/SevenZipHeader.h"

#include <lzma.h>

#include <algorithm>

namespace sfx::sevenzip {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;
// Headers larger than this are damage, not archives we could have built.
constexpr std::uint64_t kMaxHeaderSize = 256u << 20;
// Longer link targets are damage; no file system takes them.
constexpr std::uint64_t kMaxLinkTarget = 1 << 16;

ArchiveStatus DataError() {
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

struct Headers {
    ArchiveIndex index;
    ArchiveLayout layout;
    bool encipheredHeader = false;
};

class HeaderSource {
public:
    HeaderSource(const std::string& path, std::uint64_t offset) : offset_(offset) {
        opened_ = cptlib::platform::OpenRegularFileForRead(file_, path);
        if (cptlib::Succeeded(opened_))
            opened_ = cptlib::platform::QueryFileSize(file_, size_);
    }
    HeaderSource(cptlib::platform::FileDescriptor file, std::uint64_t offset)
        : offset_(offset), file_(std::move(file)) {
        opened_ = cptlib::platform::QueryFileSize(file_, size_);
    }

    ArchiveStatus Opened() const { return {cptlib::Failed(opened_) ? opened_ : cptlib::S_OK, {}}; }
    cptlib::platform::FileDescriptor& File() { return file_; }
    std::uint64_t PackBase() const { return offset_ + kSignatureHeaderSize; }

    ArchiveStatus ReadAt(std::uint64_t position, std::vector<std::uint8_t>& bytes) {
        std::size_t done = 0;
        const std::uint32_t error = cptlib::platform::ReadFileAt(file_, offset_ + position,
                                                                 bytes.data(), bytes.size(), done);
        if (error != 0)
            return {cptlib::HResultFromWin32(error), {}};
        return done == bytes.size() ? ArchiveStatus{} : DataError();
    }

    ArchiveStatus Read(Headers& headers) {
        if (ArchiveStatus status = Opened(); !status.Ok())
            return status;
        const std::uint64_t available = size_ > offset_ ? size_ - offset_ : 0;
        std::vector<std::uint8_t> signature(kSignatureHeaderSize);
        SignatureHeader start;
        if (available < kSignatureHeaderSize)
            return DataError();
        if (ArchiveStatus status = ReadAt(0, signature); !status.Ok())
            return status;
        if (!ParseSignatureHeader(signature, start))
            return DataError();
        const std::uint64_t rest = available - kSignatureHeaderSize;
        if (start.nextHeaderSize == 0 || start.nextHeaderSize > kMaxHeaderSize ||
            start.nextHeaderSize > rest || start.nextHeaderOffset > rest - start.nextHeaderSize)
            return DataError();
        std::vector<std::uint8_t> header(static_cast<std::size_t>(start.nextHeaderSize));
        if (ArchiveStatus status = ReadAt(kSignatureHeaderSize + start.nextHeaderOffset, header);
            !status.Ok())
            return status;
        if (Crc32(header) != start.nextHeaderCrc)
            return {HRESULT_CRC_ERROR, {}};
        EncodedHeader encoded;
        const std::size_t maxItems = MaxItemsFor(available);
        switch (ParseHeader(header, headers.index, encoded, &headers.layout, maxItems)) {
        case HeaderKind::Plain:
            return {};
        case HeaderKind::Invalid:
            return DataError();
        case HeaderKind::Encoded:
            break;
        }
        if (encoded.layout.folders.front().Enciphered()) {
            headers.encipheredHeader = true;
            return {};
        }
        std::vector<std::uint8_t> decoded;
        if (ArchiveStatus status = Decode(encoded.layout, decoded); !status.Ok())
            return status;
        EncodedHeader again;
        if (ParseHeader(decoded, headers.index, again, &headers.layout, maxItems) !=
            HeaderKind::Plain)
            return DataError();
        return {};
    }

private:
    ArchiveStatus Decode(const StreamLayout& layout, std::vector<std::uint8_t>& bytes) {
        const std::uint64_t size = layout.folders.front().UnpackSize();
        if (size > EncodedHeaderCap(size_ > offset_ ? size_ - offset_ : 0))
            return DataError();
        std::unique_ptr<ByteStream> stream;
        AesKeyCache keys;
        if (ArchiveStatus status = OpenFolder(file_, PackBase(), layout, 0, {}, keys, stream);
            !status.Ok())
            return status;
        bytes.resize(static_cast<std::size_t>(size));
        std::size_t filled = 0;
        while (filled < bytes.size()) {
            std::size_t done = 0;
            if (ArchiveStatus status =
                    stream->Read(bytes.data() + filled, bytes.size() - filled, done);
                !status.Ok())
                return status;
            if (done == 0)
                return DataError();
            filled += done;
        }
        const auto& crc = layout.folders.front().crc;
        if (crc && lzma_crc32(bytes.data(), bytes.size(), 0) != *crc)
            return {HRESULT_CRC_ERROR, {}};
        return {};
    }

    std::uint64_t offset_;
    cptlib::platform::FileDescriptor file_;
    cptlib::HRESULT opened_ = cptlib::S_OK;
    std::uint64_t size_ = 0;
};

class SevenZipReader final : public IArchiveReader {
public:
    SevenZipReader(HeaderSource source, Headers headers, PasswordSource password)
        : source_(std::move(source)), password_(std::move(password)), headers_(std::move(headers)) {
    }

    ArchiveStatus ReadIndex(ArchiveIndex& index) override {
        if (ArchiveStatus status = Load(); !status.Ok())
            return status;
        // A link target is held in memory whole; one the system could not follow is damage.
        for (const ArchiveItem& item : headers_.index.items)
            if (item.type == ArchiveItemType::Symlink &&
                item.size > cptlib::platform::MaxLinkTargetSize())
                return DataError();
        index = headers_.index;
        return {};
    }

    ArchiveStatus NextItem(ArchiveItem& item, bool& more) override;
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override;

private:
    // Enciphered headers are refused without asking: nothing can be listed before the data.
    ArchiveStatus Load() const {
        if (headers_.encipheredHeader)
            return {HRESULT_HEADERS_ENCRYPTED, {}};
        return {};
    }

    const StreamLayout& Streams() const { return headers_.layout.streams; }
    ArchiveStatus StartStream(std::size_t stream);
    ArchiveStatus Pull(std::uint8_t* out, std::size_t size);
    // What a failure while decoding means: with a password, most likely that it is wrong.
    ArchiveStatus Decoding(ArchiveStatus status) const;

    HeaderSource source_;
    PasswordSource password_;
    AesKeyCache keys_;
    Headers headers_;
    std::size_t nextItem_ = 0;

    std::size_t folder_ = 0; // the folder `folderStream_` decodes
    std::unique_ptr<ByteStream> folderStream_;
    bool enciphered_ = false;
    std::size_t nextStream_ = 0; // the folder's next item stream
    std::uint64_t itemLeft_ = 0;
    std::uint32_t crc_ = 0;
    std::optional<std::uint32_t> expectedCrc_;
    std::unique_ptr<std::uint8_t[]> block_;
};

ArchiveStatus SevenZipReader::Decoding(ArchiveStatus status) const {
    if (enciphered_ &&
        (status.code == cptlib::HRESULT_INVALID_DATA || status.code == HRESULT_CRC_ERROR))
        return {HRESULT_WRONG_PASSWORD, {}};
    return status;
}

ArchiveStatus SevenZipReader::Pull(std::uint8_t* out, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        std::size_t done = 0;
        if (ArchiveStatus status = folderStream_->Read(out + filled, size - filled, done);
            !status.Ok())
            return Decoding(status);
        if (done == 0)
            return Decoding(DataError());
        filled += done;
    }
    crc_ = lzma_crc32(out, size, crc_);
    itemLeft_ -= size;
    if (itemLeft_ == 0) {
        if (expectedCrc_ && crc_ != *expectedCrc_)
            return Decoding({HRESULT_CRC_ERROR, {}});
    }
    return {};
}

ArchiveStatus SevenZipReader::StartStream(std::size_t stream) {
    const auto& folders = Streams().folders;
    const auto owner = std::find_if(folders.begin(), folders.end(), [&](const FolderInfo& f) {
        return f.streams > 0 && stream >= f.firstStream && stream < f.firstStream + f.streams;
    });
    if (owner == folders.end())
        return DataError();
    const auto folder = static_cast<std::size_t>(owner - folders.begin());
    if (!folderStream_ || folder != folder_ || stream < nextStream_) {
        folderStream_.reset();
        folder_ = folder;
        nextStream_ = owner->firstStream;
        enciphered_ = owner->Enciphered();
        std::u16string password;
        if (enciphered_) {
            std::string given;
            if (!password_)
                return {E_ABORT, {}};
            if (const cptlib::HRESULT asked = password_(given); asked != cptlib::S_OK)
                return {cptlib::Failed(asked) ? asked : E_ABORT, {}};
            auto wide = cptlib::Utf8ToUtf16(given);
            if (!wide)
                return {HRESULT_WRONG_PASSWORD, {}};
            password = std::move(*wide);
        }
        if (ArchiveStatus status =
                sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(), folder,
                                     password, keys_, folderStream_);
            !status.Ok()) {
            folderStream_.reset();
            return status;
        }
    }
    // Streams of the folder that no listed item takes (anti-items) are passed over.
    if (!block_)
        block_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
    for (; nextStream_ < stream; ++nextStream_) {
        itemLeft_ = Streams().streamSizes[nextStream_];
        crc_ = 0;
        expectedCrc_ = Streams().streamCrcs[nextStream_];
        while (itemLeft_ > 0) {
            if (ArchiveStatus status =
                    Pull(block_.get(),
                         static_cast<std::size_t>(std::min<std::uint64_t>(itemLeft_, kBlockSize)));
                !status.Ok())
                return status;
        }
    }
    ++nextStream_;
    itemLeft_ = Streams().streamSizes[stream];
    crc_ = 0;
    expectedCrc_ = Streams().streamCrcs[stream];
    if (itemLeft_ == 0 && expectedCrc_ && *expectedCrc_ != 0)
        return Decoding({HRESULT_CRC_ERROR, {}});
    return {};
}

ArchiveStatus SevenZipReader::NextItem(ArchiveItem& item, bool& more) {
    more = false;
    if (ArchiveStatus status = Load(); !status.Ok())
        return status;
    // The rest of an item the caller did not read.
    while (itemLeft_ > 0) {
        if (ArchiveStatus status =
                Pull(block_.get(),
                     static_cast<std::size_t>(std::min<std::uint64_t>(itemLeft_, kBlockSize)));
            !status.Ok())
            return status;
    }
    const auto& items = headers_.index.items;
    if (nextItem_ >= items.size())
        return {};
    const std::size_t number = nextItem_++;
    ArchiveItem next = items[number];
    if (const auto stream = headers_.layout.itemStreams[number]) {
        if (ArchiveStatus status = StartStream(*stream); !status.Ok())
            return status;
        if (next.type == ArchiveItemType::Symlink) {
            if (itemLeft_ > kMaxLinkTarget)
                return DataError();
            std::string target(static_cast<std::size_t>(itemLeft_), '\0');
            if (ArchiveStatus status =
                    Pull(reinterpret_cast<std::uint8_t*>(target.data()), target.size());
                !status.Ok())
                return status;
            next.linkTarget = std::move(target);
        }
    }
    item = std::move(next);
    more = true;
    return {};
}

ArchiveStatus SevenZipReader::ReadBlock(std::span<const std::uint8_t>& block) {
    block = {};
    if (itemLeft_ == 0)
        return {};
    const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(itemLeft_, kBlockSize));
    if (ArchiveStatus status = Pull(block_.get(), size); !status.Ok())
        return status;
    block = {block_.get(), size};
    return {};
}

} // namespace

namespace {

std::unique_ptr<IArchiveReader> ReaderIfEnciphered(HeaderSource probe, PasswordSource password) {
    Headers headers;
    if (!probe.Read(headers).Ok())
        return nullptr;
    const auto& folders = headers.layout.streams.folders;
    if (!headers.encipheredHeader &&
        std::none_of(folders.begin(), folders.end(),
                     [](const FolderInfo& folder) { return folder.Enciphered(); }))
        return nullptr;
    return std::make_unique<SevenZipReader>(std::move(probe), std::move(headers),
                                            std::move(password));
}

} // namespace

std::unique_ptr<IArchiveReader> MakeEncipheredArchiveReader(const std::string& path,
                                                            std::uint64_t offset,
                                                            PasswordSource password) {
    return ReaderIfEnciphered(HeaderSource(path, offset), std::move(password));
}

std::unique_ptr<IArchiveReader> MakeEncipheredArchiveReader(cptlib::platform::FileDescriptor file,
                                                            std::uint64_t offset,
                                                            PasswordSource password) {
    return ReaderIfEnciphered(HeaderSource(std::move(file), offset), std::move(password));
}

} // namespace sfx::sevenzip
