// Launcher files whose archive is enciphered (7zz a -p): the password is asked at the terminal
// without echo when the first enciphered item begins, remembered for the rest, and asked again
// after an empty entry; a refusal, a wrong password, nobody to ask and an enciphered item list
// each end as they must. And the build tool's side: --password-file, and archives whose item
// list is enciphered.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/HostileArchive.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Not ASCII, and with a space: the launcher must derive the same key from it as 7zz.
const std::string kPassword = "p\xC3\xA4sswort 1";
const std::string kPrompt = "Enter password: ";
const std::string kWrongPassword = "The password is not correct";
const std::string kBadArchive = "The setup file is corrupted.";

class PasswordRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        fs::create_directories(dir / "home");
        stub = SmallStub(dir.path());
        WriteExecutable(product / "setup.exe",
                        "#!/bin/sh\necho \"$@\" > " + ShellQuote((dir / "ran").string()) + "\n");
        WriteFile(product / "docs/readme.txt", "read me\n");
        WriteFile(product / "bin/tool", IncompressibleBytes(300000));
        std::string text;
        for (int i = 0; i < 20000; ++i)
            text += "line " + std::to_string(i * 7919 % 10007) + " of the product\n";
        WriteFile(product / "data/text.txt", text);
        WriteFile(product / "empty.txt", "");
        fs::create_directories(product / "emptydir");
        fs::permissions(product / "bin/tool", fs::perms(0750));
        WriteFile(dir / "config.txt",
                  "[main]\nProductName=Demo Product\nSetupFileName=setup.exe\n");
    }

    fs::path Launcher(const fs::path& archive, const std::string& name) {
        const fs::path out = dir / name;
        const auto r = CreateLauncherFromArchive(dir / "config.txt", archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // The whole product, enciphered with kPassword, with further 7zz switches.
    fs::path Enciphered(const std::string& name, const std::string& options) {
        return Launcher(
            Pack7z(product, dir / (name + ".7z"), "-p" + ShellQuote(kPassword) + " " + options),
            name);
    }

    std::map<std::string, std::string> Environment() const {
        return {{"PATH", "/usr/bin:/bin"},
                {"HOME", (dir / "home").string()},
                {"LANG", "en_US.UTF-8"},
                {"TMPDIR", tmp.string()},
                {"SFX_LOG", (dir / "log").string()}};
    }

    struct TerminalRun {
        int status = -1;
        int prompts = 0;
        std::string output;
    };

    // Runs the launcher at a terminal and types each entry once the password prompt waits with
    // the echo off. `typed` what the user typed, to be found nowhere in the output.
    TerminalRun AtTerminal(const fs::path& launcher, std::vector<std::string> args,
                           const std::vector<std::string>& entries) {
        fs::remove(dir / "ran");
        PseudoTerminal terminal;
        args.insert(args.begin(), launcher.string());
        terminal.Start(args, Environment(), dir.path().string());
        for (const std::string& entry : entries) {
            if (!terminal.WaitFor(kPrompt, 30s)) {
                ADD_FAILURE() << "no password prompt for '" << entry << "':\n" << terminal.Output();
                break;
            }
            ExpectEchoOffSoon(terminal);
            terminal.Type(entry);
        }
        TerminalRun run;
        run.status = terminal.WaitForExit(60s);
        run.output = terminal.Output();
        for (std::size_t at = run.output.find(kPrompt); at != std::string::npos;
             at = run.output.find(kPrompt, at + 1))
            ++run.prompts;
        // Whatever happened, the user's terminal echoes again.
        EXPECT_TRUE(terminal.Echoing());
        return run;
    }

    // The prompt is written just before the echo goes off.
    static void ExpectEchoOffSoon(const PseudoTerminal& terminal) {
        for (int i = 0; i < 500 && terminal.Echoing(); ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_FALSE(terminal.Echoing()) << "the password prompt echoes";
    }

    // Every item of the product is in `out` with the same bytes and modes.
    void ExpectProductIn(const fs::path& out) const {
        std::size_t entries = 0;
        for (const auto& entry : fs::recursive_directory_iterator(product)) {
            ++entries;
            const fs::path relative = entry.path().lexically_relative(product);
            SCOPED_TRACE(relative.string());
            const fs::path copy = out / relative;
            ASSERT_TRUE(fs::exists(fs::symlink_status(copy)));
            EXPECT_EQ(ModeOf(copy), ModeOf(entry.path()));
            if (entry.is_regular_file()) {
                EXPECT_TRUE(ReadFile(copy) == ReadFile(entry.path()));
            }
        }
        EXPECT_EQ(entries, 9u);
    }

    bool SetupRan() const { return fs::exists(dir / "ran"); }
    std::string Log() const { return ReadFile(dir / "log"); }

    TempDir dir;
    const fs::path product = dir / "product";
    const fs::path tmp = dir / "tmp";
    fs::path stub;
};

// The folder layouts 7zz makes with a password, solid and not, plain and enciphered folders
// mixed, and the build tool's own packing: the right password gives the product, asked once.
TEST_F(PasswordRun, TheRightPasswordExtractsEveryLayoutAskedOnce) {
    WriteFile(dir / "password.txt", kPassword + "\n");
    struct Case {
        const char* what;
        std::function<fs::path()> make;
    };
    const Case cases[] = {
        {"LZMA2 behind BCJ, solid", [&] { return Enciphered("lzma2", "-m0=BCJ -m1=LZMA2"); }},
        {"LZMA, one folder per file", [&] { return Enciphered("lzma", "-m0=LZMA -ms=off"); }},
        {"BCJ2",
         [&] {
             return Enciphered("bcj2", "-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 "
                                       "-mb0s2:3");
         }},
        {"Copy", [&] { return Enciphered("copy", "-m0=Copy"); }},
        {"plain and enciphered folders",
         [&] {
             const fs::path archive = dir / "mixed.7z";
             Pack7z(product, archive, "", "docs setup.exe emptydir");
             Pack7z(product, archive, "-p" + ShellQuote(kPassword), "bin data empty.txt");
             return Launcher(archive, "mixed");
         }},
        {"sfxbuild --password-file",
         [&] {
             const fs::path out = dir / "packed";
             const auto r = RunProcess({BinPath("sfxbuild"), "create", "--config",
                                        (dir / "config.txt").string(), "--dir", product.string(),
                                        "--password-file", (dir / "password.txt").string(),
                                        "--stub", stub.string(), "-o", out.string()});
             EXPECT_EQ(r.status, 0) << r.err;
             return out;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path launcher = c.make();
        const fs::path out = dir / "out";
        const TerminalRun run = AtTerminal(launcher, {"/x", out.string()}, {kPassword + "\n"});
        EXPECT_EQ(run.status, 0) << run.output << Log();
        EXPECT_EQ(run.prompts, 1) << run.output;
        EXPECT_EQ(run.output.find("sswort"), std::string::npos) << run.output;
        ExpectProductIn(out);
        fs::remove_all(out);
    }
}

// One file per solid block: folders further on are deciphered ahead with the password given
// once, and the tree is the product's, asked once.
TEST_F(PasswordRun, ManyEncipheredBlocksAreAskedOnceAndExtractWhole) {
    const fs::path launcher = Enciphered("blocks-setup", "-ms=1f -m0=BCJ -m1=LZMA2");
    const fs::path out = dir / "out";
    const TerminalRun run = AtTerminal(launcher, {"/x", out.string()}, {kPassword + "\n"});
    EXPECT_EQ(run.status, 0) << run.output << Log();
    EXPECT_EQ(run.prompts, 1) << run.output;
    ExpectProductIn(out);
}

// The normal run into a temporary folder, at the normal and the silent level: asked, then the
// setup runs, and no temporary folder stays.
TEST_F(PasswordRun, TheRightPasswordRunsTheSetupAtEveryLevel) {
    const fs::path launcher = Enciphered("demo-setup", "-m0=BCJ -m1=LZMA2");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"/q"}}) {
        SCOPED_TRACE(args.empty() ? "normal level" : "/q");
        const TerminalRun run = AtTerminal(launcher, args, {kPassword + "\n"});
        EXPECT_EQ(run.status, 0) << run.output << Log();
        EXPECT_EQ(run.prompts, 1) << run.output;
        EXPECT_TRUE(SetupRan()) << run.output << Log();
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

// An empty entry is remembered as no password: the next enciphered folder asks again. The
// first folder here is enciphered with the empty password itself.
TEST_F(PasswordRun, AnEmptyEntryAsksAgainAtTheNextEncipheredFolder) {
    const fs::path archive = dir / "two.7z";
    const auto first = RunShell("printf '\\n' | 7zz a -t7z -p -bso0 -bsp0 " +
                                    ShellQuote(archive.string()) + " -- docs setup.exe emptydir",
                                {{"LC_ALL", "C.UTF-8"}}, product.string());
    ASSERT_EQ(first.status, 0) << first.err;
    Pack7z(product, archive, "-pSECOND", "bin data empty.txt");
    const fs::path launcher = Launcher(archive, "two");
    const fs::path out = dir / "out";
    const TerminalRun run = AtTerminal(launcher, {"/x", out.string()}, {"\n", "SECOND\n"});
    EXPECT_EQ(run.status, 0) << run.output << Log();
    EXPECT_EQ(run.prompts, 2) << run.output;
    ExpectProductIn(out);
}

// Every way the password does not come ends the run without leaving anything behind: a
// refusal (Ctrl+C at the prompt) and SIGTERM as cancelled, a wrong password with its own
// message, never the damaged-download one.
TEST_F(PasswordRun, RefusedOrWrongPasswordsLeaveNothingBehind) {
    const fs::path launcher = Enciphered("demo-setup", "-m0=BCJ -m1=LZMA2");
    struct Case {
        const char* what;
        std::string typed; // empty: SIGTERM while the prompt waits
        int status;
        const char* message;
    };
    const Case cases[] = {
        {"Ctrl+C at the prompt", "\x03", 130, nullptr},
        {"SIGTERM at the prompt", "", 130, nullptr},
        {"a wrong password", "SECRET\n", 65, kWrongPassword.c_str()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(dir / "ran");
        PseudoTerminal terminal;
        terminal.Start({launcher.string()}, Environment(), dir.path().string());
        ASSERT_TRUE(terminal.WaitFor(kPrompt, 30s)) << terminal.Output();
        ExpectEchoOffSoon(terminal);
        if (c.typed.empty())
            terminal.Signal(SIGTERM);
        else
            terminal.Type(c.typed);
        EXPECT_EQ(terminal.WaitForExit(60s), c.status) << terminal.Output() << Log();
        EXPECT_TRUE(terminal.Echoing());
        const std::string& output = terminal.Output();
        if (c.message != nullptr) {
            EXPECT_NE(output.find(c.message), std::string::npos) << output;
        }
        EXPECT_EQ(output.find(kBadArchive), std::string::npos) << output;
        EXPECT_EQ(output.find("SECRET"), std::string::npos) << output;
        EXPECT_FALSE(SetupRan());
        EXPECT_TRUE(fs::is_empty(tmp)) << c.what;
    }
}

// Four stored folders of 16 bytes, each enciphered at 2^24 rounds with a salt of its own, so
// that no key serves two: some seconds of key derivation on every decoder.
std::string SlowKeyFolders() {
    using hostile::Bytes;
    using hostile::PutNumber;
    constexpr std::size_t kCount = 4;
    Bytes header = {0x01, 0x04, 0x06, 0x00};
    PutNumber(header, kCount);
    header.push_back(0x09);
    header.resize(header.size() + kCount, 0x10);
    header.insert(header.end(), {0x00, 0x07, 0x0B});
    PutNumber(header, kCount);
    header.push_back(0x00);
    for (std::size_t i = 0; i < kCount; ++i) {
        // 7zAES: rounds 24, salt and IV present, a salt of one byte, an IV of 16.
        header.insert(header.end(), {0x01, 0x24, 0x06, 0xF1, 0x07, 0x01, 19, 0xC0 | 24, 0x0F,
                                     static_cast<std::uint8_t>(i)});
        header.resize(header.size() + 16, 0x42);
    }
    header.push_back(0x0C);
    header.resize(header.size() + kCount, 0x10);
    header.insert(header.end(), {0x00, 0x00});
    Bytes names = {0x00};
    for (std::size_t i = 0; i < kCount; ++i)
        names.insert(names.end(), {static_cast<std::uint8_t>('a' + i), 0, 0, 0});
    header.push_back(0x05);
    PutNumber(header, kCount);
    header.push_back(0x11);
    PutNumber(header, names.size());
    header.insert(header.end(), names.begin(), names.end());
    header.insert(header.end(), {0x00, 0x00});
    const Bytes archive = hostile::Assemble(Bytes(16 * kCount, 0x33), header);
    return std::string(archive.begin(), archive.end());
}

// A cancel while the keys are derived ends the run as cancelled at once, not when the rounds
// are done, and leaves nothing behind: Ctrl+C's question answered yes, a second SIGINT at the
// question, or a SIGTERM without one.
TEST_F(PasswordRun, ACancelDuringKeyDerivationEndsWithinTwoSeconds) {
    WriteFile(dir / "slow.7z", SlowKeyFolders());
    const fs::path launcher = Launcher(dir / "slow.7z", "slow-setup");
    const fs::path out = dir / "out";
    struct Case {
        const char* name;
        int signal;
        std::string typed; // at the question; empty: `second` is sent there instead
        int second;        // 0: no question is expected
    };
    const Case cases[] = {
        {"SIGINT, then yes", SIGINT, "1\n", 0},
        {"SIGINT twice", SIGINT, "", SIGINT},
        {"SIGTERM", SIGTERM, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(out);
        PseudoTerminal terminal;
        terminal.Start({launcher.string(), "/x", out.string()}, Environment(), dir.path().string());
        ASSERT_TRUE(terminal.WaitFor(kPrompt, 30s)) << terminal.Output();
        ExpectEchoOffSoon(terminal);
        terminal.Type(kPassword + "\n");
        std::this_thread::sleep_for(300ms);
        terminal.Signal(c.signal);
        const auto signalled = std::chrono::steady_clock::now();
        if (!c.typed.empty() || c.second != 0) {
            ASSERT_TRUE(terminal.WaitFor("Answer (y/n)", 2s)) << terminal.Output();
            if (!c.typed.empty())
                terminal.Type(c.typed);
            else
                terminal.Signal(c.second);
        }
        const int status = terminal.WaitForExit(30s);
        const auto took = std::chrono::steady_clock::now() - signalled;
        EXPECT_EQ(status, 130) << terminal.Output() << Log();
        EXPECT_LT(took, 2s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count()
                            << " ms";
        EXPECT_TRUE(fs::is_empty(tmp));
        EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));
    }
}

// With neither a window nor a terminal nobody can enter the password: cancelled, and the log
// says why.
TEST_F(PasswordRun, NobodyToAskEndsAsCancelledWithTheReasonLogged) {
    const fs::path launcher = Enciphered("demo-setup", "-m0=BCJ -m1=LZMA2");
    for (const char* level : {"/q", "/qb"}) {
        SCOPED_TRACE(level);
        fs::remove(dir / "log");
        const auto r = RunProcess({launcher.string(), level}, Environment(), dir.path().string());
        EXPECT_EQ(r.status, 130) << r.err << Log();
        EXPECT_NE(Log().find("neither a window nor a terminal"), std::string::npos) << Log();
        EXPECT_FALSE(SetupRan());
        EXPECT_TRUE(fs::is_empty(tmp));
    }
}

// An item list that is itself enciphered (-mhe=on) cannot be opened: the launcher says why
// without asking, and the build tool refuses such an archive.
TEST_F(PasswordRun, AnEncipheredItemListIsExplainedAndRefusedByTheBuildTool) {
    const fs::path archive =
        Pack7z(product, dir / "hidden.7z", "-p" + ShellQuote(kPassword) + " -mhe=on");
    const fs::path launcher = Launcher(archive, "hidden");
    const TerminalRun run = AtTerminal(launcher, {}, {});
    EXPECT_EQ(run.status, 65) << run.output << Log();
    EXPECT_EQ(run.prompts, 0) << run.output;
    EXPECT_NE(run.output.find("The installation files could not be extracted."), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("list of files in the setup file is protected by a password"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(run.output.find(kBadArchive), std::string::npos) << run.output;
    EXPECT_TRUE(fs::is_empty(tmp));

    // With the checks on, as a user runs it.
    const auto r = RunProcess({BinPath("sfxbuild"), "create", "--config",
                               (dir / "config.txt").string(), "--archive", archive.string(),
                               "--stub", stub.string(), "-o", (dir / "refused").string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("enciphered (7zz -mhe=on)"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(dir / "refused"));

    // Only the file data enciphered: taken.
    const fs::path readable = Pack7z(product, dir / "readable.7z", "-p" + ShellQuote(kPassword));
    const auto taken = RunProcess({BinPath("sfxbuild"), "create", "--config",
                                   (dir / "config.txt").string(), "--archive", readable.string(),
                                   "--stub", stub.string(), "-o", (dir / "taken").string()});
    EXPECT_EQ(taken.status, 0) << taken.err;
}

// The password reaches 7zz neither as an argument nor through the environment, where other
// users and `ps` could see it, and `info` does not show it; the item list stays readable.
TEST_F(PasswordRun, PasswordFileStaysOffTheCommandLine) {
    const fs::path bin = dir / "bin";
    // A 7zz that records what it was given before it does the work.
    WriteExecutable(bin / "7zz", "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > " +
                                     ShellQuote((dir / "args").string()) + "\nenv > " +
                                     ShellQuote((dir / "env").string()) +
                                     "\nexec /usr/bin/7zz \"$@\"\n");
    WriteFile(dir / "password.txt", "Geheim-42\r\n");
    const fs::path out = dir / "packed";
    const auto r =
        RunProcess({BinPath("sfxbuild"), "create", "--config", (dir / "config.txt").string(),
                    "--dir", product.string(), "--password-file", (dir / "password.txt").string(),
                    "--stub", stub.string(), "-o", out.string()},
                   {{"PATH", bin.string() + ":/usr/bin:/bin"}});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(fs::exists(dir / "args"));
    EXPECT_EQ(ReadFile(dir / "args").find("Geheim"), std::string::npos) << ReadFile(dir / "args");
    EXPECT_NE(ReadFile(dir / "args").find("\n-p\n"), std::string::npos) << ReadFile(dir / "args");
    EXPECT_EQ(ReadFile(dir / "env").find("Geheim"), std::string::npos);

    for (const char* command : {"info", "list"}) {
        const auto shown = RunProcess({BinPath("sfxbuild"), command, out.string()});
        EXPECT_EQ(shown.status, 0) << command << ": " << shown.err;
        EXPECT_EQ(shown.out.find("Geheim"), std::string::npos) << shown.out;
        if (std::string(command) == "list") {
            EXPECT_NE(shown.out.find("data/text.txt"), std::string::npos) << shown.out;
        }
    }
    // The line end is not part of the password.
    const fs::path extracted = dir / "out";
    const TerminalRun run = AtTerminal(out, {"/x", extracted.string()}, {"Geheim-42\n"});
    EXPECT_EQ(run.status, 0) << run.output << Log();
    ExpectProductIn(extracted);
}

// What --password-file does not take, each with one line and no output file.
TEST_F(PasswordRun, PasswordFileRefusals) {
    WriteFile(dir / "empty.txt", "\nsecond line\n");
    WriteFile(dir / "long.txt", std::string(1024, 'x') + "\n");
    WriteFile(dir / "good.txt", "secret\n");
    WriteFile(dir / "latin1.txt", "p\xE4sswort\n");
    const fs::path archive = Pack7z(product, dir / "plain.7z");
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> env;
        const char* reason;
    };
    const Case cases[] = {
        {{"--dir", product.string(), "--password-file", (dir / "missing.txt").string()},
         {},
         "cannot open password file"},
        {{"--dir", product.string(), "--password-file", (dir / "empty.txt").string()},
         {},
         "holds no password on its first line"},
        {{"--dir", product.string(), "--password-file", (dir / "long.txt").string()},
         {},
         "at most 1023"},
        {{"--dir", product.string(), "--password-file", (dir / "latin1.txt").string()},
         {},
         "is not UTF-8 text"},
        {{"--archive", archive.string(), "--password-file", (dir / "good.txt").string()},
         {},
         "--password-file applies to --dir only"},
        {{"--dir", product.string(), "--password-file", (dir / "good.txt").string(),
          "--reproducible"},
         {},
         "cannot give reproducible output"},
        {{"--dir", product.string(), "--password-file", (dir / "good.txt").string()},
         {{"SOURCE_DATE_EPOCH", "1700000000"}},
         "cannot give reproducible output"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        std::vector<std::string> args = {BinPath("sfxbuild"),
                                         "create",
                                         "--config",
                                         (dir / "config.txt").string(),
                                         "--stub",
                                         stub.string(),
                                         "-o",
                                         (dir / "out").string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::map<std::string, std::string> env = c.env;
        env.emplace("SOURCE_DATE_EPOCH", "");
        const auto r = RunProcess(args, env);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

} // namespace
