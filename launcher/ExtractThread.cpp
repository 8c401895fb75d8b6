#include "launcher/ExtractThread.h"

#include "cptlib/Log.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/MappedFileView.h"
#include "cptlib/platform/TargetFolder.h"
#include "cptlib/platform/XdgFolders.h"
#include "format/FileDigest.h"
#include "format/Payload.h"
#include "launcher/FileWriteQueue.h"
#include "launcher/SfxMessages.h"
#include "launcher/TemporaryFolder.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <set>
#include <system_error>

namespace sfx {

namespace {

using cptlib::HRESULT;
using cptlib::platform::TargetEntry;
using cptlib::platform::TargetFolder;

std::string JoinParts(const std::vector<std::string>& parts, std::size_t count) {
    std::string name;
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0)
            name += '/';
        name += parts[i];
    }
    return name;
}

std::string JoinParts(const std::vector<std::string>& parts) {
    return JoinParts(parts, parts.size());
}

// The temporary name of an entry that replaces an existing one once complete.
std::string PartName() {
    return "." + MakeRandomFolderName() + ".part";
}

bool IsPartName(const std::string& name) {
    if (name.size() != 17 || name.compare(0, 4, ".vrn") != 0 ||
        name.compare(name.size() - 5, 5, ".part") != 0)
        return false;
    return std::all_of(name.begin() + 4, name.end() - 5,
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// Old enough that a live run has long since marked its temporary file as being written.
constexpr std::int64_t kAbandonedPartAge = 2;

bool IsCorruption(HRESULT code) {
    return code == cptlib::HRESULT_INVALID_DATA || code == HRESULT_CRC_ERROR ||
           code == HRESULT_LINK_REFUSED;
}

// Where the archive starts: behind the end marker of a launcher file, else at the start.
HRESULT FindArchiveOffset(const ExtractionJob& job, std::uint64_t& offset) {
    PayloadLayout layout;
    const HRESULT hr = job.archiveFile ? LocatePayload(*job.archiveFile, layout)
                                       : LocatePayload(job.archivePath, layout);
    if (cptlib::Succeeded(hr))
        offset = layout.archiveOffset;
    return hr;
}

} // namespace

// One run's work on the items: the target folder, the writing thread, and what must be done
// once every item is written.
class CExtractThread::Items {
public:
    Items(CExtractThread& owner, IArchiveReader& reader)
        : owner_(owner), reader_(reader),
          // The owner's own bits stay, so that the setup keeps its execute bits and the folder
          // stays removable.
          modeMask_(0777 & ~(cptlib::platform::CurrentUmask() & 077)) {}

    Result Open() {
        const std::uint32_t error = owner_.job_.folder ? target_.Open(*owner_.job_.folder)
                                                       : target_.Open(owner_.job_.extractFolder);
        return error == 0 ? Result{} : Result{cptlib::HResultFromWin32(error), {}};
    }

    Result ExtractAll();

private:
    Result ExtractFile(const ArchiveItem& item, const std::vector<std::string>& parts);
    Result ExtractFolder(const ArchiveItem& item, const std::vector<std::string>& parts);
    Result ExtractSymlink(const ArchiveItem& item, const std::vector<std::string>& parts);
    Result ExtractHardLink(const ArchiveItem& item, const std::vector<std::string>& parts);
    // Clears the way for a new item whose name is taken: asks before replacing what is there.
    // `skip` when the user keeps the existing one. Without `remove` the existing entry stays,
    // for a file that replaces it once complete.
    Result MakeRoom(const ArchiveItem& item, const std::vector<std::string>& parts, bool& skip,
                    bool remove = true);
    // Removes what a killed run left beside `parts` while it replaced an entry.
    void RemoveAbandonedParts(const std::vector<std::string>& parts);
    // Makes the item with `make` under a temporary name beside `parts` and renames it over
    // the existing entry; 0 or the failure's Win32 code, with nothing temporary left.
    std::uint32_t
    ReplaceByRename(const std::vector<std::string>& parts,
                    const std::function<std::uint32_t(const std::vector<std::string>&)>& make);
    Result CreationFailure(std::uint32_t error, const std::vector<std::string>& parts) const;
    Result WriteFailure();
    bool UnderExtractedLink(const std::vector<std::string>& parts) const;
    void ApplyFolderModes();
    std::uint64_t Completed() const { return writer_.Written() + otherBytes_; }

    static Result FromStatus(const ArchiveStatus& status) { return {status.code, status.text}; }

    CExtractThread& owner_;
    IArchiveReader& reader_;
    TargetFolder target_;
    FileWriteQueue writer_;
    std::uint64_t otherBytes_ = 0;     // link targets and skipped files count as done
    std::set<std::string> links_;      // links made in this run
    std::set<std::string> partsSwept_; // folders cleared of abandoned temporary files
    std::vector<std::pair<std::vector<std::string>, std::uint32_t>> folderModes_;
    // Archived modes lose the set-id and sticky bits and what the umask takes away.
    std::uint32_t modeMask_;
};

CExtractThread::Result CExtractThread::Items::ExtractAll() {
    Result result;
    for (;;) {
        ArchiveItem item;
        bool more = false;
        if (const ArchiveStatus status = reader_.NextItem(item, more); !status.Ok()) {
            // The damaged header is not the previous item's.
            if (IsCorruption(status.code))
                owner_.currentItem_.clear();
            result = FromStatus(status);
            break;
        }
        if (!more)
            break;
        std::vector<std::string> parts;
        if (!SplitItemName(item.name, parts)) {
            owner_.currentItem_ = item.name;
            result = {cptlib::HRESULT_INVALID_DATA, {}};
            break;
        }
        const bool folder = item.type == ArchiveItemType::Folder;
        owner_.BeginItem(JoinParts(parts), folder);
        switch (item.type) {
        case ArchiveItemType::File:
            result = ExtractFile(item, parts);
            break;
        case ArchiveItemType::Folder:
            result = ExtractFolder(item, parts);
            break;
        case ArchiveItemType::Symlink:
            result = ExtractSymlink(item, parts);
            break;
        case ArchiveItemType::HardLink:
            result = ExtractHardLink(item, parts);
            break;
        }
        if (!result.Ok())
            break;
        if (item.type != ArchiveItemType::File)
            target_.TouchNow(parts); // files get their time when written; failures do not matter
        if (const HRESULT hr = owner_.ReportCompleted(Completed()); hr != cptlib::kHrOk) {
            result = {hr, {}};
            break;
        }
    }
    // What was handed to the writer is written (or dropped after a failure) before the outcome;
    // a file cut short is removed by the writer, never left looking complete.
    const std::uint32_t writeError = writer_.Drain();
    if (result.Ok() && writeError != 0)
        result = WriteFailure();
    if (!result.Ok())
        return result;
    ApplyFolderModes();
    if (const HRESULT hr = owner_.ReportCompleted(owner_.total_); hr != cptlib::kHrOk)
        return {hr, {}};
    return {};
}

CExtractThread::Result CExtractThread::Items::MakeRoom(const ArchiveItem& item,
                                                       const std::vector<std::string>& parts,
                                                       bool& skip, bool remove) {
    skip = false;
    TargetEntry existing = TargetEntry::None;
    if (const std::uint32_t error = target_.Lookup(parts, existing))
        return CreationFailure(error, parts);
    if (existing == TargetEntry::None)
        return {};
    if (existing == TargetEntry::Folder)
        return CreationFailure(cptlib::kErrorAlreadyExists, parts);
    RemoveAbandonedParts(parts);
    HRESULT hr = cptlib::kHrOk;
    const bool replace =
        owner_.AskOverwrite(JoinPath(owner_.job_.extractFolder, JoinParts(parts)), hr);
    if (hr != cptlib::kHrOk)
        return {hr, {}};
    if (!replace) {
        skip = true;
        otherBytes_ += item.size;
        return {};
    }
    if (!remove)
        return {};
    // A link in the way is removed, never written through.
    if (const std::uint32_t error = target_.Remove(parts))
        return CreationFailure(error, parts);
    return {};
}

CExtractThread::Result CExtractThread::Items::ExtractFile(const ArchiveItem& item,
                                                          const std::vector<std::string>& parts) {
    cptlib::platform::FileDescriptor file;
    // Private until its data is written; an archive without permissions gets the umask's.
    const std::uint32_t mode = item.hasMode ? 0600 : 0666;
    std::uint32_t error = target_.CreateNewFile(parts, mode, file);
    FileWriteQueue::Place place;
    std::vector<std::string> created = parts;
    if (error == cptlib::kErrorFileExists) {
        bool skip = false;
        if (Result room = MakeRoom(item, parts, skip, false); !room.Ok() || skip)
            return room;
        // Written beside the existing entry, which it replaces once complete and checked: a
        // damaged item, a cancel or a failure leaves the user's file as it was.
        for (int attempt = 0; attempt < 100 && error == cptlib::kErrorFileExists; ++attempt) {
            created.back() = PartName();
            error = target_.CreateNewFile(created, mode, file);
        }
        if (error == 0)
            cptlib::platform::MarkBeingWritten(file.get());
        place.final = parts.back();
    }
    if (error != 0)
        return CreationFailure(error, parts);
    place.created = created.back();
    if (const std::uint32_t opened = target_.OpenParentFolder(parts, place.folder)) {
        file.reset();
        target_.Remove(created);
        return CreationFailure(opened, parts);
    }
    writer_.Begin(std::move(file), JoinParts(parts),
                  item.hasMode ? std::optional<std::uint32_t>(item.mode & modeMask_) : std::nullopt,
                  std::move(place));
    for (;;) {
        std::span<const std::uint8_t> block;
        if (const ArchiveStatus status = reader_.ReadBlock(block); !status.Ok())
            return FromStatus(status);
        if (block.empty())
            break;
        if (!writer_.Append(block))
            return WriteFailure();
        if (const HRESULT hr = owner_.ReportCompleted(Completed()); hr != cptlib::kHrOk)
            return {hr, {}};
    }
    if (!writer_.End())
        return WriteFailure();
    return {};
}

CExtractThread::Result CExtractThread::Items::ExtractFolder(const ArchiveItem& item,
                                                            const std::vector<std::string>& parts) {
    if (const std::uint32_t error = target_.MakeFolder(parts, item.hasMode ? 0700 : 0777))
        return CreationFailure(error, parts);
    // Applied at the end, so that a read-only folder can still be filled.
    if (item.hasMode)
        folderModes_.emplace_back(parts, item.mode & modeMask_);
    return {};
}

CExtractThread::Result
CExtractThread::Items::ExtractSymlink(const ArchiveItem& item,
                                      const std::vector<std::string>& parts) {
    if (!LinkStaysInside(parts, item.linkTarget))
        return {HRESULT_LINK_REFUSED, {}};
    const auto make = [&](const std::vector<std::string>& name) {
        return target_.MakeSymlink(name, item.linkTarget);
    };
    std::uint32_t error = make(parts);
    if (error == cptlib::kErrorFileExists) {
        bool skip = false;
        if (Result room = MakeRoom(item, parts, skip, false); !room.Ok() || skip)
            return room;
        error = ReplaceByRename(parts, make);
    }
    if (error != 0)
        return CreationFailure(error, parts);
    links_.insert(JoinParts(parts));
    otherBytes_ += item.size;
    return {};
}

CExtractThread::Result
CExtractThread::Items::ExtractHardLink(const ArchiveItem& item,
                                       const std::vector<std::string>& parts) {
    std::vector<std::string> source;
    if (!SplitItemName(item.linkTarget, source))
        return {HRESULT_LINK_REFUSED, {}};
    // A copy, where the file system has no hard links, needs the source's data on disk.
    if (writer_.Drain() != 0)
        return WriteFailure();
    const auto make = [&](const std::vector<std::string>& name) {
        return target_.MakeHardLink(name, source);
    };
    std::uint32_t error = make(parts);
    if (error == cptlib::kErrorFileExists) {
        bool skip = false;
        if (Result room = MakeRoom(item, parts, skip, false); !room.Ok() || skip)
            return room;
        error = ReplaceByRename(parts, make);
    }
    if (error != 0) {
        if (error == cptlib::platform::kErrorStoppedOnSymlink && UnderExtractedLink(source))
            return {HRESULT_LINK_REFUSED, {}};
        return CreationFailure(error, parts);
    }
    otherBytes_ += item.size;
    return {};
}

void CExtractThread::Items::RemoveAbandonedParts(const std::vector<std::string>& parts) {
    // A run killed while it replaced an entry left its temporary file beside it; once per
    // folder where this run replaces something.
    const std::string folderName = JoinParts(parts, parts.size() - 1);
    if (!partsSwept_.insert(folderName).second)
        return;
    cptlib::platform::FileDescriptor folder;
    if (target_.OpenParentFolder(parts, folder) == 0)
        cptlib::platform::RemoveAbandonedFiles(folder.get(), IsPartName, kAbandonedPartAge);
}

std::uint32_t CExtractThread::Items::ReplaceByRename(
    const std::vector<std::string>& parts,
    const std::function<std::uint32_t(const std::vector<std::string>&)>& make) {
    // Made beside the existing entry and renamed over it, so that the name never lacks an
    // entry: a failure or a stop before the rename keeps the old one.
    std::vector<std::string> created = parts;
    std::uint32_t error = cptlib::kErrorFileExists;
    for (int attempt = 0; attempt < 100 && error == cptlib::kErrorFileExists; ++attempt) {
        created.back() = PartName();
        error = make(created);
    }
    if (error != 0)
        return error;
    cptlib::platform::FileDescriptor folder;
    error = target_.OpenParentFolder(parts, folder);
    if (error == 0)
        error = cptlib::platform::RenameInFolder(folder.get(), created.back(), parts.back());
    // Also after a rename between two links of one file, which leaves both names.
    if (folder)
        cptlib::platform::RemoveFileInFolder(folder.get(), created.back());
    else
        target_.Remove(created);
    return error;
}

bool CExtractThread::Items::UnderExtractedLink(const std::vector<std::string>& parts) const {
    for (std::size_t count = 1; count <= parts.size(); ++count) {
        if (links_.count(JoinParts(parts, count)) != 0)
            return true;
    }
    return false;
}

CExtractThread::Result
CExtractThread::Items::CreationFailure(std::uint32_t error,
                                       const std::vector<std::string>& parts) const {
    if (error == cptlib::kErrorDiskFull)
        return {cptlib::HRESULT_DISK_FULL, {}};
    const std::string path = JoinPath(owner_.job_.extractFolder, JoinParts(parts));
    if (error == cptlib::platform::kErrorStoppedOnSymlink) {
        // Through a link of the archive's own making: the archive tries to write elsewhere.
        if (UnderExtractedLink(parts))
            return {HRESULT_LINK_REFUSED, {}};
        return {cptlib::kHrFail, "Cannot create \"" + path + "\": a symbolic link is in the way."};
    }
    return {cptlib::kHrFail, "Cannot create \"" + path + "\": " + cptlib::SystemErrorText(error)};
}

CExtractThread::Result CExtractThread::Items::WriteFailure() {
    const std::uint32_t error = writer_.Drain();
    owner_.currentItem_ = writer_.ErrorName();
    return {cptlib::HResultFromWin32(error != 0 ? error : cptlib::kErrorInvalidFunction), {}};
}

void CExtractThread::Items::ApplyFolderModes() {
    // Deepest first, so that a folder made read-only is already filled.
    std::stable_sort(folderModes_.begin(), folderModes_.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [parts, mode] : folderModes_)
        target_.SetFolderMode(parts, mode);
}

CExtractThread::CExtractThread() : freeSpace_(cptlib::platform::GetFreeBytes) {}

CExtractThread::~CExtractThread() {
    CancelAndWait();
}

bool CExtractThread::Start(const ExtractionJob& job) {
    if (IsRunning())
        return false;
    job_ = job;
    SetNotifyInbox(job.notifyWindow);
    return CMfcWorkerThread::Start(0);
}

std::uint32_t CExtractThread::Run() {
    total_ = 0;
    currentItem_.clear();
    lastPermille_ = -1;
    overwriteAll_ = false;
    skipAll_ = false;
    password_.clear();
    Result result;
    try {
        result = Extract();
    } catch (const std::bad_alloc&) {
        result = {cptlib::kHrFail, "Not enough memory to extract the files."};
    } catch (const std::system_error& e) {
        result = {cptlib::HResultFromWin32(static_cast<std::uint32_t>(e.code().value())), {}};
        if (e.code().category() != cptlib::win32_category())
            result.code = cptlib::HResultFromErrno(e.code().value());
    } catch (const std::exception& e) {
        result = {cptlib::kHrFail, e.what()};
    }
    Finish(result);
    return 0;
}

CExtractThread::Result CExtractThread::Extract() {
    const std::string& folder = job_.extractFolder;
    if (!job_.folder && !cptlib::platform::IsDirectory(folder)) {
        if (const std::uint32_t error = cptlib::platform::CreateFolderTree(folder)) {
            currentItem_ = folder;
            return {static_cast<HRESULT>(error), {}};
        }
    }
    std::uint64_t offset = 0;
    if (job_.archiveIsLauncher) {
        if (job_.archiveOffset)
            offset = *job_.archiveOffset;
        else if (const HRESULT hr = FindArchiveOffset(job_, offset); cptlib::Failed(hr))
            return {hr, {}};
    }
    // Counts the bytes as the readers pull them; a file that fails it starts no setup.
    const std::unique_ptr<OwnFileDigestCheck> digest =
        job_.archiveIsLauncher && job_.archiveFile ? OwnFileDigestCheck::Start(*job_.archiveFile)
                                                   : nullptr;
    PasswordSource password = [this](std::string& entered) { return GetPassword(entered); };
    const std::unique_ptr<IArchiveReader> reader =
        readerFactory_ ? readerFactory_(job_.archivePath, offset, std::move(password))
        : job_.archiveIsLauncher && job_.archiveFile
            ? MakeArchiveReader(*job_.archiveFile, offset, std::move(password))
            : MakeArchiveReader(job_.archivePath, offset, std::move(password));
    reader->SetCancelCheck([this] { return IsCancelled(); });
    ArchiveIndex index;
    if (const ArchiveStatus status = reader->ReadIndex(index); !status.Ok())
        return {status.code, status.text};
    // A name that would leave the folder is refused before anything is written.
    std::vector<std::string> parts;
    for (const ArchiveItem& item : index.items) {
        if (!SplitItemName(item.name, parts)) {
            currentItem_ = item.name;
            return {cptlib::HRESULT_INVALID_DATA, {}};
        }
    }
    if (const HRESULT hr = ReportTotal(index.totalSize); hr != cptlib::kHrOk)
        return {hr, {}};
    Items items(*this, *reader);
    if (Result opened = items.Open(); !opened.Ok())
        return opened;
    Result result = items.ExtractAll();
    if (result.Ok() && digest && !digest->Finish()) {
        SETUP_LOG(cptlib::Severity::Error) << "The launcher file does not match its digest.";
        currentItem_.clear();
        return {cptlib::HRESULT_INVALID_DATA, {}};
    }
    return result;
}

void CExtractThread::Finish(const Result& result) {
    const cptlib::InboxHandle& inbox = job_.notifyWindow;
    if (result.Ok()) {
        inbox.Post(WM_SFX_EXTRACT_DONE);
        return;
    }
    if (result.text.empty() && result.code == kHrAbort) {
        CleanUp();
        inbox.Post(WM_SFX_EXTRACT_CANCELLED);
        return;
    }
    ExtractionError error;
    if (!result.text.empty()) {
        error.kind = ExtractionErrorKind::LibraryError;
        error.message = result.text;
    } else if (IsCorruption(result.code)) {
        error.kind = ExtractionErrorKind::CorruptArchive;
        error.code = static_cast<std::uint32_t>(result.code);
        error.path = currentItem_;
    } else {
        error.kind = ExtractionErrorKind::SystemError;
        error.code = static_cast<std::uint32_t>(result.code);
        error.path = currentItem_;
        if (result.code == cptlib::HRESULT_DISK_FULL)
            error.requiredSize = total_;
    }
    inbox.Send(WM_SFX_EXTRACT_ERROR, reinterpret_cast<cptlib::WParam>(&error));
    CleanUp();
    inbox.Post(WM_SFX_EXTRACT_FAILED);
}

void CExtractThread::CleanUp() {
    if (!job_.deleteOnFailure)
        return;
    job_.notifyWindow.Post(WM_SFX_DELETING);
    if (job_.folder)
        RemoveTemporaryFolder(job_.extractFolder, job_.folder.get());
    else
        DeleteFolderTree(job_.extractFolder, kDeleteTempFolder);
}

HRESULT CExtractThread::ReportTotal(std::uint64_t total) {
    total_ = total;
    std::uint64_t free = 0;
    const std::string where =
        job_.folder ? cptlib::platform::PathThrough(*job_.folder, {}) : job_.extractFolder;
    if (const std::uint32_t error = freeSpace_(where, free))
        return cptlib::HResultFromWin32(error);
    if (total > std::numeric_limits<std::uint64_t>::max() - kFreeSpaceMargin ||
        free < total + kFreeSpaceMargin)
        return cptlib::HRESULT_DISK_FULL;
    return IsCancelled() ? kHrAbort : cptlib::kHrOk;
}

HRESULT CExtractThread::ReportCompleted(std::uint64_t completed) {
    if (total_ != 0) {
        std::uint64_t permille = 1000;
        if (completed < total_) {
            permille = completed <= std::numeric_limits<std::uint64_t>::max() / 1000
                           ? completed * 1000 / total_
                           : completed / (total_ / 1000);
        }
        // Only changes are sent: the dialog shows nothing finer, and each send waits for it.
        if (static_cast<int>(permille) != lastPermille_) {
            lastPermille_ = static_cast<int>(permille);
            job_.notifyWindow.Send(WM_SFX_PROGRESS, 0, static_cast<cptlib::LParam>(permille));
        }
    }
    return IsCancelled() ? kHrAbort : cptlib::kHrOk;
}

bool CExtractThread::AskOverwrite(const std::string& existingPath, HRESULT& hr) {
    hr = cptlib::kHrOk;
    if (overwriteAll_)
        return true;
    if (skipAll_ || !job_.notifyWindow)
        return false;
    const cptlib::LResult answer = job_.notifyWindow.Send(
        WM_SFX_ASK_OVERWRITE, 0, reinterpret_cast<cptlib::LParam>(existingPath.c_str()));
    switch (answer) {
    case kOverwriteYes:
        return true;
    case kOverwriteYesToAll:
        overwriteAll_ = true;
        return true;
    case kOverwriteNoToAll:
        skipAll_ = true;
        return false;
    case kOverwriteCancel:
        hr = kHrAbort;
        return false;
    default:
        return false;
    }
}

HRESULT CExtractThread::GetPassword(std::string& password) {
    if (password_.empty()) {
        if (!job_.notifyWindow)
            return kHrAbort;
        std::string buffer(kPasswordCapacity, '\0');
        const cptlib::LResult reply = job_.notifyWindow.Send(
            WM_SFX_ASK_PASSWORD, reinterpret_cast<cptlib::WParam>(buffer.data()),
            static_cast<cptlib::LParam>(buffer.size()));
        if (reply != kPasswordEntered)
            return kHrAbort;
        if (const std::size_t end = buffer.find('\0'); end != std::string::npos)
            buffer.resize(end);
        password_ = std::move(buffer);
    }
    password = password_;
    return cptlib::kHrOk;
}

void CExtractThread::BeginItem(const std::string& name, bool folder) {
    extractedNames_.push_back(folder ? name + "/" : name);
    currentItem_ = name;
}

} // namespace sfx
