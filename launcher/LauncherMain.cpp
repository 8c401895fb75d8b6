#include "launcher/LauncherMain.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/Exceptions.h"
#include "cptlib/platform/BrokenPipe.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/ProgramSearch.h"
#include "launcher/App.h"

#include <cstdlib>
#include <iostream>
#include <sstream>

namespace sfx {

namespace {

// Records go to the file named by SFX_LOG; without it they are dropped rather than mixed into
// the terminal output. A file that cannot take them costs the log, not the run.
void SetUpLogging() {
    const char* file = std::getenv("SFX_LOG");
    if (file == nullptr || *file == '\0') {
        cptlib::DisableLogging();
        return;
    }
    std::string whyNot;
    const std::string first = "Log of " + cptlib::Utf8FromPath(cptlib::platform::GetModulePath()) +
                              ", process " + std::to_string(cptlib::platform::CurrentProcessId()) +
                              ".";
    if (cptlib::AttachLogFile(file, first, whyNot))
        return;
    cptlib::DisableLogging();
    std::cerr << "Warning: no log is written: SFX_LOG names '" << file
              << "', which cannot be written: " << whyNot << std::endl;
}

} // namespace

int RunLauncher(const LauncherEntry& entry) {
    // A message to a reader that has gone is lost; the run ends as it would have.
    cptlib::platform::IgnoreBrokenPipe();
    // A write beyond the file size limit then fails (EFBIG) and is reported like a full disk.
    cptlib::platform::IgnoreFileSizeLimit();
    SetUpLogging();
    // The file that is read is the running one; the name it was started under carries the
    // file-name tag and the folder for relative add-on folders.
    CApp app(entry.args, cptlib::platform::GetModulePath(),
             cptlib::platform::StartedAsPath(entry.startedAs));
    if (entry.useWindows)
        entry.useWindows(app);
    app.InitInstance();
    const std::uint32_t exitCode = app.ExitInstance();
    const int status = entry.exitStatus(exitCode);
    // The status the process ends with; the launcher's own code beside it when that differs.
    if (static_cast<std::uint32_t>(status) == exitCode) {
        SETUP_LOG(cptlib::Severity::Normal) << "Exit code: " << exitCode;
    } else {
        std::ostringstream code;
        code << (exitCode > 0xFFFF ? std::hex : std::dec) << std::showbase << exitCode;
        SETUP_LOG(cptlib::Severity::Normal)
            << "Exit code: " << status << " (launcher code " << code.str() << ")";
    }
    return status;
}

} // namespace sfx
