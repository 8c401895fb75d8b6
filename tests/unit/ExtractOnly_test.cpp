// The extract-only mode's question and closing message, and the folder's link.

#include "cptlib/Exceptions.h"
#include "cptlib/localization/MemStringResources.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ExtractOnly.h"
#include "launcher/TerminalProgressView.h"
#include "support/Presenter.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using namespace sfx;
namespace fs = std::filesystem;

TEST(FolderUrl, RoundTripAndEncoding) {
    struct Case {
        std::string path;
        std::string url;
    };
    const Case cases[] = {
        {"/data/setup/", "file:///data/setup/"},
        {"/a b/c%d#e?f/", "file:///a%20b/c%25d%23e%3Ff/"},
        {"/Gr\xC3\xBC\xC3\x9F"
         "e/x~y_z-1.2",
         "file:///Gr%C3%BC%C3%9Fe/x~y_z-1.2"},
        {"/", "file:///"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PathToUrl(c.path), c.url);
        EXPECT_EQ(UrlToPath(c.url), c.path);
    }
    EXPECT_THROW(PathToUrl("relative/dir"), cptlib::SystemError);
    for (const char* bad :
         {"http://host/x", "file://host/x", "file:///bad%2", "file:///bad%zz", "file://"})
        EXPECT_THROW(UrlToPath(bad), cptlib::SystemError) << bad;
}

TEST(FolderUrl, LinkTextOrThePlainFolder) {
    const testsupport::TempDir scratch;
    const fs::path folder = scratch / "sfx link";
    fs::create_directories(folder);
    const std::string name = folder.filename().string();
    EXPECT_EQ(ExtractFolderLinkText(folder.string() + "/"),
              "<LINK " + folder.string() + "/|" + PathToUrl(folder.string() + "/") + ">");
    EXPECT_EQ(GetDisplayName(folder.string()), name);
    fs::remove(folder);

    // A folder that cannot be reached, or whose name breaks the link syntax, stays plain.
    EXPECT_THROW(GetDisplayName(folder.string()), cptlib::SystemError);
    EXPECT_EQ(ExtractFolderLinkText(folder.string() + "/"), folder.string() + "/");
    const fs::path odd = scratch / "a|b>c";
    fs::create_directories(odd);
    EXPECT_EQ(ExtractFolderLinkText(odd.string()), odd.string());
    fs::remove(odd);
}

TEST(OverwriteQuestion, NamesTheFileAndOffersOverwriteAllOrCancel) {
    cptlib::MemStringResources strings;
    strings.SetText("OverwriteAllQuestion", "Alles?");
    strings.SetText("OverwriteAllButton", "&Alle");
    strings.SetText("Cancel", "Abbrechen");
    cptlib::SetAppName("Produkt");
    const auto box = MakeOverwriteQuestion("/x/y/readme.txt", strings);
    EXPECT_EQ(box.caption, "Produkt");
    EXPECT_EQ(box.mainInstruction, "The file exists.");
    EXPECT_EQ(box.content, "\"readme.txt\"\n\nAlles?");
    ASSERT_EQ(box.buttons.size(), 2u);
    EXPECT_EQ(box.buttons[0].id, cptlib::kIdOk);
    EXPECT_EQ(box.buttons[0].text, "&Alle");
    EXPECT_EQ(box.buttons[1].id, cptlib::kIdCancel);
    EXPECT_TRUE(box.buttons[1].isDefault);
    EXPECT_EQ(MakeOverwriteQuestion("/x/sub/", strings).content, "\"sub\"\n\nAlles?");
    // The headline in the table's language where it has one.
    strings.SetText("OverwriteFileExists", "Die Datei ist bereits vorhanden.");
    EXPECT_EQ(MakeOverwriteQuestion("/x/y/readme.txt", strings).mainInstruction,
              "Die Datei ist bereits vorhanden.");
}

TEST(TerminalProgressView, OneLineRedrawnInPlaceOnlyWhenAsked) {
    for (bool draw : {true, false}) {
        std::ostringstream out;
        {
            TerminalProgressView view(draw, nullptr, out);
            view.Create({});
            view.SetTitle("0 % Extracting...");
            view.Show(true);
            view.SetText("Preparing files for installation...");
            view.SetTitle("5 % Extracting...");
            view.SetTitle("5 % Extracting...");
            view.SetText("Go");
        }
        if (!draw) {
            EXPECT_EQ(out.str(), "");
            continue;
        }
        const std::string first = "0 % Extracting...";
        const std::string second = "0 % Extracting...  Preparing files for installation...";
        const std::string third = "5 % Extracting...  Preparing files for installation...";
        const std::string fourth = "5 % Extracting...  Go";
        // Each draw erases what a longer one before it left.
        const std::string erase = "\x1b[K";
        EXPECT_EQ(out.str(), "\r" + first + erase + "\r" + second + erase + "\r" + third + erase +
                                 "\r" + fourth + erase + "\n");
    }
}

TEST(TerminalProgressView, QuestionsAtThePromptOrDeclined) {
    auto presenter = std::make_shared<testsupport::ScriptedPresenter>();
    cptlib::SetMessageBoxPresenter(presenter);
    std::istringstream in("secret word\n");
    std::ostringstream out;
    TerminalProgressView view(true, &in, out);
    view.Show(true);
    view.SetTitle("1 % Extracting...");
    std::string password;
    EXPECT_TRUE(view.AskPassword(password));
    EXPECT_EQ(password, "secret word");
    // The progress line is left before the prompt.
    EXPECT_EQ(out.str(), "\r1 % Extracting...\x1b[K\nEnter password: ");
    EXPECT_FALSE(view.AskPassword(password));
    EXPECT_EQ(view.PickFolder("/", "t"), "");

    cptlib::MessageBoxContent success;
    success.content = "<LINK x|file:///x/>";
    view.ShowExtractSuccess(success, "/x/");
    ASSERT_EQ(presenter->shown.size(), 1u);
    EXPECT_EQ(presenter->shown[0].content, "/x/");
    presenter->reply = cptlib::kIdCancel;
    EXPECT_EQ(view.AskOverwrite({}), cptlib::kIdCancel);

    std::ostringstream quiet;
    TerminalProgressView nobody(false, nullptr, quiet);
    EXPECT_FALSE(nobody.AskPassword(password));
    cptlib::SetMessageBoxPresenter(nullptr);
}

} // namespace
