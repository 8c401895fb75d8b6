#include "launcher/ProgressDialogSettings.h"

#include "launcher/ExtractFolder.h"
#include "launcher/SetupCommand.h"

namespace sfx {

ProgressDialogSettings ComposeProgressDialogSettings(const StartupState& state,
                                                     const std::filesystem::path& programPath,
                                                     const SettingsStore& config,
                                                     const SetupCommandSystem& system) {
    ProgressDialogSettings record;
    record.uiLevel = state.UiLevel;
    record.productName = state.productName;
    record.culture = state.culture;
    record.archivePath = state.archivePath.empty() ? programPath.string() : state.archivePath;
    record.programPath = programPath.string();
    record.ownFile = state.ownFile;
    record.archiveIsLauncher = state.archivePath.empty();
    if (record.archiveIsLauncher)
        record.archiveOffset = state.archiveOffset;
    record.extractDir = AddTrailingSlash(state.extractDir);
    record.overwriteAnswer = state.overwriteAnswer;
    record.overwriteAnswerGiven = state.overwriteAnswerGiven;
    record.extractOnly = state.extractOnly;
    record.cultureChosen = state.cultureChosen;
    record.askTarget = state.askTarget;
    record.showLanguageDialog = state.showLanguageDialog;
    record.ownValuesFile = state.ownValuesFile;
    record.prettyProgress = config.GetInt("main", "SfxProgressPretty", 0) == 1;
    record.forwardResourceData = config.GetInt("main", "ForwardResourceDataFromSFX", 0) == 1;
    SetupCommand command = ComposeSetupCommand(config, state, system);
    record.setupFile = std::move(command.setupFile);
    record.setupParams = std::move(command.setupParams);
    record.showCommand = command.showCommand;
    return record;
}

} // namespace sfx
