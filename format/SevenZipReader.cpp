#include "format/SevenZipReader.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/FileIo.h"
#include "format/SevenZipCoders.h"
#include "format/SevenZipFolder.h"
#include "format/SevenZipHeader.h"

#include <lzma.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace sfx::sevenzip {

namespace {

constexpr std::size_t kBlockSize = 1 << 20;
// Longer link targets are damage; no file system takes them.
constexpr std::uint64_t kMaxLinkTarget = 1 << 16;
// Decoded data a folder decoding may hold of its own before it waits for the consumer: enough
// to ride out the consumer's pauses for writing and asking, small beside a dictionary.
constexpr std::size_t kPiecesAhead = 4; // of kBlockSize each
// Decoded data the folders decoding at once may hold between them beyond their own: the
// consumer writes one folder at a time, so the next folder is decoded into memory meanwhile.
// 48 MiB takes in most of a block of a balanced four-block archive of about 200 MiB, where the
// gain of decoding side by side is; larger blocks then go on at the consumer's pace. Two
// decoders of the default 32 MiB dictionary and this stay near 1.3 times 7zz's peak memory.
constexpr std::size_t kSharedPieces = 48;
// Folders decoding at once: beyond a few, the one consumer writing the files sets the pace,
// while each decoder adds its dictionary to the peak memory.
constexpr unsigned kMaxDecoders = 4;

ArchiveStatus DataError() {
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

// The lock and the shared pieces of the folders that one reader decodes at once. Read pieces
// wait in `spare` for the next decoder to fill them: the memory stays what the budgets allow,
// touched once.
struct AheadPool {
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t shared = kSharedPieces;
    std::vector<std::unique_ptr<std::uint8_t[]>> spare;
};

// A folder decoded on a thread of its own into a bounded queue of pieces, read in order.
class AheadStream final : public ByteStream {
public:
    AheadStream(std::unique_ptr<ByteStream> source, std::shared_ptr<AheadPool> pool)
        : source_(std::move(source)), pool_(std::move(pool)), thread_([this] { Run(); }) {}

    ~AheadStream() override {
        {
            std::lock_guard lock(pool_->mutex);
            stop_ = true;
        }
        pool_->changed.notify_all();
        thread_.join();
        {
            std::lock_guard lock(pool_->mutex);
            pool_->shared += borrowed_;
        }
        pool_->changed.notify_all();
    }

    AheadStream(const AheadStream&) = delete;
    AheadStream& operator=(const AheadStream&) = delete;

    ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        if (position_ == current_.size) {
            std::unique_lock lock(pool_->mutex);
            if (current_.data) {
                pool_->spare.push_back(std::move(current_.data));
                if (borrowed_ > 0) {
                    --borrowed_;
                    ++pool_->shared;
                }
            }
            current_ = {};
            position_ = 0;
            pool_->changed.wait(lock, [this] { return !ready_.empty() || ended_; });
            if (ready_.empty())
                return failure_;
            current_ = std::move(ready_.front());
            ready_.pop_front();
            lock.unlock();
            pool_->changed.notify_all();
        }
        done = std::min(size, current_.size - position_);
        std::copy_n(current_.data.get() + position_, done, out);
        position_ += done;
        return {};
    }

private:
    struct Piece {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t size = 0;
    };

    void Run() {
        for (;;) {
            Piece piece;
            {
                std::unique_lock lock(pool_->mutex);
                // The piece being filled counts: its own pieces first, then the pool's.
                pool_->changed.wait(lock, [this] {
                    return stop_ || ready_.size() + 1 < kPiecesAhead + borrowed_ ||
                           pool_->shared > 0;
                });
                if (stop_)
                    return;
                if (ready_.size() + 1 >= kPiecesAhead + borrowed_) {
                    --pool_->shared;
                    ++borrowed_;
                }
                if (!pool_->spare.empty()) {
                    piece.data = std::move(pool_->spare.back());
                    pool_->spare.pop_back();
                }
            }
            if (!piece.data)
                piece.data = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
            ArchiveStatus status;
            bool end = false;
            while (piece.size < kBlockSize) {
                std::size_t done = 0;
                status =
                    source_->Read(piece.data.get() + piece.size, kBlockSize - piece.size, done);
                if (!status.Ok() || done == 0) {
                    end = true;
                    break;
                }
                piece.size += done;
            }
            {
                std::lock_guard lock(pool_->mutex);
                if (piece.size > 0)
                    ready_.push_back(std::move(piece));
                if (end) {
                    ended_ = true;
                    failure_ = std::move(status);
                }
            }
            pool_->changed.notify_all();
            if (end)
                return;
        }
    }

    std::unique_ptr<ByteStream> source_;
    std::shared_ptr<AheadPool> pool_;
    // Under the pool's lock.
    std::deque<Piece> ready_;
    std::size_t borrowed_ = 0; // pieces taken from the pool and not yet read
    bool stop_ = false;
    bool ended_ = false;
    ArchiveStatus failure_;
    // The consumer's own.
    Piece current_;
    std::size_t position_ = 0;
    // Last: it starts once everything above is in place.
    std::thread thread_;
};

bool Decodable(const FolderInfo& folder) {
    return std::all_of(folder.coders.begin(), folder.coders.end(), [](const CoderInfo& coder) {
        switch (coder.method) {
        case kMethodCopy:
        case kMethodLzma:
        case kMethodLzma2:
        case kMethodBcj:
        case kMethodBcj2:
        case kMethodAes:
            return true;
        default:
            return IsLzmaFilter(coder.method);
        }
    });
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

    ArchiveStatus Opened() const { return {cptlib::Failed(opened_) ? opened_ : cptlib::kHrOk, {}}; }
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
        switch (PlaceOfNextHeader(start, rest)) {
        case NextHeaderPlace::None:
            return {};
        case NextHeaderPlace::Damaged:
            return DataError();
        case NextHeaderPlace::Within:
            break;
        }
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
    cptlib::HRESULT opened_ = cptlib::kHrOk;
    std::uint64_t size_ = 0;
};

class SevenZipReader final : public IArchiveReader {
public:
    SevenZipReader(HeaderSource source, Headers headers, PasswordSource password)
        : source_(std::move(source)), password_(std::move(password)), headers_(std::move(headers)),
          started_(Streams().folders.size(), false) {
        // One folder decodes as before, on the consumer's thread.
        if (Streams().folders.size() > 1)
            decoders_ = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxDecoders);
        for (const auto& stream : headers_.layout.itemStreams) {
            const auto folder = stream ? FolderOf(*stream) : std::nullopt;
            if (folder && (folderOrder_.empty() || folderOrder_.back() != *folder))
                folderOrder_.push_back(*folder);
        }
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
    std::optional<std::size_t> FolderOf(std::size_t stream) const;
    // Starts decoding of the plain folders that follow `folder`, as far as the decoders go.
    void StartAhead(std::size_t folder);
    ArchiveStatus StartStream(std::size_t stream);
    ArchiveStatus Pull(std::uint8_t* out, std::size_t size);
    // What a failure while decoding means: with a password, most likely that it is wrong.
    ArchiveStatus Decoding(ArchiveStatus status) const;

    HeaderSource source_;
    PasswordSource password_;
    AesKeyCache keys_;
    // What the password source last gave: enciphered folders further on decode ahead with it,
    // as the source gives it again when the consumer gets there (an empty one it asks again).
    std::optional<std::u16string> given_;
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

    unsigned decoders_ = 1;                // folders decoding at once, the consumer's own included
    std::vector<bool> started_;            // folders whose decoding has begun
    std::vector<std::size_t> folderOrder_; // folders in the order the items reach them
    std::map<std::size_t, std::unique_ptr<ByteStream>> ahead_; // folders decoding ahead
    std::shared_ptr<AheadPool> pool_ = std::make_shared<AheadPool>();
};

std::optional<std::size_t> SevenZipReader::FolderOf(std::size_t stream) const {
    const auto& folders = Streams().folders;
    const auto owner = std::find_if(folders.begin(), folders.end(), [&](const FolderInfo& f) {
        return f.streams > 0 && stream >= f.firstStream && stream < f.firstStream + f.streams;
    });
    if (owner == folders.end())
        return std::nullopt;
    return static_cast<std::size_t>(owner - folders.begin());
}

void SevenZipReader::StartAhead(std::size_t folder) {
    if (decoders_ <= 1)
        return;
    auto next = std::find(folderOrder_.begin(), folderOrder_.end(), folder);
    for (; next != folderOrder_.end() && ahead_.size() + 1 < decoders_; ++next) {
        const std::size_t candidate = *next;
        // Enciphered folders wait until the consumer has been given the password.
        const bool enciphered = Streams().folders[candidate].Enciphered();
        if (started_[candidate] || (enciphered && !given_))
            continue;
        std::unique_ptr<ByteStream> stream;
        if (!sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(), candidate,
                                  enciphered ? *given_ : std::u16string(), keys_, stream)
                 .Ok())
            break; // fails again, in its place, when the consumer opens it
        started_[candidate] = true;
        ahead_.emplace(candidate, std::make_unique<AheadStream>(std::move(stream), pool_));
    }
}

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
    const auto found = FolderOf(stream);
    if (!found)
        return DataError();
    const std::size_t folder = *found;
    const FolderInfo* owner = &Streams().folders[folder];
    if (folderStream_ && folder == folder_ && stream >= nextStream_) {
        // The current folder goes on.
    } else if (const auto ahead = ahead_.find(folder);
               ahead != ahead_.end() && (folder != folder_ || !folderStream_)) {
        folderStream_ = std::move(ahead->second);
        ahead_.erase(ahead);
        folder_ = folder;
        nextStream_ = owner->firstStream;
        enciphered_ = owner->Enciphered();
        StartAhead(folder);
    } else {
        folderStream_.reset();
        folder_ = folder;
        nextStream_ = owner->firstStream;
        enciphered_ = owner->Enciphered();
        std::u16string password;
        if (enciphered_) {
            std::string given;
            if (!password_)
                return {kHrAbort, {}};
            if (const cptlib::HRESULT asked = password_(given); asked != cptlib::kHrOk)
                return {cptlib::Failed(asked) ? asked : kHrAbort, {}};
            auto wide = cptlib::Utf8ToUtf16(given);
            if (!wide)
                return {HRESULT_WRONG_PASSWORD, {}};
            password = std::move(*wide);
            if (!password.empty())
                given_ = password;
        }
        if (ArchiveStatus status =
                sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(), folder,
                                     password, keys_, folderStream_);
            !status.Ok()) {
            folderStream_.reset();
            return status;
        }
        if (!started_[folder] && decoders_ > 1)
            folderStream_ = std::make_unique<AheadStream>(std::move(folderStream_), pool_);
        started_[folder] = true;
        StartAhead(folder);
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

std::unique_ptr<IArchiveReader> ReaderIfOurs(HeaderSource probe, PasswordSource password) {
    Headers headers;
    if (!probe.Read(headers).Ok())
        return nullptr;
    const auto& folders = headers.layout.streams.folders;
    if (!headers.encipheredHeader && !std::all_of(folders.begin(), folders.end(), Decodable))
        return nullptr;
    return std::make_unique<SevenZipReader>(std::move(probe), std::move(headers),
                                            std::move(password));
}

} // namespace

std::unique_ptr<IArchiveReader> MakeSevenZipReader(const std::string& path, std::uint64_t offset,
                                                   PasswordSource password) {
    return ReaderIfOurs(HeaderSource(path, offset), std::move(password));
}

std::unique_ptr<IArchiveReader> MakeSevenZipReader(cptlib::platform::FileDescriptor file,
                                                   std::uint64_t offset, PasswordSource password) {
    return ReaderIfOurs(HeaderSource(std::move(file), offset), std::move(password));
}

} // namespace sfx::sevenzip
