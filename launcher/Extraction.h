#pragma once
// What the progress dialog hands the extraction worker, and the failure record it gets back.

#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/OwnImage.h"
#include "cptlib/sys/MessageInbox.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace sfx {

struct ExtractionJob {
    cptlib::InboxHandle notifyWindow; // the dialog's inbox; nothing is sent when empty
    std::string archivePath;          // the launcher file, or the file named by /e
    bool archiveIsLauncher = true;    // the archive follows the configuration block's end marker
    std::string extractFolder;
    bool deleteOnFailure = true;                // normal run: the folder is the launcher's own
    std::optional<std::uint64_t> archiveOffset; // from the start-up's search; else searched here
    // The launcher file as opened at start-up; when set (archiveIsLauncher only) it is read
    // instead of `archivePath`, which then only names it.
    cptlib::platform::SharedFile archiveFile;
    // The normal run's folder as it was made; when set, every item is made through it.
    std::shared_ptr<const cptlib::platform::FolderHandle> folder;
};

enum class ExtractionErrorKind : std::int32_t {
    CorruptArchive = 0,
    SystemError = 1,
    LibraryError = 2
};

struct ExtractionError {
    ExtractionErrorKind kind = ExtractionErrorKind::CorruptArchive;
    std::uint32_t code = 0;         // HRESULT, Win32 number or library number; 0 for a text failure
    std::string message;            // the library's text
    std::string path;               // SystemError: the current item or the extract folder;
                                    // CorruptArchive: the damaged or refused item, if known
    std::uint64_t requiredSize = 0; // disk full: the total unpacked size
};

} // namespace sfx
