#pragma once
// The setup program's file name and parameter string, decided before extraction: configured
// values with placeholders filled, then the launcher's packed, add-on and own arguments.

#include "cptlib/localization/Placeholders.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "launcher/SettingsStore.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sfx {

class CApp;
struct ProgressDialogSettings;

using cptlib::QuoteArgument;

// What the composition takes from the application.
struct SetupCommandInput {
    std::string culture;
    std::string extractDir; // with a trailing "/"
    std::string addonDirPacked;
    std::string addonDir;
    std::vector<std::string> packedArguments;
    std::vector<std::string> forwardedArguments;
};

// What it asks of the running system; tests supply their own.
struct SetupCommandSystem {
    bool is32BitOn64Bit = false;
    cptlib::PropertyMap folderProperties;
};

// The facts of this process and machine (folder properties resolved now).
SetupCommandSystem CurrentSetupCommandSystem();

struct SetupCommand {
    std::string setupFile;
    std::string setupParams;
    std::int32_t showCommand = 1;
};

SetupCommand ComposeSetupCommand(const SettingsStore& settings, const SetupCommandInput& input,
                                 const SetupCommandSystem& system);

// Sets the record's setupFile, setupParams and showCommand from the application, with the
// record's culture and extract folder.
void FillSetupCommand(ProgressDialogSettings& record, const CApp& app);

// The configured setup file; SetupFileName64 wins for a 32-bit process on a 64-bit system.
std::string SetupFileName(const SettingsStore& settings, const std::string& culture,
                          bool is32BitOn64Bit);

// Every "[ExtractDir]", letter case exact, replaced by `extractDir`.
std::string ReplaceExtractDir(std::string_view text, const std::string& extractDir);

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

} // namespace sfx
