#pragma once
// The setup command: which program the launcher starts after the extraction and with which
// parameter string. Composed once from the configuration and the start-up state, before the
// extract folder exists (ComposeSetupCommand), and completed when the setup starts
// (ComposeSetupLaunch).

#include "cptlib/localization/Placeholders.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "cptlib/sys/MessageInbox.h"
#include "format/SettingsStore.h"
#include "launcher/StartupState.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sfx {

struct ProgressDialogSettings;

// What the composition asks of the running system; tests supply their own.
struct SetupCommandSystem {
    bool is32BitOn64Bit = false;
    cptlib::PropertyMap folderProperties;
};

// The facts of this process and machine (folder properties resolved now).
SetupCommandSystem CurrentSetupCommandSystem();

struct SetupCommand {
    std::string setupFile;   // relative to the extract folder unless absolute
    std::string setupParams; // the whole parameter string but the switches added at the start
    std::int32_t showCommand = 1;
};

// The configured file, parameters and show command (the culture's section before main), the
// only place that reads them; placeholders filled and "[ExtractDir]" replaced by the state's
// extract folder; then the -x packing, /addondir and, when forwarded, the own arguments.
SetupCommand ComposeSetupCommand(const SettingsStore& settings, const StartupState& state,
                                 const SetupCommandSystem& system);

// What the dialog hands to the setup worker; the worker keeps its own copy.
struct SetupLaunchInfo {
    cptlib::InboxHandle notifyWindow; // null: nobody is told
    std::string extractDir;           // deleted after the setup ended, unless empty
    // extractDir as it was made: the setup inside it is started, and the folder removed,
    // through this descriptor. Null: by name.
    std::shared_ptr<const cptlib::platform::FolderHandle> folder;
    std::string valuesFile; // SetupValues.dat to write; empty: none
    std::string setupFile;  // the program to start, full path
    std::string parameters; // its whole parameter string
    std::int32_t showCommand = 1;
    // The launcher file whose values are forwarded.
    std::filesystem::path programFile;
    // The name the launcher was started under, for the file-name tag; empty: programFile's.
    std::filesystem::path startedAs;
    // The launcher file as opened at start-up; when set, read instead of programFile.
    cptlib::platform::SharedFile programImage;
};

// The start-setup step's command from the dialog's settings, whose setup file and parameters
// were composed for `composedExtractDir`: re-based onto the folder in use (settings.extractDir),
// the file resolved, installer databases started through msiexec, the -m and /l switches, then
// the parameters.
SetupLaunchInfo
ComposeSetupLaunch(const ProgressDialogSettings& settings, const std::string& composedExtractDir,
                   const std::filesystem::path& programFile,
                   std::shared_ptr<const cptlib::platform::FolderHandle> folder = {});

// The configured setup file; SetupFileName64 wins for a 32-bit process on a 64-bit system.
std::string SetupFileName(const SettingsStore& settings, const std::string& culture,
                          bool is32BitOn64Bit);

// Whether the configured setup file (placeholders not yet filled) is started as a program from
// the extract folder: a relative name or one below "[ExtractDir]", unless it is an installer
// database (started through msiexec).
bool SetupRunsFromExtractFolder(const std::string& setupFile);

// The setup file with its folder: a relative name below the extract folder, or below its
// "product/" folder when nothing (or a folder) has that name there; an absolute name as it is.
// With `folder` (extractDir as it was made) the file is looked at through it.
std::string ResolveSetupFile(const std::string& extractDir, const std::string& setupFile,
                             const cptlib::platform::FolderHandle* folder = nullptr);

// Every occurrence of the folder `from` in `text` replaced by `to` (a trailing "/" of either
// ignored), for texts composed before the extract folder got its final name.
std::string RebaseOnExtractDir(std::string_view text, std::string_view from, std::string_view to);

// Carries the packed add-on folder and arguments inside the "-x" value (one Base64 token whose
// text is a command-line fragment), extending an existing value or appending a new one. On any
// failure the parameters stay as they were.
void AppendPackedArguments(std::string& parameters, std::string_view addonDirPacked,
                           const std::vector<std::string>& packedArguments);

// Appends "/addondir" and the folder (kept as given) when `addonDir` is not empty.
void AppendAddonDirArgument(std::string& parameters, const std::string& addonDir);

// Appends each argument quoted.
void AppendOwnArguments(std::string& parameters, const std::vector<std::string>& arguments);

// Base64 with "=" padding.
std::string EncodeBase64(std::string_view bytes);
// Decodes up to the first "=" or the first character outside the alphabet; a final group of
// fewer than four characters gives the whole bytes it holds.
std::string DecodeBase64Prefix(std::string_view text);

// Quoting, two rules on purpose: what the launcher hands on (own and packed arguments, add-on
// folders) must reach the setup exactly, so it takes QuoteArgument, the inverse of the
// splitter; the switches it generates (-m, /l, /i and their values) take the lighter switch
// rule, which leaves an item without white space unwrapped, even with a quote in it.
using cptlib::QuoteArgument;
// "" for an empty item, inner quotes escaped (backslashes before them doubled, so the setup
// reads back the same text), and double quotes around an item with white space (its final
// backslashes doubled).
std::string QuoteSwitch(std::string_view item);

} // namespace sfx
