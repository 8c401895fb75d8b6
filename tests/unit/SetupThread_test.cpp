// Starting the setup: which program with which parameters, and the worker that starts it,
// waits for it, passes signals on and cleans up.

#include "Watchdog.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "launcher/ProgressDialogSettings.h"
#include "launcher/SetupThread.h"
#include "launcher/SfxMessages.h"
#include "support/RunProcess.h"

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

namespace {

using namespace sfx;
namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

void WriteScript(const fs::path& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

TEST(AppendSwitch, QuotesSoThatTheSetupReadsTheSameText) {
    struct Case {
        std::string item;
        std::string quoted;
    };
    const Case cases[] = {
        {"-m", "-m"},
        {"", "\"\""},
        {"/tmp/vrnabc/SetupValues.dat", "/tmp/vrnabc/SetupValues.dat"},
        {"/tmp/my folder/SetupValues.dat", "\"/tmp/my folder/SetupValues.dat\""},
        {"a\tb", "\"a\tb\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\a b\\", "\"C:\\a b\\\\\""},
        {"ends\\", "ends\\"},
        // Backslashes before a quote double, or the reader would take them for an escape.
        {"a\\\"b", "a\\\\\\\"b"},
        {"two\\\\ trailing\\\\", "\"two\\\\ trailing\\\\\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        std::string switches;
        AppendSwitch(switches, c.item);
        EXPECT_EQ(switches, c.quoted);
        std::string pair = "-x";
        AppendSwitch(pair, c.item);
        EXPECT_EQ(cptlib::SplitCommandLine(pair), (std::vector<std::string>{"-x", c.item}));
    }
}

class ComposeSetupLaunchTest : public ::testing::Test {
protected:
    void SetUp() override {
        extractDir = (temp / "vrnaaaaaaaa").string() + "/";
        WriteScript(extractDir + "setup.sh", "exit 0\n");
        WriteScript(extractDir + "product/inner.sh", "exit 0\n");
        fs::create_directories(extractDir + "both");
        WriteScript(extractDir + "product/both", "exit 0\n");
        WriteFile(extractDir + "Setup.MS_", "db");
        WriteScript(temp / "bin/msiexec", "exit 0\n");
        settings.extractDir = extractDir;
        settings.culture = "de-DE";
    }
    TempDir temp;
    std::string extractDir;
    ProgressDialogSettings settings;
};

TEST_F(ComposeSetupLaunchTest, ResolvesTheFileAndBuildsTheParameters) {
    struct Case {
        const char* name;
        std::string setupFile;
        std::string setupParams;
        bool forward;
        bool ownValuesFile;
        bool cultureChosen;
        std::string file;       // relative to the extract folder unless absolute
        std::string parameters; // "$" stands for the extract folder
        bool valuesFile;
    };
    const Case cases[] = {
        {"relative name", "setup.sh", "", false, false, false, "setup.sh", "", false},
        {"configured parameters as they are", "setup.sh", "/S \"x y\"", false, false, false,
         "setup.sh", "/S \"x y\"", false},
        {"missing name found under product/", "inner.sh", "", false, false, false,
         "product/inner.sh", "", false},
        {"a folder of that name falls back too", "both", "", false, false, false, "product/both",
         "", false},
        {"absolute name taken as it is", "/opt/tool/run", "-q", false, false, false,
         "/opt/tool/run", "-q", false},
        {"forwarding adds the values file", "setup.sh", "/S", true, false, false, "setup.sh",
         "-m $SetupValues.dat /S", true},
        {"and the culture when it was chosen", "setup.sh", "", true, false, true, "setup.sh",
         "-m $SetupValues.dat /l de-DE", true},
        {"own values file: no -m", "setup.sh", "", true, true, true, "setup.sh", "/l de-DE", false},
        {"installer database through msiexec", "Setup.MS_", "/qn", true, false, true, "@msiexec",
         "/i $Setup.MS_ /qn", false},
    };
    const ScopedEnv path("PATH", (temp / "bin").string() + ":/usr/bin:/bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.setupFile = c.setupFile;
        settings.setupParams = c.setupParams;
        settings.forwardResourceData = c.forward;
        settings.ownValuesFile = c.ownValuesFile;
        settings.cultureChosen = c.cultureChosen;
        settings.showLanguageDialog = true;
        const SetupLaunchInfo info = ComposeSetupLaunch(settings, "/media/launcher");
        std::string file = c.file;
        if (file == "@msiexec")
            file = (temp / "bin/msiexec").string();
        else if (file[0] != '/')
            file = extractDir + file;
        EXPECT_EQ(info.setupFile, file);
        std::string parameters = c.parameters;
        for (std::size_t at; (at = parameters.find('$')) != std::string::npos;)
            parameters.replace(at, 1, extractDir);
        EXPECT_EQ(info.parameters, parameters);
        EXPECT_EQ(info.valuesFile, c.valuesFile ? extractDir + "SetupValues.dat" : "");
        EXPECT_EQ(info.extractDir, extractDir);
        EXPECT_EQ(info.programFile, fs::path("/media/launcher"));
    }
}

TEST_F(ComposeSetupLaunchTest, AFolderWithASpaceIsQuotedAndAMissingInstallerIsNamedBare) {
    const std::string spaced = (temp / "my folder").string() + "/";
    WriteFile(spaced + "setup.msi", "db");
    settings.extractDir = spaced;
    settings.setupFile = "setup.msi";
    const ScopedEnv path("PATH", (temp / "nothing-here").string());
    const SetupLaunchInfo info = ComposeSetupLaunch(settings, "/media/launcher");
    EXPECT_EQ(info.setupFile, "msiexec");
    EXPECT_EQ(info.parameters, "/i \"" + spaced + "setup.msi\"");
}

// Runs a setup worker to its end, collecting what it reports.
struct Reports {
    std::vector<cptlib::MessageId> ids;
    cptlib::WParam exitCode = 0;
    cptlib::LParam status = -1;
};

Reports RunSetup(CSetupThread& thread, SetupLaunchInfo info,
                 const std::function<void()>& whenHidden = {}) {
    Reports reports;
    bool done = false;
    cptlib::MessageInbox inbox([&](const cptlib::Message& message) {
        reports.ids.push_back(message.id);
        if (message.id == WM_SFX_HIDE && whenHidden)
            whenHidden();
        if (message.id == WM_SFX_SETUP_DONE) {
            reports.exitCode = message.wParam;
            reports.status = message.lParam;
            done = true;
        }
        return cptlib::LResult{0};
    });
    info.notifyWindow = inbox.Handle();
    EXPECT_TRUE(thread.Start(info));
    while (!done && inbox.ProcessNext()) {
    }
    thread.Wait();
    return reports;
}

TEST(CSetupThread, RunsTheSetupInItsFolderAndPassesItsStatusOn) {
    testutil::Watchdog watchdog;
    TempDir temp;
    const std::string extractDir = (temp / "vrnbbbbbbbb").string() + "/";
    const std::string record = (temp / "record").string();
    WriteScript(extractDir + "setup.sh", "pwd > '" + record +
                                             "'\nfor a in \"$@\"; do echo \"[$a]\" >> '" + record +
                                             "'; done\nexit 42\n");
    SetupLaunchInfo info;
    info.extractDir = extractDir;
    info.setupFile = extractDir + "setup.sh";
    info.parameters = "-m \"a b\" \"\" end\\";
    CSetupThread thread;
    const Reports reports = RunSetup(thread, info);
    EXPECT_EQ(reports.ids, (std::vector<cptlib::MessageId>{WM_SFX_HIDE, WM_SFX_SETUP_DONE}));
    EXPECT_EQ(reports.status, kSetupFinished);
    EXPECT_EQ(reports.exitCode, 42u);
    EXPECT_EQ(ReadFile(record),
              extractDir.substr(0, extractDir.size() - 1) + "\n[-m]\n[a b]\n[]\n[end\\]\n");
    EXPECT_FALSE(fs::exists(extractDir));
    EXPECT_FALSE(thread.StoredException());
}

TEST(CSetupThread, AProgramThatCannotStartIsAStoredFailureAndTheFolderStillGoes) {
    testutil::Watchdog watchdog;
    TempDir temp;
    const std::string extractDir = (temp / "vrncccccccc").string() + "/";
    fs::create_directories(extractDir);
    struct Case {
        const char* name;
        std::string file;
        std::uint32_t code;
    };
    WriteFile(extractDir + "tool.exe", "MZ not for this system");
    const Case cases[] = {
        {"missing", extractDir + "product/setup.exe", 2},
        {"not a program for this system", extractDir + "tool.exe", 193},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(extractDir);
        WriteFile(extractDir + "tool.exe", "MZ not for this system");
        fs::permissions(extractDir + "tool.exe", fs::perms::owner_all);
        SetupLaunchInfo info;
        info.extractDir = extractDir;
        info.setupFile = c.file;
        CSetupThread thread;
        const Reports reports = RunSetup(thread, info);
        EXPECT_EQ(reports.ids, (std::vector<cptlib::MessageId>{WM_SFX_SETUP_DONE}));
        EXPECT_EQ(reports.status, kSetupFailed);
        EXPECT_EQ(reports.exitCode, 0u);
        EXPECT_FALSE(fs::exists(extractDir));
        ASSERT_TRUE(thread.StoredException());
        try {
            std::rethrow_exception(thread.StoredException());
        } catch (const std::system_error& e) {
            EXPECT_EQ(e.code().value(), static_cast<int>(c.code));
            EXPECT_NE(std::string(e.what()).find("ShellExecuteEx failed"), std::string::npos);
            const auto* path = boost::get_error_info<cptlib::tag_errinfo_path>(e);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(path->string(), c.file);
        }
    }
}

TEST(CSetupThread, StopSignalsReachTheSetupWhichDecidesTheStatus) {
    testutil::Watchdog watchdog;
    TempDir temp;
    const std::string extractDir = (temp / "vrndddddddd").string() + "/";
    using cptlib::platform::StopSignal;
    struct Case {
        StopSignal kind;
        std::uint32_t trapped; // the setup's own answer
        std::uint32_t killed;  // ended by the signal itself
    };
    for (const Case c :
         {Case{StopSignal::Terminate, 7, 128 + 15}, Case{StopSignal::Hangup, 9, 128 + 1},
          Case{StopSignal::Interrupt, 11, 128 + 2}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        SetupLaunchInfo info;
        info.extractDir = extractDir;
        info.setupFile = extractDir + "setup.sh";

        // Passed on before the program runs, the signal reaches it right after its start.
        WriteScript(extractDir + "setup.sh", "while :; do sleep 0.02; done\n");
        CSetupThread thread;
        thread.ForwardStopSignal(c.kind, false);
        const Reports early = RunSetup(thread, info);
        EXPECT_EQ(early.exitCode, c.killed);
        EXPECT_EQ(early.status, kSetupFinished);
        EXPECT_FALSE(fs::exists(extractDir));

        // The script announces that its traps are set before it is signalled.
        const std::string ready = (temp / "ready").string();
        fs::remove(ready);
        WriteScript(extractDir + "setup.sh",
                    "trap 'exit 7' TERM\ntrap 'exit 9' HUP\ntrap 'exit 11' INT\n: > '" + ready +
                        "'\nwhile :; do sleep 0.02; done\n");
        CSetupThread again;
        const Reports late = RunSetup(again, info, [&] {
            while (!fs::exists(ready))
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            // The terminal's signals have reached the whole group already.
            again.ForwardStopSignal(c.kind, true);
            again.ForwardStopSignal(c.kind, false);
        });
        EXPECT_EQ(late.exitCode, c.trapped);
        EXPECT_FALSE(fs::exists(extractDir));
    }
}

} // namespace
