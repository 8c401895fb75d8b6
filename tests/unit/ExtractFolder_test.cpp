// Extract-folder choice: sizes, the roomiest volume, the private folder and the folder questions.

#include "cptlib/SystemError.h"
#include "cptlib/localization/MemStringResources.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/Locale.h"
#include "cptlib/platform/Process.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ExtractFolder.h"
#include "launcher/TemporaryFolder.h"
#include "support/Files.h"
#include "support/Presenter.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using namespace sfx;
namespace fs = std::filesystem;

TEST(CompleteExtractOnlyFolder, NamesTheFolderAfterTheProgramNeverTheCurrentOne) {
    const std::string here = cptlib::platform::CurrentFolderPath();
    ASSERT_FALSE(here.empty());
    struct Case {
        std::string extractDir;
        std::string program;
        std::string expected;
    };
    const Case cases[] = {
        {"", "/opt/setup.run", here + "setup"},     {"", "/opt/setup", here + "setup-files"},
        {"", "/opt/.hidden", here + "extracted"},   {"", "/opt/..x", here + "extracted"},
        {"", "/opt/.hidden.run", here + ".hidden"}, {"out", "/opt/.hidden", here + "out"},
        {"/srv/out", "/opt/.hidden", "/srv/out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.program + " " + c.extractDir);
        EXPECT_EQ(CompleteExtractOnlyFolder(c.extractDir, c.program), c.expected);
    }
}

TEST(FormatByteSize, Table) {
    struct Case {
        std::uint64_t size;
        const char* text;
    };
    const Case cases[] = {
        {0, "0 KB"},
        {50, "0 KB"},
        {102, "0 KB"}, // 0.0996 KB
        {103, "0.1 KB"},
        {1048575, "1024.0 KB"},
        {1048576, "1.0 MB"},
        {1073741823, "1024.0 MB"},
        {1073741824, "1.00 GB"},
        {3221225472ull, "3.00 GB"},
        {1099511627776ull, "1.00 TB"},
        {5ull << 40, "5.00 TB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatByteSize(c.size), c.text) << c.size;
}

TEST(FormatByteSize, UnitTextsFromTheCallerAreFilledUp) {
    EXPECT_EQ(FormatByteSize(3221225472ull, {"KiB", "MiB", "GiB", "TiB"}), "3.00 GiB");
    EXPECT_EQ(FormatByteSize(2048, {"k"}), "2.0 k");
    // A missing unit text is empty, not a crash.
    EXPECT_EQ(FormatByteSize(1048576, {"k"}), "1.0 ");
}

// The number follows the locale that start-up selected.
TEST(FormatByteSize, DecimalSeparatorOfTheUserLocale) {
    testsupport::TempDir locales;
    const std::string command = "localedef -i de_DE -f UTF-8 " +
                                testsupport::ShellQuote((locales / "de_DE.UTF-8").string()) +
                                " >/dev/null 2>&1";
    if (testsupport::RunShell(command).status != 0)
        GTEST_SKIP() << "localedef cannot build de_DE here";
    const char* selected = nullptr;
    std::string text;
    {
        const testsupport::ScopedEnv locpath("LOCPATH", locales.path().string());
        selected = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        if (selected != nullptr)
            text = FormatByteSize(3221225472ull);
        std::setlocale(LC_NUMERIC, "C");
    }
    ASSERT_NE(selected, nullptr);
    EXPECT_EQ(text, "3,00 GB");
    EXPECT_EQ(FormatByteSize(3221225472ull), "3.00 GB");
}

// The user's separator comes from the environment's numeric locale, read without setting the
// process locale, so that numbers the process reads keep their C form.
TEST(FormatByteSize, DecimalSeparatorFromTheUsersEnvironment) {
    testsupport::TempDir locales;
    for (const char* name : {"de_DE", "en_US"}) {
        const std::string command =
            std::string("localedef -i ") + name + " -f UTF-8 " +
            testsupport::ShellQuote((locales / (std::string(name) + ".UTF-8")).string()) +
            " >/dev/null 2>&1";
        if (testsupport::RunShell(command).status != 0)
            GTEST_SKIP() << "localedef cannot build " << name << " here";
    }
    const testsupport::ScopedEnv locpath("LOCPATH", locales.path().string());
    struct Case {
        const char* all;
        const char* numeric;
        const char* lang;
        std::string separator;
    };
    const Case cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", ","},
        {nullptr, "de_DE.UTF-8", "en_US.UTF-8", ","},
        {nullptr, "en_US.UTF-8", "de_DE.UTF-8", "."},
        {"en_US.UTF-8", "de_DE.UTF-8", "de_DE.UTF-8", "."},
        {nullptr, nullptr, "C", "."},
        {nullptr, nullptr, nullptr, "."},
        // A locale the system lacks: the C form rather than nothing.
        {nullptr, nullptr, "xx_YY.UTF-8", "."},
    };
    const auto value = [](const char* text) {
        return text ? std::optional<std::string>(text) : std::nullopt;
    };
    for (const auto& c : cases) {
        testsupport::ScopedEnv env;
        env.Set("LC_ALL", value(c.all));
        env.Set("LC_NUMERIC", value(c.numeric));
        env.Set("LANG", value(c.lang));
        const std::string separator = cptlib::platform::UserDecimalSeparator();
        EXPECT_EQ(separator, c.separator) << (c.lang ? c.lang : "-");
        EXPECT_EQ(FormatByteSize(3221225472ull, {}, separator), "3" + c.separator + "00 GB");
        EXPECT_EQ(FormatByteSize(1572864, {"KiB", "MiB"}, separator), "1" + c.separator + "5 MiB");
        EXPECT_STREQ(std::localeconv()->decimal_point, ".");
    }
    EXPECT_EQ(cptlib::platform::DecimalSeparatorOf("de_DE.UTF-8"), ",");
    // A separator of more than one byte takes the place of the C runtime's.
    EXPECT_EQ(FormatByteSize(1572864, {"KiB", "MiB"}, "\u066B"), "1\u066B5 MiB");
}

TEST(MountTable, LocalDiskFileSystemsOnly) {
    const std::string table = "/dev/vda1 / ext4 rw,relatime 0 0\n"
                              "proc /proc proc rw,nosuid,nodev,noexec 0 0\n"
                              "server:/export /mnt/nfs nfs4 rw,vers=4.2 0 0\n"
                              "//nas/share /mnt/smb cifs rw 0 0\n"
                              "/dev/sdb1 /media/my\\040disk vfat rw,uid=1000 0 0\n"
                              "/dev/sdc1 /backup ext4 ro,relatime 0 0\n"
                              "tmpfs /run tmpfs rw,nosuid 0 0\n"
                              "sshfs#me@host: /mnt/ssh fuse.sshfs rw 0 0\n"
                              "garbage\n"
                              "/dev/nvme0n1p2 /data btrfs rw,ssd 0 0";
    const auto entries = cptlib::platform::ParseMountTable(table);
    ASSERT_EQ(entries.size(), 9u);
    EXPECT_EQ(entries[4].mountPoint, "/media/my disk");
    EXPECT_EQ(entries[4].device, "/dev/sdb1");
    EXPECT_TRUE(entries[5].readOnly);
    EXPECT_FALSE(entries[0].readOnly);
    EXPECT_EQ(entries[8].mountPoint, "/data");

    std::vector<std::string> local;
    for (const auto& entry : entries)
        if (cptlib::platform::IsLocalDiskFileSystem(entry.type))
            local.push_back(entry.mountPoint);
    EXPECT_EQ(local, (std::vector<std::string>{"/", "/media/my disk", "/backup", "/data"}));
}

class FolderQuestionTest : public ::testing::Test {
protected:
    void SetUp() override {
        strings.SetText("SelectTargetDir", "Choose destination location");
        strings.SetText("ChooseTempDir", "Need room (%s).");
        strings.SetText("KiB", "KB");
        strings.SetText("MiB", "MB");
        strings.SetText("GiB", "GB");
        strings.SetText("TiB", "TB");
        question.strings = &strings;
        question.productName = "Demo";
        question.pickFolder = [this](const std::string& initial, const std::string& title) {
            requests.emplace_back(initial, title);
            return picked;
        };
    }

    cptlib::MemStringResources strings;
    FolderQuestion question;
    std::vector<std::pair<std::string, std::string>> requests;
    std::string picked = "/data/chosen/";
};

TEST_F(FolderQuestionTest, TitleAndResultByMode) {
    std::string dir = "/old/";
    question.extractOnly = true;
    ASSERT_TRUE(AskTargetFolder(question, "/start/", dir));
    EXPECT_EQ(dir, "/data/chosen/");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].first, "/start/");
    EXPECT_EQ(requests[0].second, "Demo - Choose destination location");

    strings.SetText("SelectTargetDirAppTitle",
                    "[SelectTargetDir] for [ProductName] ([ProductName])");
    question.extractOnly = false;
    ASSERT_TRUE(AskTargetFolder(question, "/start/", dir));
    EXPECT_EQ(requests[1].second, "Choose destination location for Demo (Demo)");
    // The normal run gets a new random folder inside the picked one.
    EXPECT_TRUE(dir.starts_with("/data/chosen/vrn")) << dir;
    EXPECT_EQ(dir.size(), std::string("/data/chosen/").size() + 11);

    picked.clear();
    const std::string before = dir;
    EXPECT_FALSE(AskTargetFolder(question, "/start/", dir));
    EXPECT_EQ(dir, before);
}

TEST_F(FolderQuestionTest, DiskFullMessageThenChoice) {
    auto presenter = std::make_shared<testsupport::ScriptedPresenter>();
    cptlib::SetMessageBoxPresenter(presenter);

    std::string dir = "/tmp/vrnold/";
    ASSERT_TRUE(ChooseFolderAfterDiskFull(question, 1048576, dir));
    ASSERT_EQ(presenter->shown.size(), 1u);
    EXPECT_EQ(presenter->shown[0].content, "Need room (1.0 MB).");
    ASSERT_EQ(requests.size(), 1u);
    // The proposal is a folder of this machine with room.
    EXPECT_TRUE(cptlib::platform::CanWriteFolder(requests[0].first)) << requests[0].first;
    EXPECT_TRUE(dir.starts_with("/data/chosen/vrn"));

    presenter->reply = cptlib::kIdCancel;
    EXPECT_FALSE(ChooseFolderAfterDiskFull(question, 1, dir));
    EXPECT_EQ(requests.size(), 1u);
    question.uiLevel = 3;
    presenter->reply = cptlib::kIdOk;
    EXPECT_FALSE(ChooseFolderAfterDiskFull(question, 1, dir));
    EXPECT_EQ(presenter->shown.size(), 2u);
    cptlib::SetMessageBoxPresenter(nullptr);
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(PickFolderAtTerminal, AsksUntilAFolderIsNamed) {
    testsupport::TempDir scratch;
    fs::create_directories(scratch.path() / "sub dir");
    testsupport::WriteFile(scratch / "file", "x");
    const std::string root = scratch.path().string();
    const std::string relative =
        fs::relative(scratch.path() / "sub dir", cptlib::platform::CurrentFolderPath()).string();

    struct Case {
        std::string proposal;
        std::string input;
        std::string result;
        std::size_t notAFolder;      // "Not a folder" complaints
        std::size_t createQuestions; // offers to create a typed folder
        std::string made;            // a folder that must exist afterwards
    };
    const Case cases[] = {
        {"/start/", root + "\n", root + "/", 0, 0, ""},
        // A typed folder that does not exist is offered, declined; a file is no folder.
        {"/start/", root + "/typo\nn\n" + root + "/file\n" + root + "/sub dir/\n",
         root + "/sub dir/", 1, 1, ""},
        {"/start/", root + "/made\ny\n", root + "/made/", 0, 1, root + "/made"},
        {"/start/", root + "/deep/er\nyes\n", root + "/deep/er/", 0, 1, root + "/deep/er"},
        {"/start/", relative + "\n", cptlib::platform::CurrentFolderPath() + relative + "/", 0, 0,
         ""},
        // Enter takes the proposal and makes it where it is missing, without asking.
        {root + "/proposed/", "\n", root + "/proposed/", 0, 0, root + "/proposed"},
        {root + "/sub dir/", "  \n", root + "/sub dir/", 0, 0, ""},
        // A proposal that cannot be made says why and asks again.
        {root + "/file/below/", "\n", "", 0, 0, ""},
        // q cancels; a folder of that name is typed as ./q.
        {"/start/", "q\n", "", 0, 0, ""},
        {"/start/", " Q \n", "", 0, 0, ""},
        // The end of input at the creation question cancels.
        {"/start/", root + "/never\n", "", 0, 1, ""},
        {"/start/", "", "", 0, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.proposal + " | " + c.input);
        std::istringstream in(c.input);
        std::ostringstream out;
        EXPECT_EQ(PickFolderAtTerminal(&in, out, c.proposal, "Demo - Choose"), c.result)
            << out.str();
        EXPECT_NE(out.str().find("[Demo - Choose]"), std::string::npos);
        EXPECT_NE(out.str().find("type q to cancel"), std::string::npos) << out.str();
        EXPECT_EQ(Occurrences(out.str(), "Not a folder"), c.notAFolder) << out.str();
        EXPECT_EQ(Occurrences(out.str(), "does not exist. Create it?"), c.createQuestions)
            << out.str();
        if (!c.made.empty()) {
            EXPECT_TRUE(fs::is_directory(c.made));
        }
        EXPECT_EQ(out.str().find("Cancelled.") != std::string::npos, c.result.empty()) << out.str();
    }
    EXPECT_FALSE(fs::exists(root + "/typo"));
    EXPECT_FALSE(fs::exists(root + "/never"));
    // The reason beside the failure.
    std::istringstream in("\n");
    std::ostringstream out;
    PickFolderAtTerminal(&in, out, root + "/file/below/", "t");
    EXPECT_NE(out.str().find("could not be created: Not a directory"), std::string::npos)
        << out.str();
    EXPECT_EQ(PickFolderAtTerminal(nullptr, out, "/start/", "t"), "");
}

TEST(PickFolderAtTerminal, EnterTakesTheProposalShownInBrackets) {
    testsupport::TempDir scratch;
    const std::string proposal = scratch.path().string() + "/";
    struct Case {
        std::string proposal;
        std::string input;
        std::string result;
    };
    const Case cases[] = {
        {proposal, "\n", proposal},
        {"", "\n", ""},
        {proposal, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.proposal + "|" + c.input);
        std::istringstream in(c.input);
        std::ostringstream out;
        EXPECT_EQ(PickFolderAtTerminal(&in, out, c.proposal, "t"), c.result);
        if (!c.proposal.empty()) {
            EXPECT_NE(out.str().find("[" + c.proposal + "]"), std::string::npos) << out.str();
        }
        // A cancelled prompt says so.
        EXPECT_EQ(out.str().find("Cancelled.") != std::string::npos, c.result.empty()) << out.str();
    }
}

} // namespace
