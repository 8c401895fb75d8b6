// The record the progress dialog gets from the start-up.

#include "launcher/ProgressDialogSettings.h"
#include "launcher/SetupCommand.h"

#include <gtest/gtest.h>

namespace {

using namespace sfx;

ProgressDialogSettings Compose(const StartupState& state, const SettingsStore& settings) {
    return ComposeProgressDialogSettings(state, "/opt/dl/setup-file", settings,
                                         SetupCommandSystem{});
}

TEST(ProgressDialogSettings, DefaultsWithoutConfiguration) {
    StartupState state;
    state.extractDir = "/tmp/vrnabcdefgh";
    state.archiveOffset = 0x33D631;
    const auto record = Compose(state, SettingsStore());
    EXPECT_EQ(record.uiLevel, UiNormal);
    EXPECT_EQ(record.archivePath, "/opt/dl/setup-file");
    EXPECT_TRUE(record.archiveIsLauncher);
    EXPECT_EQ(record.archiveOffset, std::optional<std::uint64_t>(0x33D631));
    EXPECT_EQ(record.extractDir, "/tmp/vrnabcdefgh/");
    EXPECT_EQ(record.setupFile, "setup.exe");
    EXPECT_EQ(record.setupParams, "");
    EXPECT_EQ(record.showCommand, 1);
    EXPECT_EQ(record.overwriteAnswer, kOverwriteYesToAll);
    EXPECT_FALSE(record.prettyProgress);
    EXPECT_FALSE(record.forwardResourceData);
    EXPECT_FALSE(record.extractOnly);
}

TEST(ProgressDialogSettings, CultureSectionBeforeMainAndMembersAsTheyStand) {
    SettingsStore settings;
    StartupState state;
    settings.Parse("[main]\nSetupFileName=main.exe\nSetupParams=/m\nSetupShow=3\n"
                   "SfxProgressPretty=1\nForwardResourceDataFromSFX=1\n"
                   "[LANG_de-DE]\nSetupFileName=de.exe\nSetupShow=0\n");
    state.culture = "de-DE";
    state.UiLevel = UiBasic;
    state.productName = "Produkt";
    state.archivePath = "/data/payload.7z";
    // The launcher's own archive offset says nothing about the file named by /e.
    state.archiveOffset = 0x33D631;
    state.extractDir = "/x/out/";
    state.extractOnly = true;
    state.askTarget = true;
    state.cultureChosen = true;
    state.showLanguageDialog = true;
    state.ownValuesFile = true;
    state.overwriteAnswer = kOverwriteNoToAll;
    const auto record = Compose(state, settings);
    EXPECT_EQ(record.setupFile, "de.exe");
    EXPECT_EQ(record.setupParams, "/m");
    EXPECT_EQ(record.showCommand, 0);
    EXPECT_TRUE(record.prettyProgress);
    EXPECT_TRUE(record.forwardResourceData);
    EXPECT_EQ(record.archivePath, "/data/payload.7z");
    EXPECT_FALSE(record.archiveIsLauncher);
    EXPECT_FALSE(record.archiveOffset);
    EXPECT_EQ(record.extractDir, "/x/out/");
    EXPECT_EQ(record.uiLevel, UiBasic);
    EXPECT_EQ(record.productName, "Produkt");
    EXPECT_EQ(record.culture, "de-DE");
    EXPECT_EQ(record.overwriteAnswer, kOverwriteNoToAll);
    EXPECT_TRUE(record.extractOnly && record.askTarget && record.cultureChosen &&
                record.showLanguageDialog && record.ownValuesFile);

    // Another culture falls back to main; a pretty value other than 1 is off.
    state.culture = "fr-FR";
    settings.Parse("[main]\nSetupFileName=main.exe\nSfxProgressPretty=2\n");
    const auto other = Compose(state, settings);
    EXPECT_EQ(other.setupFile, "main.exe");
    EXPECT_FALSE(other.prettyProgress);
    EXPECT_EQ(other.showCommand, 1);
}

} // namespace
