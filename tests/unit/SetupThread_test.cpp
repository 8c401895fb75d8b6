// The setup worker: starts the composed command, waits for it, passes signals on and cleans
// up.

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "launcher/SetupThread.h"
#include "launcher/SfxMessages.h"
#include "support/Files.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

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
using testsupport::TempDir;
using testsupport::WriteFile;

void WriteScript(const fs::path& path, const std::string& body) {
    testsupport::WriteExecutable(path, "#!/bin/sh\n" + body);
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
    testsupport::Watchdog watchdog;
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
    testsupport::Watchdog watchdog;
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
        testsupport::WriteExecutable(extractDir + "tool.exe", "MZ not for this system");
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
            EXPECT_NE(std::string(e.what()).find("The file could not be started"), std::string::npos);
            const auto* path = boost::get_error_info<cptlib::tag_errinfo_path>(e);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(path->string(), c.file);
        }
    }
}

TEST(CSetupThread, StopSignalsReachTheSetupWhichDecidesTheStatus) {
    testsupport::Watchdog watchdog;
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
