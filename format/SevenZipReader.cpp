#include "format/SevenZipReader.h"

#include "cptlib/Log.h"
#include "cptlib/Utf.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/Machine.h"
#include "format/Lzma2Chunks.h"
#include "format/ReadTap.h"
#include "format/SevenZipCoders.h"
#include "format/SevenZipFolder.h"
#include "format/SevenZipHeader.h"

#include <lzma.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
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
// Memory for the folders decoding ahead of the consumer, the same on every machine: their
// dictionaries and every decoded piece they hold. The consumer's own folder needs its
// dictionary anyway and is not counted; the rest stays within this, so that neither a claim
// nor more cores multiply the peak. A folder whose dictionary does not fit waits for the
// consumer (a balanced four-block archive of 200 MiB at 7zz's default dictionary still has
// one folder decoding ahead with pieces to spare).
constexpr std::uint64_t kAheadBudget = 32u << 20;
// Folders decoding at once at most: beyond a few, the one consumer writing the files sets the
// pace.
constexpr unsigned kMaxDecoders = 4;

ArchiveStatus DataError() {
    return {cptlib::HRESULT_INVALID_DATA, {}};
}

// Folders decoding at once: one a usable processor, as the affinity mask allows; the
// environment may set the count (within the cap) to test the bounds on any machine.
unsigned DecoderCount() {
    if (const char* forced = std::getenv("SFX_DECODERS"); forced != nullptr && *forced != '\0') {
        char* end = nullptr;
        const unsigned long value = std::strtoul(forced, &end, 10);
        if (end != nullptr && *end == '\0' && value >= 1)
            return static_cast<unsigned>(std::min<unsigned long>(value, kMaxDecoders));
    }
    return std::clamp(cptlib::platform::UsableProcessorCount(), 1u, kMaxDecoders);
}

// The lock and the budget of the folders that one reader decodes at once. Read pieces wait in
// `spare` for the next decoder to fill them: the memory stays what the budget allows, touched
// once.
struct AheadPool {
    std::mutex mutex;
    std::condition_variable changed;
    std::uint64_t free = kAheadBudget;
    std::vector<std::unique_ptr<std::uint8_t[]>> spare;
    // Decoders started ahead of the consumer and not yet reached: whole folders, and runs of
    // the current folder's LZMA2 stream. Together they stay below the decoder count.
    std::size_t foldersAhead = 0;
    std::size_t segmentsAhead = 0;
};

// A folder decoded on a thread of its own into a bounded queue of pieces, read in order.
class AheadStream final : public ByteStream {
public:
    // Null when no thread could be started; `source` is then still the caller's. `reserved`
    // bytes of the pool's budget, taken by the caller, go back when the stream ends.
    static std::unique_ptr<AheadStream> Start(std::unique_ptr<ByteStream>& source,
                                              std::shared_ptr<AheadPool> pool,
                                              std::uint64_t reserved) {
        std::unique_ptr<AheadStream> stream;
        try {
            stream.reset(new AheadStream(std::move(pool), reserved));
            stream->source_ = std::move(source);
            stream->thread_ = std::thread([raw = stream.get()] { raw->Run(); });
        } catch (...) { // no memory or no thread left: the caller decodes it itself
            if (stream) {
                source = std::move(stream->source_);
                stream.reset();
            }
            return nullptr;
        }
        return stream;
    }

    ~AheadStream() override {
        {
            std::lock_guard lock(pool_->mutex);
            stop_ = true;
        }
        pool_->changed.notify_all();
        if (thread_.joinable())
            thread_.join();
        {
            std::lock_guard lock(pool_->mutex);
            pool_->free += (borrowed_ + (current_.borrowed ? 1 : 0)) * kBlockSize + reserved_;
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
                if (current_.borrowed)
                    pool_->free += kBlockSize;
            }
            current_ = {};
            position_ = 0;
            pool_->changed.wait(lock, [this] { return !ready_.empty() || ended_; });
            if (ready_.empty())
                return failure_;
            current_ = std::move(ready_.front());
            ready_.pop_front();
            if (current_.borrowed)
                --borrowed_;
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
        bool borrowed = false; // taken from the pool's budget, not one of the stream's own
    };

    AheadStream(std::shared_ptr<AheadPool> pool, std::uint64_t reserved)
        : pool_(std::move(pool)), reserved_(reserved) {}

    // Nothing may leave the thread: a failure, even for want of memory, ends the stream with
    // a status the consumer reads in its place.
    void Run() noexcept {
        try {
            Decode();
        } catch (const std::bad_alloc&) {
            End({cptlib::kHrOutOfMemory, {}});
        } catch (...) {
            End({kHrUnexpected, {}});
        }
    }

    void End(ArchiveStatus status) noexcept {
        {
            std::lock_guard lock(pool_->mutex);
            if (!ended_) {
                ended_ = true;
                failure_ = std::move(status);
            }
        }
        pool_->changed.notify_all();
    }

    void Decode() {
        for (;;) {
            Piece piece;
            {
                std::unique_lock lock(pool_->mutex);
                // The piece being filled counts: its own pieces first, then the pool's.
                pool_->changed.wait(lock, [this] {
                    return stop_ || ready_.size() + 1 < kPiecesAhead + borrowed_ ||
                           pool_->free >= kBlockSize;
                });
                if (stop_)
                    return;
                if (ready_.size() + 1 >= kPiecesAhead + borrowed_) {
                    pool_->free -= kBlockSize;
                    piece.borrowed = true;
                    ++borrowed_;
                }
                if (!pool_->spare.empty()) {
                    piece.data = std::move(pool_->spare.back());
                    pool_->spare.pop_back();
                }
            }
            if (!piece.data) {
                try {
                    piece.data = std::make_unique_for_overwrite<std::uint8_t[]>(kBlockSize);
                } catch (const std::bad_alloc&) {
                    std::lock_guard lock(pool_->mutex);
                    if (piece.borrowed) {
                        pool_->free += kBlockSize;
                        --borrowed_;
                    }
                    throw;
                }
            }
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
                if (piece.size > 0) {
                    ready_.push_back(std::move(piece));
                } else if (piece.borrowed) {
                    pool_->free += kBlockSize;
                    --borrowed_;
                }
                if (piece.data)
                    pool_->spare.push_back(std::move(piece.data));
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
    std::uint64_t reserved_ = 0;
    // Under the pool's lock.
    std::deque<Piece> ready_;
    std::size_t borrowed_ = 0; // borrowed pieces not yet handed to the consumer
    bool stop_ = false;
    bool ended_ = false;
    ArchiveStatus failure_;
    // The consumer's own.
    Piece current_;
    std::size_t position_ = 0;
    // Last: it starts once everything above is in place.
    std::thread thread_;
};

// Runs of an LZMA2 stream smaller than this decode sooner than a thread starts.
constexpr std::uint64_t kMinSegment = kBlockSize;
// Memory of one LZMA2 decoder besides its dictionary: its input and its output on the way.
constexpr std::uint64_t kSegmentBuffers = 256u << 10;

// A packed stream with the LZMA2 end marker behind it: a run cut out of a longer stream
// decodes as a stream of its own.
class EndMarkedStream final : public ByteStream {
public:
    explicit EndMarkedStream(std::unique_ptr<ByteStream> input) : input_(std::move(input)) {}

    ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        if (marked_ || size == 0)
            return {};
        if (ArchiveStatus status = input_->Read(out, size, done); !status.Ok())
            return status;
        if (done == 0) {
            out[0] = 0x00;
            done = 1;
            marked_ = true;
        }
        return {};
    }

private:
    std::unique_ptr<ByteStream> input_;
    bool marked_ = false;
};

// The runs of one LZMA2 stream, read in order: the consumer's run decodes on a thread of its
// own, the following ones ahead of it as the decoder count and the pool's budget allow.
class SegmentedStream final : public ByteStream {
public:
    SegmentedStream(const cptlib::platform::FileDescriptor& file, CoderInfo coder,
                    std::uint64_t packOffset, std::vector<Lzma2Segment> segments,
                    std::shared_ptr<AheadPool> pool, unsigned decoders, CancelCheck cancelled)
        : file_(file), coder_(std::move(coder)), packOffset_(packOffset),
          segments_(std::move(segments)), pool_(std::move(pool)), decoders_(decoders),
          cancelled_(std::move(cancelled)) {
        StartAhead();
    }

    ~SegmentedStream() override {
        // Decoders stop before their budget and count go back.
        current_.reset();
        const std::size_t count = ahead_.size();
        ahead_.clear();
        std::lock_guard lock(pool_->mutex);
        pool_->segmentsAhead -= count;
    }

    SegmentedStream(const SegmentedStream&) = delete;
    SegmentedStream& operator=(const SegmentedStream&) = delete;

    ArchiveStatus Read(std::uint8_t* out, std::size_t size, std::size_t& done) override {
        done = 0;
        for (;;) {
            if (!current_) {
                if (taken_ == segments_.size())
                    return {};
                if (ArchiveStatus status = TakeNext(); !status.Ok())
                    return status;
            }
            if (ArchiveStatus status = current_->Read(out, size, done); !status.Ok())
                return status;
            if (done > 0)
                return {};
            current_.reset();
            StartAhead();
        }
    }

private:
    ArchiveStatus Open(std::size_t index, std::unique_ptr<ByteStream>& stream) const {
        const Lzma2Segment& segment = segments_[index];
        auto input = std::make_unique<EndMarkedStream>(
            MakePackStream(file_, packOffset_ + segment.packOffset, segment.packSize));
        return MakeLzmaStream(coder_, segment.unpackSize, nullptr, std::move(input),
                              segment.unpackSize, stream);
    }

    ArchiveStatus TakeNext() {
        if (!ahead_.empty()) {
            current_ = std::move(ahead_.front());
            ahead_.pop_front();
            {
                std::lock_guard lock(pool_->mutex);
                --pool_->segmentsAhead;
            }
            ++taken_;
            StartAhead();
            return {};
        }
        std::unique_ptr<ByteStream> stream;
        if (ArchiveStatus status = Open(taken_, stream); !status.Ok())
            return status;
        ++taken_;
        if (auto own = AheadStream::Start(stream, pool_, 0))
            current_ = std::move(own);
        else
            current_ = std::move(stream);
        StartAhead();
        return {};
    }

    void StartAhead() {
        for (;;) {
            const std::size_t index = taken_ + ahead_.size();
            if (index >= segments_.size() || segments_[index].unpackSize < kMinSegment)
                return;
            if (cancelled_ && cancelled_())
                return;
            const auto dictionary = ClaimedDictionary(coder_);
            const std::uint64_t cost =
                std::min<std::uint64_t>(dictionary.value_or(kMaxDictionarySize),
                                        segments_[index].unpackSize) +
                kSegmentBuffers + std::uint64_t(kPiecesAhead) * kBlockSize;
            {
                std::lock_guard lock(pool_->mutex);
                if (pool_->foldersAhead + pool_->segmentsAhead + 1 >= decoders_ ||
                    cost > pool_->free)
                    return;
                pool_->free -= cost;
                pool_->spare.clear();
                ++pool_->segmentsAhead;
            }
            std::unique_ptr<ByteStream> stream;
            std::unique_ptr<AheadStream> ahead;
            if (Open(index, stream).Ok())
                ahead = AheadStream::Start(stream, pool_, cost);
            if (!ahead) {
                // Decoded in its turn instead, where it fails again if it must.
                std::lock_guard lock(pool_->mutex);
                pool_->free += cost;
                --pool_->segmentsAhead;
                return;
            }
            ahead_.push_back(std::move(ahead));
        }
    }

    const cptlib::platform::FileDescriptor& file_;
    CoderInfo coder_;
    std::uint64_t packOffset_;
    std::vector<Lzma2Segment> segments_;
    std::shared_ptr<AheadPool> pool_;
    unsigned decoders_;
    CancelCheck cancelled_;
    std::size_t taken_ = 0; // runs handed to `current_` so far
    std::unique_ptr<ByteStream> current_;
    std::deque<std::unique_ptr<ByteStream>> ahead_; // the runs from `taken_` on
};

// The reader's offer to decode LZMA2 runs side by side, while it has more than one decoder.
class SegmentOffer final : public SegmentDecoding {
public:
    SegmentOffer(const cptlib::platform::FileDescriptor& file, std::shared_ptr<AheadPool> pool,
                 const unsigned& decoders, const CancelCheck& cancelled)
        : file_(file), pool_(std::move(pool)), decoders_(decoders), cancelled_(cancelled) {}

    ArchiveStatus Open(const CoderInfo& coder, std::uint64_t packOffset, std::uint64_t packSize,
                       std::uint64_t unpackSize, std::unique_ptr<ByteStream>& stream) override {
        stream.reset();
        if (decoders_ <= 1 || unpackSize < 2 * kMinSegment)
            return {};
        std::vector<Lzma2Segment> segments;
        const auto readAt = [this, packOffset](std::uint64_t offset, std::uint8_t* out,
                                               std::size_t size, std::size_t& done) {
            return cptlib::platform::ReadFileAt(file_, packOffset + offset, out, size, done);
        };
        if (ArchiveStatus status = ScanLzma2Segments(readAt, packSize, unpackSize, segments);
            !status.Ok())
            return status;
        const auto large = std::count_if(segments.begin(), segments.end(),
                                         [](const auto& s) { return s.unpackSize >= kMinSegment; });
        if (large < 2)
            return {};
        SETUP_LOG(cptlib::Severity::Normal)
            << "LZMA2 stream of " << segments.size() << " independent runs, decoded side by side";
        stream = std::make_unique<SegmentedStream>(file_, coder, packOffset, std::move(segments),
                                                   pool_, decoders_, cancelled_);
        ++opened_;
        return {};
    }

    // Streams decoded by runs so far.
    std::size_t Opened() const { return opened_; }

private:
    const cptlib::platform::FileDescriptor& file_;
    std::shared_ptr<AheadPool> pool_;
    const unsigned& decoders_;
    const CancelCheck& cancelled_;
    std::size_t opened_ = 0;
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
    // Refused for what it claims (memory beyond the budget, data beyond the file): no other
    // reader is to try it.
    bool hostile = false;
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
        const std::uint32_t error =
            TappedReadAt(file_, offset_ + position, bytes.data(), bytes.size(), done);
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
        const std::uint64_t budget = BookkeepingBudget(available);
        switch (ParseHeader(header, headers.index, encoded, &headers.layout, budget)) {
        case HeaderKind::Plain:
            return PackedWithin(headers, rest);
        case HeaderKind::Invalid:
            return DataError();
        case HeaderKind::OverBudget:
            headers.hostile = true;
            return DataError();
        case HeaderKind::Encoded:
            break;
        }
        if (encoded.layout.folders.front().Enciphered()) {
            headers.encipheredHeader = true;
            return {};
        }
        if (encoded.layout.folders.front().UnpackSize() > EncodedHeaderCap(available)) {
            headers.hostile = true;
            return DataError();
        }
        std::vector<std::uint8_t> decoded;
        if (ArchiveStatus status = Decode(encoded.layout, decoded); !status.Ok())
            return status;
        EncodedHeader again;
        switch (ParseHeader(decoded, headers.index, again, &headers.layout,
                            budget - std::min<std::uint64_t>(budget, decoded.size()))) {
        case HeaderKind::Plain:
            return PackedWithin(headers, rest);
        case HeaderKind::OverBudget:
            headers.hostile = true;
            return DataError();
        default:
            return DataError();
        }
    }

private:
    // Packed streams that run past the end of the file are damage, whatever they decode to.
    static ArchiveStatus PackedWithin(Headers& headers, std::uint64_t rest) {
        const StreamLayout& streams = headers.layout.streams;
        std::uint64_t end = streams.packPosition;
        for (const std::uint64_t size : streams.packSizes)
            end += size; // the header checked that the sum does not overflow
        if (!streams.packSizes.empty() && end > rest) {
            headers.hostile = true;
            return DataError();
        }
        return {};
    }

    ArchiveStatus Decode(const StreamLayout& layout, std::vector<std::uint8_t>& bytes) {
        const std::uint64_t size = layout.folders.front().UnpackSize();
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
          started_(Streams().folders.size(), false), orderOf_(Streams().folders.size(), kNoFolder) {
        // One folder decodes as before, on the consumer's thread, unless its LZMA2 stream may
        // hold runs to decode side by side.
        const bool runs = std::any_of(
            Streams().folders.begin(), Streams().folders.end(), [](const FolderInfo& folder) {
                return folder.UnpackSize() >= 2 * kMinSegment &&
                       std::any_of(folder.coders.begin(), folder.coders.end(),
                                   [](const CoderInfo& c) { return c.method == kMethodLzma2; });
            });
        if (Streams().folders.size() > 1 || runs) {
            decoders_ = DecoderCount();
            SETUP_LOG(cptlib::Severity::Normal)
                << "Archive: " << Streams().folders.size() << " folders, up to " << decoders_
                << " decoding at once";
        }
        // Which folder holds each stream, in one pass: folders list their streams in order.
        const auto& folders = Streams().folders;
        folderOfStream_.assign(Streams().streamSizes.size(), kNoFolder);
        for (std::size_t f = 0; f < folders.size(); ++f) {
            for (std::size_t i = 0; i < folders[f].streams; ++i)
                if (folders[f].firstStream + i < folderOfStream_.size())
                    folderOfStream_[folders[f].firstStream + i] = f;
        }
        for (const auto& stream : headers_.layout.itemStreams) {
            const auto folder = stream ? FolderOf(*stream) : std::nullopt;
            if (folder && (folderOrder_.empty() || folderOrder_.back() != *folder)) {
                if (orderOf_[*folder] == kNoFolder)
                    orderOf_[*folder] = folderOrder_.size();
                folderOrder_.push_back(*folder);
            }
        }
    }

    void SetCancelCheck(CancelCheck cancelled) override {
        cancelled_ = cancelled;
        keys_.SetCancelCheck(std::move(cancelled));
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
    // The pool's count of folders decoding ahead, after `ahead_` changed.
    void SyncAhead();
    ArchiveStatus Pull(std::uint8_t* out, std::size_t size);
    // The current folder once more on the consumer's thread, alone, up to where it was.
    ArchiveStatus DecodeAlone();
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

    static constexpr std::size_t kNoFolder = static_cast<std::size_t>(-1);
    unsigned decoders_ = 1;                // folders decoding at once, the consumer's own included
    std::vector<bool> started_;            // folders whose decoding has begun
    std::vector<std::size_t> folderOrder_; // folders in the order the items reach them
    std::vector<std::size_t> orderOf_;     // each folder's first place in folderOrder_
    std::vector<std::size_t> folderOfStream_;
    CancelCheck cancelled_;
    std::uint64_t folderRead_ = 0; // bytes of the current folder the consumer has taken
    bool folderAhead_ = false;     // the current folder decodes on a thread of its own
    std::u16string folderPassword_;
    std::map<std::size_t, std::unique_ptr<ByteStream>> ahead_; // folders decoding ahead
    std::shared_ptr<AheadPool> pool_ = std::make_shared<AheadPool>();
    SegmentOffer segments_{source_.File(), pool_, decoders_, cancelled_};
};

void SevenZipReader::SyncAhead() {
    std::lock_guard lock(pool_->mutex);
    pool_->foldersAhead = ahead_.size();
}

std::optional<std::size_t> SevenZipReader::FolderOf(std::size_t stream) const {
    if (stream >= folderOfStream_.size() || folderOfStream_[stream] == kNoFolder)
        return std::nullopt;
    return folderOfStream_[stream];
}

void SevenZipReader::StartAhead(std::size_t folder) {
    if (decoders_ <= 1 || orderOf_[folder] == kNoFolder)
        return;
    // Folders already started are passed over; a few at most lie between.
    for (std::size_t place = orderOf_[folder]; place < folderOrder_.size(); ++place) {
        {
            std::lock_guard lock(pool_->mutex);
            if (ahead_.size() + pool_->segmentsAhead + 1 >= decoders_)
                return;
        }
        // No key is derived and nothing started once a stop was asked for.
        if (cancelled_ && cancelled_())
            return;
        const std::size_t candidate = folderOrder_[place];
        if (started_[candidate])
            continue;
        // Enciphered folders wait until the consumer has been given the password; the rest
        // keep their order behind them. A small folder is decoded sooner than a thread starts.
        const bool enciphered = Streams().folders[candidate].Enciphered();
        if ((enciphered && !given_) || Streams().folders[candidate].UnpackSize() < kBlockSize)
            return;
        // Within the budget, or left to the consumer.
        const std::uint64_t cost = FolderDecodeMemory(Streams().folders[candidate]) +
                                   std::uint64_t(kPiecesAhead) * kBlockSize;
        {
            std::lock_guard lock(pool_->mutex);
            if (cost > pool_->free)
                return;
            pool_->free -= cost;
            // Pieces kept for reuse are not in the budget any more: let them go.
            pool_->spare.clear();
        }
        std::unique_ptr<ByteStream> stream;
        std::unique_ptr<AheadStream> ahead;
        const ArchiveStatus opened =
            sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(), candidate,
                                 enciphered ? *given_ : std::u16string(), keys_, stream);
        if (opened.Ok())
            ahead = AheadStream::Start(stream, pool_, cost);
        if (!ahead) {
            // Fails again, in its place, when the consumer opens it; without a thread or the
            // memory for one, fewer folders decode at once from here on.
            {
                std::lock_guard lock(pool_->mutex);
                pool_->free += cost;
            }
            if (opened.Ok() || opened.code == cptlib::kHrOutOfMemory) {
                decoders_ = static_cast<unsigned>(ahead_.size() + 1);
                SETUP_LOG(cptlib::Severity::Warning)
                    << "No memory or thread for another decoder: " << decoders_ << " from here on";
            }
            return;
        }
        started_[candidate] = true;
        ahead_.emplace(candidate, std::move(ahead));
        SyncAhead();
    }
}

ArchiveStatus SevenZipReader::Decoding(ArchiveStatus status) const {
    if (enciphered_ &&
        (status.code == cptlib::HRESULT_INVALID_DATA || status.code == HRESULT_CRC_ERROR))
        return {HRESULT_WRONG_PASSWORD, {}};
    return status;
}

ArchiveStatus SevenZipReader::DecodeAlone() {
    // Every other folder's decoder and pieces go first, then this one starts over on the
    // consumer's thread and passes over what was already taken.
    for (auto& [folder, stream] : ahead_)
        started_[folder] = false;
    ahead_.clear();
    SyncAhead();
    decoders_ = 1;
    SETUP_LOG(cptlib::Severity::Warning)
        << "Out of memory decoding folders side by side: one decoder from here on";
    folderStream_.reset();
    if (ArchiveStatus status = sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(),
                                                    folder_, folderPassword_, keys_, folderStream_);
        !status.Ok()) {
        folderStream_.reset();
        return status;
    }
    folderAhead_ = false;
    std::uint8_t scratch[1 << 12];
    for (std::uint64_t left = folderRead_; left > 0;) {
        std::size_t done = 0;
        if (ArchiveStatus status = folderStream_->Read(
                scratch, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof scratch)),
                done);
            !status.Ok())
            return status;
        if (done == 0)
            return DataError();
        left -= done;
    }
    return {};
}

ArchiveStatus SevenZipReader::Pull(std::uint8_t* out, std::size_t size) {
    std::size_t filled = 0;
    while (filled < size) {
        std::size_t done = 0;
        if (ArchiveStatus status = folderStream_->Read(out + filled, size - filled, done);
            !status.Ok()) {
            // A decoder on a thread of its own that ran out of memory: one decoder may fit.
            if (status.code != cptlib::kHrOutOfMemory || !folderAhead_)
                return Decoding(status);
            if (ArchiveStatus alone = DecodeAlone(); !alone.Ok())
                return Decoding(alone);
            continue;
        }
        if (done == 0)
            return Decoding(DataError());
        filled += done;
        folderRead_ += done;
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
        SyncAhead();
        folder_ = folder;
        nextStream_ = owner->firstStream;
        enciphered_ = owner->Enciphered();
        folderPassword_ = enciphered_ && given_ ? *given_ : std::u16string();
        folderAhead_ = true;
        folderRead_ = 0;
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
        const std::size_t segmentedBefore = segments_.Opened();
        if (ArchiveStatus status =
                sevenzip::OpenFolder(source_.File(), source_.PackBase(), Streams(), folder,
                                     password, keys_, folderStream_, &segments_);
            !status.Ok()) {
            folderStream_.reset();
            return status;
        }
        // Runs decode on threads of their own already; a decoder out of memory there falls
        // back to one decoder as a folder ahead does.
        const bool segmented = segments_.Opened() != segmentedBefore;
        folderPassword_ = password;
        folderAhead_ = segmented;
        folderRead_ = 0;
        if (!segmented && Streams().folders.size() > 1 && !started_[folder] && decoders_ > 1 &&
            owner->UnpackSize() >= kBlockSize) {
            if (auto ahead = AheadStream::Start(folderStream_, pool_, 0)) {
                folderStream_ = std::move(ahead);
                folderAhead_ = true;
            } else {
                decoders_ = 1;
                SETUP_LOG(cptlib::Severity::Warning)
                    << "No memory or thread for a decoder: the folders decode one by one";
            }
        }
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

// An archive refused for its claims: every step fails as its headers did.
class RefusedReader final : public IArchiveReader {
public:
    explicit RefusedReader(ArchiveStatus status) : status_(std::move(status)) {}
    ArchiveStatus ReadIndex(ArchiveIndex&) override { return status_; }
    ArchiveStatus NextItem(ArchiveItem&, bool& more) override {
        more = false;
        return status_;
    }
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override {
        block = {};
        return status_;
    }

private:
    ArchiveStatus status_;
};

std::unique_ptr<IArchiveReader> ReaderIfOurs(HeaderSource probe, PasswordSource password) {
    Headers headers;
    if (ArchiveStatus status = probe.Read(headers); !status.Ok()) {
        // The library would believe the same claims, at the same cost.
        if (headers.hostile)
            return std::make_unique<RefusedReader>(std::move(status));
        return nullptr;
    }
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
