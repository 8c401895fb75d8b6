// Runs the extraction worker on its own, for measuring it without the launcher around it:
//   extract_driver [--launcher] ARCHIVE FOLDER
// --launcher: the archive follows the configuration block of a launcher file. Existing files are
// kept. Exit status 0 when the run is done, 1 when it failed (the record on stderr) or was
// cancelled, 2 for a wrong command line.

#include "cptlib/sys/MessageInbox.h"
#include "launcher/ExtractThread.h"
#include "launcher/SfxMessages.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    bool launcher = false;
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "--launcher") {
        launcher = true;
        first = 2;
    }
    if (argc - first != 2) {
        std::fprintf(stderr, "usage: %s [--launcher] ARCHIVE FOLDER\n", argv[0]);
        return 2;
    }

    int status = -1;
    cptlib::MessageInbox inbox([&](const cptlib::Message& message) -> cptlib::LResult {
        switch (message.id) {
        case sfx::WM_SFX_EXTRACT_DONE:
            status = 0;
            break;
        case sfx::WM_SFX_EXTRACT_CANCELLED:
        case sfx::WM_SFX_EXTRACT_FAILED:
            status = 1;
            break;
        case sfx::WM_SFX_EXTRACT_ERROR: {
            const auto& error = *reinterpret_cast<const sfx::ExtractionError*>(message.wParam);
            std::fprintf(stderr, "kind %d, code 0x%08X, message \"%s\", path \"%s\", size %llu\n",
                         static_cast<int>(error.kind), error.code, error.message.c_str(),
                         error.path.c_str(), static_cast<unsigned long long>(error.requiredSize));
            break;
        }
        case sfx::WM_SFX_ASK_OVERWRITE:
            return sfx::kOverwriteNo;
        default:
            break;
        }
        return 0;
    });

    sfx::CExtractThread thread;
    sfx::ExtractionJob job;
    job.notifyWindow = inbox.Handle();
    job.archivePath = argv[first];
    job.archiveIsLauncher = launcher;
    job.extractFolder = argv[first + 1];
    job.deleteOnFailure = false;
    if (!thread.Start(job)) {
        std::fprintf(stderr, "cannot start the extraction thread\n");
        return 1;
    }
    while (status < 0 && inbox.ProcessNext()) {
    }
    thread.Wait();
    return status;
}
