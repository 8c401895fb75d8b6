#pragma once
// Everything the progress dialog needs from the start-up: filled once, copied into the dialog,
// never changed afterwards.

#include "format/SettingsStore.h"
#include "launcher/StartupState.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace sfx {

struct SetupCommandSystem;

struct ProgressDialogSettings {
    std::int32_t uiLevel = UiNormal;
    std::string productName;
    std::string culture;     // the culture in use, such as en-US
    std::string archivePath; // the file named by /e, else the launcher file itself
    std::string programPath; // the launcher file itself, whose values are forwarded
    std::string startedAs;   // the name it was started under, for the file-name tag; empty: same
    cptlib::platform::SharedFile ownFile; // the launcher file as opened at start-up
    std::string extractDir;               // with a trailing "/"
    std::string setupFile;   // composed, relative to the extract folder unless absolute
    std::string setupParams; // composed, but for the switches added when the setup starts
    std::int32_t overwriteAnswer = kOverwriteYesToAll;
    // The answer came from the command line: it also answers where nobody can be asked.
    bool overwriteAnswerGiven = false;
    std::int32_t showCommand = 1;
    bool prettyProgress = false;
    bool extractOnly = false;
    bool cultureChosen = false;
    bool askTarget = false;
    bool showLanguageDialog = false;
    bool ownValuesFile = false;
    bool forwardResourceData = false;
    // The archive follows the launcher's configuration block; false for a bare archive given by
    // /e, which is read from its first byte.
    bool archiveIsLauncher = true;
    // Where that archive starts when the start-up already searched the file; else the
    // extraction searches it.
    std::optional<std::uint64_t> archiveOffset;
};

// The record from the start-up state and the configuration, with the setup command composed.
ProgressDialogSettings ComposeProgressDialogSettings(const StartupState& state,
                                                     const std::filesystem::path& programPath,
                                                     const SettingsStore& config,
                                                     const SetupCommandSystem& system);

} // namespace sfx
