// The record the progress dialog gets from the start-up.

#include "launcher/App.h"
#include "launcher/ProgressDialogSettings.h"

#include <gtest/gtest.h>

namespace {

using namespace sfx;

TEST(ProgressDialogSettings, DefaultsWithoutConfiguration) {
    CApp app({}, "/opt/dl/setup-file");
    app.extractDir = "/tmp/vrnabcdefgh";
    app.archiveOffset = 0x33D631;
    const auto record = ComposeProgressDialogSettings(app);
    EXPECT_EQ(record.uiLevel, 4);
    EXPECT_EQ(record.archivePath, "/opt/dl/setup-file");
    EXPECT_TRUE(record.archiveIsLauncher);
    EXPECT_EQ(record.archiveOffset, std::optional<std::uint64_t>(0x33D631));
    EXPECT_EQ(record.extractDir, "/tmp/vrnabcdefgh/");
    EXPECT_EQ(record.setupFile, "setup.exe");
    EXPECT_EQ(record.setupParams, "");
    EXPECT_EQ(record.showCommand, 1);
    EXPECT_EQ(record.overwriteAnswer, 1);
    EXPECT_FALSE(record.prettyProgress);
    EXPECT_FALSE(record.forwardResourceData);
    EXPECT_FALSE(record.extractOnly);
}

TEST(ProgressDialogSettings, CultureSectionBeforeMainAndMembersAsTheyStand) {
    CApp app({}, "/opt/dl/setup-file");
    app.settings.Parse("[main]\nSetupFileName=main.exe\nSetupParams=/m\nSetupShow=3\n"
                       "SfxProgressPretty=1\nForwardResourceDataFromSFX=1\n"
                       "[LANG_de-DE]\nSetupFileName=de.exe\nSetupShow=0\n");
    app.culture = "de-DE";
    app.UiLevel = 2;
    app.productName = "Produkt";
    app.archivePath = "/data/payload.7z";
    // The launcher's own archive offset says nothing about the file named by /e.
    app.archiveOffset = 0x33D631;
    app.extractDir = "/x/out/";
    app.extractOnly = true;
    app.askTarget = true;
    app.cultureChosen = true;
    app.showLanguageDialog = true;
    app.ownValuesFile = true;
    app.overwriteAnswer = 3;
    const auto record = ComposeProgressDialogSettings(app);
    EXPECT_EQ(record.setupFile, "de.exe");
    EXPECT_EQ(record.setupParams, "/m");
    EXPECT_EQ(record.showCommand, 0);
    EXPECT_TRUE(record.prettyProgress);
    EXPECT_TRUE(record.forwardResourceData);
    EXPECT_EQ(record.archivePath, "/data/payload.7z");
    EXPECT_FALSE(record.archiveIsLauncher);
    EXPECT_FALSE(record.archiveOffset);
    EXPECT_EQ(record.extractDir, "/x/out/");
    EXPECT_EQ(record.uiLevel, 2);
    EXPECT_EQ(record.productName, "Produkt");
    EXPECT_EQ(record.culture, "de-DE");
    EXPECT_EQ(record.overwriteAnswer, 3);
    EXPECT_TRUE(record.extractOnly && record.askTarget && record.cultureChosen &&
                record.showLanguageDialog && record.ownValuesFile);

    // Another culture falls back to main; a pretty value other than 1 is off.
    app.culture = "fr-FR";
    app.settings.Parse("[main]\nSetupFileName=main.exe\nSfxProgressPretty=2\n");
    const auto other = ComposeProgressDialogSettings(app);
    EXPECT_EQ(other.setupFile, "main.exe");
    EXPECT_FALSE(other.prettyProgress);
    EXPECT_EQ(other.showCommand, 1);
}

} // namespace
