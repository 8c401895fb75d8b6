#include "launcher/ProgressDialogSettings.h"

#include "launcher/App.h"
#include "launcher/ExtractFolder.h"

namespace sfx {

ProgressDialogSettings ComposeProgressDialogSettings(const CApp& app) {
    const SettingsStore& config = app.settings;
    const std::string section = "LANG_" + app.culture;
    ProgressDialogSettings record;
    record.uiLevel = app.UiLevel;
    record.productName = app.productName;
    record.culture = app.culture;
    record.archivePath = app.archivePath.empty() ? app.ProgramPath().string() : app.archivePath;
    record.programPath = app.ProgramPath().string();
    record.archiveIsLauncher = app.archivePath.empty();
    if (record.archiveIsLauncher)
        record.archiveOffset = app.archiveOffset;
    record.extractDir = AddTrailingSlash(app.extractDir);
    record.overwriteAnswer = app.overwriteAnswer;
    record.extractOnly = app.extractOnly;
    record.cultureChosen = app.cultureChosen;
    record.askTarget = app.askTarget;
    record.showLanguageDialog = app.showLanguageDialog;
    record.ownValuesFile = app.ownValuesFile;
    record.prettyProgress = config.GetInt("main", "SfxProgressPretty", 0) == 1;
    record.forwardResourceData = config.GetInt("main", "ForwardResourceDataFromSFX", 0) == 1;
    record.showCommand = config.GetInt(section, "SetupShow", config.GetInt("main", "SetupShow", 1));
    record.setupFile = config.GetString(section, "SetupFileName",
                                        config.GetString("main", "SetupFileName", "setup.exe"));
    record.setupParams =
        config.GetString(section, "SetupParams", config.GetString("main", "SetupParams", ""));
    return record;
}

} // namespace sfx
