// Stop signals at a terminal: Ctrl+C typed at a prompt, SIGTERM sent while a prompt waits, and
// Ctrl+C during the extraction of the silent levels. Real launcher files run on a
// pseudo-terminal; TMPDIR points into the test's folder so that what a run leaves there shows.

#include "support/PseudoTerminal.h"
#include "support/RunProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <random>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

std::size_t CountEntries(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        ++count;
    return count;
}

class StopSignals : public ::testing::Test {
protected:
    void SetUp() override {
        stub = SmallStub(dir.path());
        fs::create_directories(dir / "tmp");
        // The user's own folder, with a file that the archive carries too.
        WriteFile(dir / "mine/a.txt", "the user's own text\n");
        WriteFile(dir / "mine/notes.txt", "keep me\n");
        WriteFile(dir / "product/a.txt", "from the archive\n");
        WriteFile(dir / "product/setup.sh",
                  "#!/bin/sh\necho ran > " + Quote((dir / "ran").string()) + "\nexit 0\n");
        fs::permissions(dir / "product/setup.sh", fs::perms::owner_all);
    }

    fs::path Make(const std::string& name, const std::string& config) {
        WriteFile(dir / (name + ".cfg"), config);
        const fs::path out = dir / name;
        auto r = CreateLauncher(dir / (name + ".cfg"), dir / "product", out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    std::map<std::string, std::string> Environment() const {
        return {{"PATH", "/usr/bin:/bin"},
                {"HOME", dir.path().string()},
                {"LANG", "en_US.UTF-8"},
                {"TERM", "xterm"},
                {"TMPDIR", (dir / "tmp").string()},
                {"SFX_LOG", (dir / "log").string()}};
    }

    void Start(PseudoTerminal& terminal, const fs::path& launcher,
               std::vector<std::string> args = {}) {
        args.insert(args.begin(), launcher.string());
        terminal.Start(args, Environment(), dir.path().string());
    }

    // The run ends within two seconds with `status`, leaves nothing in the temporary folder and
    // the user's files as they were.
    void ExpectEnded(PseudoTerminal& terminal, int status, const std::string& what) {
        const int end = terminal.WaitForExit(2s);
        EXPECT_EQ(end, status) << what << "\n" << terminal.Output() << ReadFile(dir / "log");
        if (end < 0)
            terminal.WaitForExit(30s);
        // Ended as cancelled, not killed by the signal (which a shell would also show as 130).
        if (status == 130) {
            EXPECT_NE(ReadFile(dir / "log").find("Exit code: 130 (launcher code 1602)"),
                      std::string::npos)
                << what;
        }
        EXPECT_EQ(CountEntries(dir / "tmp"), 0u) << what;
        EXPECT_EQ(ReadFile(dir / "mine/a.txt"), "the user's own text\n") << what;
        EXPECT_EQ(ReadFile(dir / "mine/notes.txt"), "keep me\n") << what;
    }

    bool SetupRan() const { return fs::exists(dir / "ran"); }

    void Reset() {
        fs::remove(dir / "ran");
        fs::remove(dir / "log");
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(dir / "tmp", ec))
            fs::remove_all(entry.path(), ec);
    }

    TempDir dir;
    fs::path stub;
};

// How a prompt is left: its own cancel answer, Ctrl+C typed at it, or SIGTERM while it waits.
struct Leave {
    const char* name;
    std::string typed; // empty: SIGTERM
};

const Leave kCancelAnswer{"cancel answer", ""};
const Leave kCtrlC{"Ctrl+C", "\x03"};
const Leave kTerm{"SIGTERM", ""};

void LeavePrompt(PseudoTerminal& terminal, const Leave& leave, const std::string& cancelAnswer) {
    // The prompt reads once its text is out; no user types faster than this.
    std::this_thread::sleep_for(100ms);
    if (&leave == &kTerm)
        terminal.Signal(SIGTERM);
    else if (&leave == &kCancelAnswer)
        terminal.Type(cancelAnswer);
    else
        terminal.Type(leave.typed);
}

// Each prompt: Ctrl+C ends it exactly as its own cancel answer does; SIGTERM ends the run as
// cancelled (130), without running the setup.
TEST_F(StopSignals, PromptsEndAtCtrlCAndAtSigterm) {
    struct Case {
        const char* prompt;
        fs::path launcher;
        std::vector<std::string> args;
        std::string shown;        // the prompt's last words
        std::string cancelAnswer; // what the user types to cancel it
    };
    const Case cases[] = {
        {"language",
         Make("lang", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                      "[LANG_en-US]\nProductName=Demo\n[LANG_de-DE]\nProductName=Demo DE\n"),
         {},
         "q = Cancel: ",
         "q\n"},
        {"folder",
         Make("folder", "[main]\nProductName=Demo\nSetupFileName=setup.sh\nExtractOnly=1\n"
                        "DefaultExtractDir=" +
                            (dir / "mine").string() + "\n"),
         {},
         "Folder: [" + (dir / "mine").string(),
         // Ctrl+D: the end of input.
         "\x04"},
        {"overwrite",
         Make("over", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"),
         {"/x", (dir / "mine").string()},
         "Answer (y/n) [n]: ",
         "2\n"},
    };
    for (const Case& c : cases) {
        int cancelStatus = -2;
        for (const Leave* leave : {&kCancelAnswer, &kCtrlC, &kTerm}) {
            const std::string what = std::string(c.prompt) + " prompt, " + leave->name;
            SCOPED_TRACE(what);
            Reset();
            PseudoTerminal terminal;
            Start(terminal, c.launcher, c.args);
            ASSERT_TRUE(terminal.WaitFor(c.shown, 20s)) << terminal.Output();
            LeavePrompt(terminal, *leave, c.cancelAnswer);
            const int expected = leave == &kCancelAnswer ? terminal.WaitForExit(2s)
                                 : leave == &kCtrlC      ? cancelStatus
                                                         : 130;
            if (leave == &kCancelAnswer) {
                cancelStatus = expected;
                EXPECT_GE(cancelStatus, 0) << terminal.Output();
            }
            ExpectEnded(terminal, expected, what);
            EXPECT_FALSE(SetupRan());
        }
    }
}

// A stop signal at any moment of the start-up, before the language question reads or while it
// does, ends the run as cancelled; a SIGINT sent outside the read is not lost.
TEST_F(StopSignals, ASignalDuringTheStartUpEndsTheRunAsCancelled) {
    const fs::path launcher =
        Make("lang", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                     "[LANG_en-US]\nProductName=Demo\n[LANG_de-DE]\nProductName=Demo DE\n");
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        for (const auto delay : {0us, 300us, 1000us, 3000us, 20000us}) {
            const std::string what =
                std::string(strsignal(signal)) + " after " + std::to_string(delay.count()) + " us";
            SCOPED_TRACE(what);
            Reset();
            PseudoTerminal terminal;
            Start(terminal, launcher);
            // From this record on the run watches for stop signals.
            const auto deadline = std::chrono::steady_clock::now() + 20s;
            while (ReadFile(dir / "log").find("Start-up:") == std::string::npos &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(50us);
            std::this_thread::sleep_for(delay);
            terminal.Signal(signal);
            ExpectEnded(terminal, 130, what);
            EXPECT_FALSE(SetupRan());
        }
    }
}

// The cancel confirmation that Ctrl+C asks during the extraction, on a payload big enough to be
// caught while it is written.
class StopDuringExtraction : public StopSignals {
protected:
    static void SetUpTestSuite() {
        big_ = std::make_unique<TempDir>();
        const fs::path product = *big_ / "product";
        std::mt19937_64 random(7);
        for (int i = 0; i < 4; ++i) {
            std::string data(32 << 20, '\0');
            for (std::size_t j = 0; j + 8 <= data.size(); j += 8) {
                const std::uint64_t value = random();
                std::memcpy(&data[j], &value, 8);
            }
            WriteFile(product / ("part" + std::to_string(i) + ".bin"), data);
        }
        // Stored, so that making it is quick; unpacking it still takes a moment.
        RunProcess({"/usr/bin/7zz", "a", "-t7z", "-mx0", "-bso0", (*big_ / "big.7z").string(),
                    (product / ".").string()});
        fs::remove_all(product);
    }
    static void TearDownTestSuite() { big_.reset(); }

    fs::path MakeBig() {
        fs::copy_file(dir / "product/setup.sh", *big_ / "setup.sh",
                      fs::copy_options::overwrite_existing);
        RunProcess({"/usr/bin/7zz", "a", "-bso0", (*big_ / "big.7z").string(),
                    (*big_ / "setup.sh").string()});
        WriteFile(dir / "big.cfg", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
        const fs::path out = dir / "big";
        auto r = RunProcess({BinPath("sfxbuild"), "create", "--config", (dir / "big.cfg").string(),
                             "--archive", (*big_ / "big.7z").string(), "--stub", stub.string(),
                             "-o", out.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Waits until the extraction has begun writing into its temporary folder.
    bool WaitForExtraction() {
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (CountEntries(dir / "tmp") >= 2)
                return true;
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }

    static std::unique_ptr<TempDir> big_;
};

std::unique_ptr<TempDir> StopDuringExtraction::big_;

TEST_F(StopDuringExtraction, CancelConfirmationAtTheTerminal) {
    const fs::path launcher = MakeBig();
    struct Case {
        const char* name;
        std::string typed; // empty: `signal`, or nothing at all
        int signal;
        int status;
        bool setupRuns;
    } cases[] = {
        {"yes", "1\n", 0, 130, false},
        {"no", "2\n", 0, 0, true},
        // A second Ctrl+C, at the question, stops the run.
        {"Ctrl+C", "\x03", 0, 130, false},
        {"SIGTERM", "", SIGTERM, 130, false},
        {"SIGINT", "", SIGINT, 130, false},
        // Nobody answers: the end of the extraction closes the question, the setup starts.
        {"unanswered", "", 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        PseudoTerminal terminal;
        Start(terminal, launcher);
        ASSERT_TRUE(WaitForExtraction());
        terminal.Type("\x03");
        ASSERT_TRUE(terminal.WaitFor("Answer (y/n)", 10s)) << terminal.Output();
        EXPECT_NE(terminal.Output().find("Do you really want to cancel the installation?"),
                  std::string::npos);
        // At once: the extraction goes on meanwhile, and its end would close the question.
        // What is typed before the read begins waits for it.
        if (!c.typed.empty())
            terminal.Type(c.typed);
        else if (c.signal != 0)
            terminal.Signal(c.signal);
        // The rest of the extraction may take its time; the stop may not.
        const int end = terminal.WaitForExit(c.setupRuns ? 60s : 2s);
        EXPECT_EQ(end, c.status) << terminal.Output() << ReadFile(dir / "log");
        if (end < 0)
            terminal.WaitForExit(60s);
        EXPECT_EQ(CountEntries(dir / "tmp"), 0u);
        EXPECT_EQ(SetupRan(), c.setupRuns);
        // A stop signal (Ctrl+C too) may close the question, or end its read first.
        if (c.signal == 0 && c.typed != "\x03") {
            const bool closed = c.typed.empty();
            EXPECT_EQ(terminal.Output().find("The question was closed") != std::string::npos,
                      closed)
                << terminal.Output();
        }
        if (c.status == 130) {
            EXPECT_NE(ReadFile(dir / "log").find("Exit code: 130 (launcher code 1602)"),
                      std::string::npos);
        }
    }
}

// Where the confirmation cannot be shown, one Ctrl+C cancels.
TEST_F(StopDuringExtraction, OneCtrlCCancelsTheSilentLevels) {
    const fs::path launcher = MakeBig();
    for (const char* level : {"/q", "/qb"}) {
        SCOPED_TRACE(level);
        Reset();
        PseudoTerminal terminal;
        Start(terminal, launcher, {level});
        ASSERT_TRUE(WaitForExtraction());
        terminal.Type("\x03");
        ExpectEnded(terminal, 130, level);
        EXPECT_FALSE(SetupRan());
    }
}

} // namespace
