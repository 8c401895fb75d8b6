#pragma once
// The start-up state: what the command line and the configuration step decide before the
// progress dialog runs. One value, held by the application object.

#include "cptlib/platform/OwnImage.h"
#include "launcher/SfxMessages.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sfx {

// How much user interface a run shows.
enum UiLevelValue : int {
    UiSilent = 0,     // /q: no window, no message box
    UiHidden = 1,     // /qm, or SfxProgressVisible=0: no progress window; errors and warnings only
    UiBasic = 2,      // /qb: progress window; errors and warnings only
    UiBasicExtra = 3, // /qx: as UiBasic
    UiNormal = 4,     // the default: everything shown
};

struct StartupState {
    int UiLevel = UiNormal;
    std::string requestedCulture; // named by /l
    std::string culture;          // whose string table is loaded, such as en-US
    std::string productName;
    std::string extractDir;
    // The file named by /e; empty: the archive is the launcher file's own.
    std::string archivePath;
    std::string addonDirPacked; // dlmaddondir, carried inside the -x value
    std::string addonDir;       // dlvaddondir, handed on as /addondir
    bool extractOnly = false;
    bool showVersion = false;   // --version: print the name and version, nothing else
    bool ownValuesFile = false; // the command line carried a switch beginning with m=
    bool cultureChosen = false; // taken from the configuration's LANG_ sections
    bool showLanguageDialog = false;
    bool askTarget = false; // extract-only came from the configuration: ask for the folder
    int overwriteAnswer = kOverwriteYesToAll;
    bool overwriteAnswerGiven = false;           // /overwriteanswer named a valid answer
    std::vector<std::string> forwardedArguments; // own arguments handed on to the setup
    std::vector<std::string> packedArguments;    // the arguments after dlmforward
    // Where the archive starts in the launcher file, as the configuration search found it.
    std::optional<std::uint64_t> archiveOffset;
    // The launcher file, opened once at start-up: every read of it goes through this, so that
    // a file put in its place meanwhile is never read.
    cptlib::platform::SharedFile ownFile;
};

} // namespace sfx
