// Launcher files with windows: under a virtual X server (Xvfb) the GUI module is loaded from
// the launcher's own file and its dialogs are driven with xdotool; where no window can be
// opened (no display, a display that refuses, window libraries that cannot be loaded) the run
// goes on at the terminal, and a silent run never touches the window libraries at all.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// A virtual X server on a free display, ended with the object.
class XvfbServer {
public:
    XvfbServer() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            return;
        // The write end becomes descriptor 3 of the server.
        cptlib::platform::SpawnRequest request;
        request.program = "/usr/bin/Xvfb";
        request.arguments = {"-displayfd", "3",       "-nolisten", "tcp",
                             "-noreset",   "-screen", "0",         "1024x768x24"};
        request.input = cptlib::platform::Stream::Null();
        request.output = cptlib::platform::Stream::Null();
        request.error = cptlib::platform::Stream::Null();
        request.descriptors = {fds[1]};
        const int rc = cptlib::platform::Spawn(request, pid_);
        ::close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(fds[0]);
            return;
        }
        // The server writes its display number when it accepts connections.
        std::string number;
        pollfd fd{fds[0], POLLIN, 0};
        char c;
        while (::poll(&fd, 1, 20000) > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(fds[0]);
        if (!number.empty())
            display_ = ":" + number;
    }
    ~XvfbServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            cptlib::platform::WaitForProcess(pid_);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;
    const std::string& Display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

class Gui : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists("/usr/bin/Xvfb")) << "Xvfb is needed (package xvfb)";
        ASSERT_TRUE(fs::exists("/usr/bin/xdotool")) << "xdotool is needed (package xdotool)";
        const fs::path stub = SmallStub(dir.path());
        // The setup records that it ran and with which arguments.
        WriteExecutable(dir / "product/setup.exe", "#!/bin/sh\necho \"$@\" > " +
                                                       ShellQuote((dir / "ran").string()) +
                                                       "\nexit 0\n");
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo Product\nSetupFileName=setup.exe\n"
                                      "[LANG_en-US]\nProductName=Demo Product\n"
                                      "[LANG_de-DE]\nProductName=Demo Produkt\n");
        launcher = dir / "demo-setup";
        auto r = CreateLauncher(dir / "config.txt", dir / "product", launcher, stub);
        ASSERT_EQ(r.status, 0) << r.err;

        // Window libraries that the loader finds first and cannot load: as on a machine
        // without them, but the launcher's own libraries are still there.
        for (const char* name : {"libQt6Core.so.6", "libQt6Gui.so.6", "libQt6Widgets.so.6",
                                 "libQt6DBus.so.6", "libxcb.so.1"})
            WriteFile(dir / "no-qt" / name, "not a library\n");
    }

    // The launcher with `env` on top of a plain environment without any display; it is ended
    // after a minute should a window wait for nobody.
    ProcessResult Run(std::vector<std::string> args, std::map<std::string, std::string> env,
                      std::vector<std::string> wrapper = {}) {
        fs::remove(dir / "ran");
        fs::remove(dir / "log");
        std::map<std::string, std::string> full = {
            {"LANG", "en_US.UTF-8"}, {"LC_ALL", ""},          {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"SFX_LOG", (dir / "log").string()},
            {"XDG_RUNTIME_DIR", ""}};
        for (const auto& [key, value] : env)
            full[key] = value;
        args.insert(args.begin(), {"/usr/bin/timeout", "-s", "KILL", "60", launcher.string()});
        args.insert(args.begin(), wrapper.begin(), wrapper.end());
        return RunProcess(args, full, dir.path().string());
    }

    std::string Log() const { return ReadFile(dir / "log"); }
    bool SetupRan() const { return fs::exists(dir / "ran"); }

    // Sends `key` (key names separated by spaces) to the visible window named `name` on
    // `display` each time it is found, until Finish: a key that arrives before the window takes
    // input is lost, and a window between map and focus may briefly not be found.
    class KeyPresser {
    public:
        KeyPresser(std::string display, std::string name, std::string key) {
            worker_ = std::async(std::launch::async, [this, display, name, key] {
                const std::map<std::string, std::string> env = {{"DISPLAY", display}};
                int sent = 0;
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(50);
                while (!stop_ && std::chrono::steady_clock::now() < deadline) {
                    auto found = RunProcess(
                        {"/usr/bin/xdotool", "search", "--onlyvisible", "--name", name}, env);
                    lastSearch = std::to_string(found.status) + " " + found.out + found.err;
                    if (found.status == 0) {
                        const std::string window = found.out.substr(0, found.out.find('\n'));
                        // Without --sync, which waits for a focus change that does not come
                        // when the window took the focus itself.
                        std::vector<std::string> command = {
                            "/usr/bin/timeout", "10",   "/usr/bin/xdotool",
                            "windowfocus",      window, "key"};
                        std::istringstream keys(key);
                        for (std::string name; keys >> name;)
                            command.push_back(name);
                        if (RunProcess(command, env).status == 0)
                            ++sent;
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                }
                return sent;
            });
        }
        ~KeyPresser() { Finish(); }
        KeyPresser(const KeyPresser&) = delete;
        KeyPresser& operator=(const KeyPresser&) = delete;
        // Stops and returns how many times the key was sent.
        int Finish() {
            stop_ = true;
            if (worker_.valid())
                sent_ = worker_.get();
            return sent_;
        }

        // What the last search for the window gave.
        std::string lastSearch;

    private:
        std::atomic<bool> stop_{false};
        int sent_ = 0;
        std::future<int> worker_;
    };

    TempDir dir;
    fs::path launcher;
};

// A launcher file runs on machines without Qt, Boost or libarchive: the stub needs only the C
// and C++ runtime.
TEST_F(Gui, StubNeedsOnlyTheRuntimeLibraries) {
    auto r = RunProcess({"/usr/bin/readelf", "-d", BinPath("sfxstub")});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::regex needed(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    int count = 0;
    for (std::sregex_iterator it(r.out.begin(), r.out.end(), needed), end; it != end; ++it) {
        ++count;
        const std::string library = (*it)[1];
        const bool runtime = library.starts_with("libc.so") || library.starts_with("libm.so") ||
                             library.starts_with("libstdc++.so") ||
                             library.starts_with("libgcc_s.so");
        EXPECT_TRUE(runtime) << library << " in\n" << r.out;
    }
    EXPECT_GT(count, 0) << r.out;
}

TEST_F(Gui, LanguageDialogProgressAndSetupUnderXvfb) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    KeyPresser press(x.Display(), "Installation Language", "Return");
    auto r = Run({}, {{"DISPLAY", x.Display()}});
    EXPECT_GT(press.Finish(), 0) << "no language dialog: " << press.lastSearch;
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_TRUE(SetupRan()) << Log();
    const std::string log = Log();
    EXPECT_NE(log.find("GUI module loaded."), std::string::npos) << log;
    EXPECT_NE(log.find("Progress window from the GUI module."), std::string::npos) << log;
    EXPECT_EQ(log.find("not used"), std::string::npos) << log;
    // Qt's own chatter goes to the log, not onto the terminal.
    EXPECT_EQ(r.err, "");
}

TEST_F(Gui, CancelledLanguageDialogEndsAsCancelled) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    KeyPresser press(x.Display(), "Installation Language", "Escape");
    auto r = Run({}, {{"DISPLAY", x.Display()}});
    EXPECT_GT(press.Finish(), 0) << "no language dialog: " << press.lastSearch;
    EXPECT_EQ(r.status, 130) << r.err << Log(); // 1602
    EXPECT_FALSE(SetupRan());
}

TEST_F(Gui, HelpBoxIsAWindow) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    KeyPresser press(x.Display(), "Setup Self-Extractor", "Return");
    auto r = Run({"/?"}, {{"DISPLAY", x.Display()}});
    EXPECT_GT(press.Finish(), 0) << "no help box: " << press.lastSearch;
    EXPECT_EQ(r.status, 0) << r.err << Log();
    // Shown in the window, so not as text.
    EXPECT_EQ(r.err.find("Usage: "), std::string::npos) << r.err;
}

TEST_F(Gui, WithoutAUsableDisplayTheRunGoesOnAtTheTerminal) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    const std::string noQt = (dir / "no-qt").string();
    struct Case {
        std::map<std::string, std::string> env;
        std::string reason;
    } cases[] = {
        {{}, "no display"},
        // A display number nobody serves: Qt would end the process here.
        {{{"DISPLAY", ":" + std::to_string(900 + getpid() % 90)}}, "cannot be opened"},
        {{{"DISPLAY", x.Display()}, {"LD_LIBRARY_PATH", noQt}}, "the module cannot be loaded"},
        // A platform without a screen: a dialog there would wait for ever.
        {{{"QT_QPA_PLATFORM", "offscreen"}}, "\"offscreen\" shows no window"},
    };
    for (const Case& c : cases) {
        // /qb: the progress window level; the language dialog is not asked for.
        auto r = Run({"/qb"}, c.env);
        EXPECT_EQ(r.status, 0) << c.reason << "\n" << r.err << Log();
        EXPECT_TRUE(SetupRan()) << c.reason;
        const std::string log = Log();
        EXPECT_NE(log.find("GUI module not used: "), std::string::npos) << log;
        EXPECT_NE(log.find(c.reason), std::string::npos) << log;
        EXPECT_EQ(log.find("GUI module loaded."), std::string::npos) << log;
    }
}

TEST_F(Gui, MissingPlatformPluginFallsBackInsteadOfEndingTheProcess) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    auto query = RunProcess({"/usr/bin/qtpaths6", "--query", "QT_INSTALL_PLUGINS"});
    ASSERT_EQ(query.status, 0) << query.err;
    const std::string platforms = query.out.substr(0, query.out.find('\n')) + "/platforms";
    ASSERT_TRUE(fs::is_directory(platforms)) << platforms;
    // The Qt libraries are there, their platform plugins not: an empty file system over the
    // plugin folder, in a mount namespace of the launcher's own.
    const std::vector<std::string> hidePlugins = {
        "/usr/bin/unshare", "-rm", "/bin/sh", "-c", "mount -t tmpfs none \"$0\" && exec \"$@\"",
        platforms};
    if (RunProcess({"/usr/bin/unshare", "-rm", "/bin/true"}).status != 0)
        GTEST_SKIP() << "no mount namespaces here";
    auto r = Run({"/qb"}, {{"DISPLAY", x.Display()}}, hidePlugins);
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_TRUE(SetupRan());
    const std::string log = Log();
    EXPECT_NE(log.find("platform plugin \"xcb\" is not installed"), std::string::npos) << log;
}

// At /qm the progress stays on the terminal but the folder chooser is the module's window;
// SIGTERM closes it and the run ends as cancelled, extracting nothing.
TEST_F(Gui, SigtermClosesTheModulesFolderChooserUnderTheTerminalView) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    WriteFile(dir / "only.txt", "[main]\nProductName=Demo Product\nSetupFileName=setup.exe\n"
                                "ExtractOnly=1\nDefaultExtractDir=" +
                                    (dir / "target").string() + "\n");
    fs::create_directories(dir / "target");
    fs::create_directories(dir / "home");
    const fs::path only = dir / "only-setup";
    auto made = CreateLauncher(dir / "only.txt", dir / "product", only, SmallStub(dir.path()));
    ASSERT_EQ(made.status, 0) << made.err;
    PseudoTerminal terminal;
    terminal.Start({only.string(), "/qm"},
                   {{"PATH", "/usr/bin:/bin"},
                    {"HOME", (dir / "home").string()},
                    {"LANG", "en_US.UTF-8"},
                    {"DISPLAY", x.Display()},
                    {"SFX_LOG", (dir / "log").string()}},
                   dir.path().string());
    const std::map<std::string, std::string> env = {{"DISPLAY", x.Display()}};
    bool shown = false;
    for (int i = 0; i < 300 && !shown; ++i) {
        shown = RunProcess({"/usr/bin/xdotool", "search", "--onlyvisible", "--name", "."}, env)
                    .status == 0;
        if (!shown)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(shown) << terminal.Output() << Log();
    terminal.Signal(SIGTERM);
    const int status = terminal.WaitForExit(std::chrono::seconds(2));
    EXPECT_EQ(status, 130) << terminal.Output() << Log();
    if (status < 0)
        terminal.WaitForExit(std::chrono::seconds(30));
    EXPECT_NE(Log().find("Exit code: 130 (launcher code 1602)"), std::string::npos) << Log();
    EXPECT_TRUE(fs::is_empty(dir / "target"));
}

// The password question of an enciphered archive is a window at every level, /q included,
// when no terminal is there: what is typed into it extracts the product and the setup runs.
TEST_F(Gui, PasswordDialogOfARealRunAtEveryLevel) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    const fs::path archive = Pack7z(dir / "product", dir / "product.7z", "-ps3cret");
    launcher = dir / "secret-setup";
    auto made =
        CreateLauncherFromArchive(dir / "config.txt", archive, launcher, SmallStub(dir.path()));
    ASSERT_EQ(made.status, 0) << made.err;
    for (const char* level : {"/qb", "/q"}) {
        SCOPED_TRACE(level);
        // Typed over whatever an earlier attempt left in the entry; the window bears the
        // product's name.
        KeyPresser press(x.Display(), "Demo Product", "ctrl+a s 3 c r e t Return");
        auto r = Run({level}, {{"DISPLAY", x.Display()}});
        EXPECT_GT(press.Finish(), 0) << "no password dialog: " << press.lastSearch;
        EXPECT_EQ(r.status, 0) << r.err << Log();
        EXPECT_TRUE(SetupRan()) << Log();
        EXPECT_EQ(r.err.find("Enter password"), std::string::npos) << r.err;
    }
}

TEST_F(Gui, SilentRunNeverLoadsTheWindowLibraries) {
    XvfbServer x;
    ASSERT_FALSE(x.Display().empty()) << "Xvfb did not start";
    // A display is there, but the window libraries cannot be loaded: /q must not need them.
    auto r = Run({"/q"}, {{"DISPLAY", x.Display()}, {"LD_LIBRARY_PATH", (dir / "no-qt").string()}});
    EXPECT_EQ(r.status, 0) << r.err << Log();
    EXPECT_TRUE(SetupRan());
    EXPECT_EQ(r.err, "");
    const std::string log = Log();
    EXPECT_NE(log.find("No progress window at UiLevel 0"), std::string::npos) << log;
    EXPECT_EQ(log.find("cannot be loaded"), std::string::npos) << log;
    EXPECT_EQ(log.find("GUI module loaded."), std::string::npos) << log;

    // The help, shown despite /q, is text then.
    r = Run({"/q", "/?"},
            {{"DISPLAY", x.Display()}, {"LD_LIBRARY_PATH", (dir / "no-qt").string()}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Usage: demo-setup [options]"), std::string::npos) << r.err;
    EXPECT_EQ(Log().find("cannot be loaded"), std::string::npos) << Log();
}

} // namespace
