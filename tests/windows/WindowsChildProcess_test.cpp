// The setup's process on Windows: its command line as composed, its 32-bit exit code, a cancel
// that leaves nothing of it running, msiexec from the system folder, and a close request to the
// launcher reaching its stop watch.

#include "WindowsProcess.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/ChildProcess.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/win32/Wide.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using cptlib::platform::ChildProcess;
using cptlib::platform::StopSignal;
using cptlib::platform::StopSignalEvent;
namespace fs = std::filesystem;

std::string Utf8(const fs::path& path) {
    return cptlib::platform::Narrow(path.wstring());
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> SplitAtZeros(const std::string& bytes) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\0', start)) != std::string::npos; start = end + 1)
        parts.push_back(bytes.substr(start, end - start));
    return parts;
}

class ScratchFolder {
public:
    ScratchFolder() {
        path_ =
            fs::temp_directory_path() / ("childprocess-" + std::to_string(GetCurrentProcessId()) +
                                         "-" + std::to_string(GetTickCount64()));
        fs::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

TEST(WindowsChildProcess, ArgumentsReachTheProgramAsComposed) {
    struct Case {
        const char* parameters;
        std::vector<std::string> argv;
    };
    const Case cases[] = {
        {"a b", {"a", "b"}},
        {"\"with space\"  plain", {"with space", "plain"}},
        {R"(a\b "c\\" d\\)", {R"(a\b)", R"(c\)", R"(d\\)"}},
        {R"("say \"hi\"")", {R"(say "hi")"}},
        {"PROPERTY=\"value with space\"", {"PROPERTY=value with space"}},
        {"\"\" x", {"", "x"}},
        {"\xD0\x9F\xD1\x80\xD0\xB8 \"\xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC\"",
         {"\xD0\x9F\xD1\x80\xD0\xB8", "\xE6\x97\xA5\xE6\x9C\xAC \xC3\xBC"}},
    };
    const ScratchFolder scratch;
    const fs::path out = scratch.path() / "args.bin";
    const std::string program = Utf8(windows_test::ProgramFolder() / "win_echo_args.exe");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.parameters);
        fs::remove(out);
        ChildProcess child;
        ASSERT_EQ(child.StartCommand(program, "\"" + Utf8(out) + "\" " + c.parameters, ""), 0u);
        const auto status = child.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 0);
        EXPECT_EQ(SplitAtZeros(ReadAll(out)), c.argv);
    }
}

// A program that reads its own command line (msiexec does) sees the parameters as written, not
// split and quoted again.
TEST(WindowsChildProcess, TheParameterStringIsNotRequoted) {
    const ScratchFolder scratch;
    const fs::path out = scratch.path() / "line.txt";
    SetEnvironmentVariableW(L"COMMAND_LINE_FILE", out.wstring().c_str());
    const std::string program = Utf8(windows_test::ProgramFolder() / "win_command_line.exe");
    const std::string parameters = "/i  \"x y.msi\" PROP=\"a b\" /qn";
    ChildProcess child;
    ASSERT_EQ(child.StartCommand(program, parameters, ""), 0u);
    ASSERT_TRUE(child.Wait().has_value());
    SetEnvironmentVariableW(L"COMMAND_LINE_FILE", nullptr);
    EXPECT_EQ(ReadAll(out), "\"" + program + "\" " + parameters);
}

TEST(WindowsChildProcess, ABareNameOrAMissingFileIsNotStarted) {
    ChildProcess bare;
    EXPECT_EQ(bare.StartCommand("win_exit_with.exe", "0", ""), cptlib::kErrorFileNotFound);
    EXPECT_FALSE(bare.Started());
    const ScratchFolder scratch;
    ChildProcess missing;
    EXPECT_EQ(missing.StartCommand(Utf8(scratch.path() / "none.exe"), "", ""),
              cptlib::kErrorFileNotFound);
    EXPECT_FALSE(missing.Wait().has_value());
}

TEST(WindowsChildProcess, TheWaitGivesTheWholeExitCode) {
    const std::string program = Utf8(windows_test::ProgramFolder() / "win_exit_with.exe");
    for (const std::uint32_t code : {0u, 3010u, 0xC0000005u, 0xFFFFFFFFu}) {
        ChildProcess child;
        ASSERT_EQ(child.StartCommand(program, std::to_string(code), ""), 0u);
        const auto status = child.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(static_cast<std::uint32_t>(*status), code);
        // Once ended, the program is not awaited again.
        EXPECT_FALSE(child.Wait().has_value());
    }
}

TEST(WindowsChildProcess, TheWorkingFolderIsTheOneAskedFor) {
    const ScratchFolder scratch;
    const fs::path out = scratch.path() / "args.bin";
    ChildProcess child;
    // A relative output name lands in the working folder.
    ASSERT_EQ(child.StartCommand(Utf8(windows_test::ProgramFolder() / "win_echo_args.exe"),
                                 "args.bin here", Utf8(scratch.path())),
              0u);
    ASSERT_TRUE(child.Wait().has_value());
    EXPECT_EQ(SplitAtZeros(ReadAll(out)), std::vector<std::string>{"here"});
}

// Starts win_setup_tree in `mode` and opens its helper, whose id it writes.
HANDLE StartSetupTree(ChildProcess& child, const fs::path& pidFile, const char* mode) {
    const std::string program = Utf8(windows_test::ProgramFolder() / "win_setup_tree.exe");
    EXPECT_EQ(child.StartCommand(program, "\"" + Utf8(pidFile) + "\" " + mode, ""), 0u);
    for (int i = 0; i < 200 && !fs::exists(pidFile); ++i)
        Sleep(50);
    const DWORD helperId = static_cast<DWORD>(std::stoul(ReadAll(pidFile)));
    return OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, helperId);
}

TEST(WindowsChildProcess, ACancelledSetupClosesAndTakesWhatItStartedAlong) {
    struct Case {
        const char* mode;
        // A setup with a window closes when asked (its own code); one that ignores everything
        // is ended with the cancel's.
        std::uint32_t exitCode;
    };
    for (const Case c : {Case{"window", 7u}, Case{"stubborn", 1602u}}) {
        SCOPED_TRACE(c.mode);
        const ScratchFolder scratch;
        ChildProcess child;
        const HANDLE helper = StartSetupTree(child, scratch.path() / "helper.pid", c.mode);
        ASSERT_NE(helper, nullptr);
        // Still running before the cancel: the helper is not merely short-lived.
        EXPECT_EQ(WaitForSingleObject(helper, 200), static_cast<DWORD>(WAIT_TIMEOUT));
        child.ForwardStopSignal(StopSignal::Terminate, false);
        const auto status = child.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(static_cast<std::uint32_t>(*status), c.exitCode);
        EXPECT_EQ(WaitForSingleObject(helper, 5000), static_cast<DWORD>(WAIT_OBJECT_0));
        CloseHandle(helper);
    }
}

TEST(WindowsChildProcess, AStopBeforeTheStartCancelsRightAfterIt) {
    const ScratchFolder scratch;
    ChildProcess child;
    child.ForwardStopSignal(StopSignal::Interrupt, false);
    const HANDLE helper = StartSetupTree(child, scratch.path() / "helper.pid", "window");
    ASSERT_NE(helper, nullptr);
    ASSERT_TRUE(child.Wait().has_value());
    EXPECT_EQ(WaitForSingleObject(helper, 15000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(helper);
}

// A normal end leaves what the setup started running: the product it offers to start at its end.
TEST(WindowsChildProcess, WithoutACancelTheSetupsHelperOutlivesIt) {
    const ScratchFolder scratch;
    HANDLE helper = nullptr;
    {
        ChildProcess child;
        helper = StartSetupTree(child, scratch.path() / "helper.pid", "window");
        ASSERT_NE(helper, nullptr);
        // The setup closes by itself, not through a cancel.
        const HWND window = FindWindowW(L"setup_tree", nullptr);
        ASSERT_NE(window, nullptr);
        PostMessageW(window, WM_CLOSE, 0, 0);
        const auto status = child.Wait();
        ASSERT_TRUE(status.has_value());
        EXPECT_EQ(*status, 7);
    }
    EXPECT_EQ(WaitForSingleObject(helper, 500), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(helper, 0);
    CloseHandle(helper);
}

class CurrentFolder {
public:
    explicit CurrentFolder(const fs::path& folder) : saved_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~CurrentFolder() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

TEST(WindowsProgramSearch, MsiexecComesFromTheSystemFolderNotTheCurrentOne) {
    const ScratchFolder scratch;
    std::ofstream(scratch.path() / "msiexec.exe") << "planted";
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    wchar_t savedPath[32768];
    const DWORD pathLength = GetEnvironmentVariableW(L"PATH", savedPath, 32768);
    // The current folder and a relative entry come first in PATH, the way "." is often put in.
    SetEnvironmentVariableW(L"PATH", (L".;planted;" + std::wstring(savedPath, pathLength)).c_str());
    std::string found;
    std::string foundWithExtension;
    {
        const CurrentFolder inside(scratch.path());
        found = cptlib::platform::FindProgram("msiexec");
        foundWithExtension = cptlib::platform::FindProgram("msiexec.exe");
        EXPECT_EQ(cptlib::platform::FindProgram("msiexec", ".;planted"), "");
    }
    SetEnvironmentVariableW(L"PATH", std::wstring(savedPath, pathLength).c_str());
    const fs::path expected = fs::path(std::wstring(system, length)) / "msiexec.exe";
    EXPECT_TRUE(fs::equivalent(fs::path(cptlib::platform::Widen(found)), expected)) << found;
    EXPECT_TRUE(fs::equivalent(fs::path(cptlib::platform::Widen(foundWithExtension)), expected))
        << foundWithExtension;
    EXPECT_EQ(cptlib::platform::FindProgram("no-such-program-here"), "");
}

TEST(WindowsSignalWatch, ACloseRequestToTheProcessIsATerminate) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<StopSignalEvent> events;
    cptlib::platform::SignalWatch watch([&](const StopSignalEvent& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
        arrived.notify_all();
    });
    const std::uint32_t asked =
        windows_test::RunAndWait(windows_test::ProgramFolder() / "win_close_windows.exe",
                                 std::to_string(GetCurrentProcessId()));
    EXPECT_GE(asked, 1u);
    std::unique_lock lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return !events.empty(); }));
    EXPECT_EQ(events.front().kind, StopSignal::Terminate);
    EXPECT_FALSE(events.front().fromTerminal);
}

} // namespace
