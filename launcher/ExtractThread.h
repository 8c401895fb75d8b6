#pragma once
// The extraction worker: unpacks the archive into the extract folder and reports progress,
// questions and the outcome to the progress dialog's inbox.

#include "cptlib/sys/MfcWorkerThread.h"
#include "format/ArchiveReader.h"
#include "format/ItemName.h"
#include "launcher/Extraction.h"
#include "launcher/TemporaryFolder.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sfx {

// Room that must stay free on the volume beyond the unpacked size.
constexpr std::uint64_t kFreeSpaceMargin = 0x100000;

using ArchiveReaderFactory = std::function<std::unique_ptr<IArchiveReader>(
    const std::string& path, std::uint64_t offset, PasswordSource password)>;

class CExtractThread : public cptlib::CMfcWorkerThread {
public:
    CExtractThread();
    ~CExtractThread() override;

    // Takes the job and starts a run; false while a run is in progress or when no thread can be
    // made.
    bool Start(const ExtractionJob& job);

    // Every item begun in every run so far, in order; a folder's name ends with "/". Read it
    // while no run is in progress.
    const std::vector<std::string>& ExtractedNames() const { return extractedNames_; }

    // The free-space query (statvfs of the extract folder unless replaced).
    void SetFreeSpaceQuery(FreeSpaceQuery query) { freeSpace_ = std::move(query); }
    // How the archive is read (the 7z library unless replaced; a launcher file opened at
    // start-up through its descriptor).
    void SetReaderFactory(ArchiveReaderFactory factory) { readerFactory_ = std::move(factory); }

protected:
    std::uint32_t Run() override;

private:
    struct Result {
        cptlib::HRESULT code = cptlib::kHrOk; // or a Win32 number from creating the folder
        std::string text;                     // a failure described in words
        bool Ok() const { return code == cptlib::kHrOk && text.empty(); }
    };
    class Items;

    Result Extract();
    void Finish(const Result& result);
    void CleanUp();

    cptlib::HRESULT ReportTotal(std::uint64_t total);
    cptlib::HRESULT ReportCompleted(std::uint64_t completed);
    // The dialog's answer for an existing file: true to replace it; kHrAbort in `hr` to stop.
    bool AskOverwrite(const std::string& existingPath, cptlib::HRESULT& hr);
    void BeginItem(const std::string& name, bool folder);
    // The reader's password source: the remembered password, or the dialog's answer when none
    // is remembered yet.
    cptlib::HRESULT GetPassword(std::string& password);

    ExtractionJob job_;
    std::uint64_t total_ = 0;
    std::string currentItem_;
    std::vector<std::string> extractedNames_;
    int lastPermille_ = -1;
    bool overwriteAll_ = false;
    bool skipAll_ = false;
    // Kept for the whole run; an empty entry is remembered as none, so the next folder asks.
    std::string password_;
    FreeSpaceQuery freeSpace_;
    ArchiveReaderFactory readerFactory_;
};

} // namespace sfx
