// The launcher at a terminal, as a user sees it: one progress line redrawn in place at any width
// and in every language, and prompts in the run's language.

#include "cptlib/Utf.h"
#include "cptlib/platform/Terminal.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/PseudoTerminal.h"
#include "support/StringTables.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <memory>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kSetupMark = "SETUP-OUTPUT";

// The screen that `output` leaves: carriage returns, erase-to-end and line feeds applied.
std::string Screen(const std::string& output) {
    std::vector<std::u32string> lines(1);
    std::size_t column = 0;
    const std::u32string points = cptlib::DecodeUtf8(output).value_or(U"");
    for (std::size_t i = 0; i < points.size(); ++i) {
        std::u32string& line = lines.back();
        if (points[i] == U'\r') {
            column = 0;
        } else if (points[i] == U'\n') {
            lines.emplace_back();
            column = 0;
        } else if (points[i] == U'\x1b' && i + 2 < points.size() && points[i + 1] == U'[' &&
                   points[i + 2] == U'K') {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else {
            if (column < line.size())
                line[column] = points[i];
            else
                line.push_back(points[i]);
            ++column;
        }
    }
    std::string screen;
    for (const auto& line : lines)
        screen += cptlib::EncodeUtf8(line) + "\n";
    return screen;
}

// Where the environment names a folder in SFX_SCREENSHOT_DIR (make screenshots), the screen a
// run left, as a text file.
void Capture(const std::string& name, const std::string& output) {
    const char* folder = std::getenv("SFX_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        return;
    fs::create_directories(folder);
    WriteFile(fs::path(folder) / ("terminal-" + name + ".txt"), Screen(output));
}

// The user's language as LANG names it: "de" -> "de_DE", "pt-BR" -> "pt_BR".
std::string LangOf(const std::string& culture) {
    if (culture.find('-') != std::string::npos) {
        std::string lang = culture;
        std::replace(lang.begin(), lang.end(), '-', '_');
        return lang;
    }
    std::string region = culture;
    std::transform(region.begin(), region.end(), region.begin(), ::toupper);
    return culture + "_" + (culture == "en" ? "IE" : region);
}

class TerminalFace : public ::testing::Test {
protected:
    void SetUp() override {
        stub = SmallStub(dir.path());
        fs::create_directories(dir / "tmp");
        // Big enough for many whole percents.
        for (int i = 0; i < 24; ++i)
            WriteFile(dir / "product" / ("part" + std::to_string(i)),
                      IncompressibleBytes(256 * 1024));
        WriteExecutable(dir / "product/setup.sh", "#!/bin/sh\necho " + kSetupMark + "\nexit 0\n");
    }

    fs::path Make(const std::string& name, const std::string& config) {
        WriteFile(dir / (name + ".cfg"), config);
        const fs::path out = dir / name;
        auto r = CreateLauncher(dir / (name + ".cfg"), dir / "product", out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    std::map<std::string, std::string> Environment(const std::string& culture) const {
        return {{"PATH", "/usr/bin:/bin"},
                {"HOME", dir.path().string()},
                {"LANG", LangOf(culture) + ".UTF-8"},
                // The one UTF-8 locale every system has, for the characters.
                {"LC_CTYPE", "C.UTF-8"},
                {"TERM", "xterm"},
                {"TMPDIR", (dir / "tmp").string()},
                {"SFX_LOG", (dir / "log").string()}};
    }

    TempDir dir;
    fs::path stub;
};

std::vector<std::string> Cultures() {
    std::vector<std::string> cultures;
    for (const auto& entry : fs::directory_iterator(StringTableFile("")))
        if (entry.path().extension() == ".xml")
            cultures.push_back(entry.path().stem().string());
    std::sort(cultures.begin(), cultures.end());
    return cultures;
}

// Up to the setup's first output the launcher writes one line, redrawn in place and never wider
// than the terminal; the setup's output starts a line of its own.
TEST_F(TerminalFace, ProgressIsOneRedrawnLineInEveryLanguage) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher = Make("plain", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
    const auto cultures = Cultures();
    ASSERT_EQ(cultures.size(), 27u);
    for (const int columns : {40, 80}) {
        for (const auto& culture : cultures) {
            SCOPED_TRACE(culture + " at " + std::to_string(columns) + " columns");
            const auto strings = LoadStringTable(culture + ".xml");
            PseudoTerminal terminal(static_cast<unsigned short>(columns));
            terminal.Start({launcher.string()}, Environment(culture), dir.path().string());
            ASSERT_EQ(terminal.WaitForExit(60s), 0) << terminal.Output() << ReadFile(dir / "log");
            const std::string& output = terminal.Output();
            const std::size_t mark = output.find(kSetupMark);
            ASSERT_NE(mark, std::string::npos) << output;
            const std::string progress = output.substr(0, mark);
            // The terminal turns "\n" into "\r\n".
            EXPECT_EQ(std::count(progress.begin(), progress.end(), '\n'), 1) << progress;
            EXPECT_TRUE(progress.ends_with("\n")) << progress;
            std::size_t draws = 0;
            for (std::size_t at = progress.find('\r'); at != std::string::npos;
                 at = progress.find('\r', at + 1)) {
                const std::size_t end = progress.find("\x1b[K", at);
                if (end == std::string::npos)
                    break;
                EXPECT_LT(cptlib::platform::DisplayColumns(progress.substr(at + 1, end - at - 1)),
                          columns);
                ++draws;
            }
            // Several redraws, so the single line above was really redrawn in place; how many
            // depends on how fast this machine extracts (8 seen on a quick run).
            EXPECT_GE(draws, 5u) << progress;
            // In the user's language, cut to the window.
            std::string title = strings->GetText("SfxProgressTitle");
            title.replace(title.find("%d"), 2, "100");
            title.replace(title.find("%%"), 2, "%");
            const std::string last = cptlib::platform::FitToColumns(
                title + "  " + strings->GetText("StartSetup"), columns - 1);
            EXPECT_EQ(Screen(progress), last + "\n\n") << progress;
            if (culture == "en-US" || culture == "de" || culture == "ja-JP" || culture == "it")
                Capture("progress-" + culture + "-" + std::to_string(columns), output);
        }
    }
}

// The word a user of `strings` types for yes (or no): the first of the table's list.
std::string AnswerWord(const zqmsi::InstallStringResources& strings, const char* id) {
    const std::string words = strings.GetText(id);
    return words.substr(0, words.find('|'));
}

// `format` with its %s / %d filled in order.
std::string Filled(std::string format, const std::vector<std::string>& values) {
    for (const std::string& value : values) {
        const std::size_t at = format.find('%');
        if (at == std::string::npos)
            break;
        format.replace(at, 2, value);
    }
    return format;
}

// Every line of the screen fits the terminal.
void ExpectLinesFit(const std::string& screen, int columns) {
    std::size_t start = 0;
    while (start < screen.size()) {
        const std::size_t end = std::min(screen.find('\n', start), screen.size());
        const std::string line = screen.substr(start, end - start);
        EXPECT_LE(cptlib::platform::DisplayColumns(line), columns) << line << "\n" << screen;
        start = end + 1;
    }
}

// English words that a German or Japanese run must not show.
void ExpectNoEnglish(const std::string& screen, const std::string& culture) {
    if (culture == "en-US")
        return;
    for (const char* english : {"(default)", "Choose", "Answer", "Cancelled", "Question", "Please",
                                "Folder:", "The file", "Usage", "folder", "cancel"})
        EXPECT_EQ(screen.find(english), std::string::npos) << english << "\n" << screen;
}

const char* const kPromptCultures[] = {"en-US", "de", "ja-JP"};

// --help, -h and --version answer at once: status 0, nothing extracted, no setup; the help
// names the file that was run, the folder /x would fill and the switches, in the user's
// language, wrapped to the terminal.
TEST_F(TerminalFace, HelpAndVersionExtractNothing) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher =
        Make("demo-setup", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
    for (const int columns : {40, 80}) {
        for (const std::string culture : kPromptCultures) {
            const auto strings = LoadStringTable(culture + ".xml");
            for (const std::string option : {"--help", "-h", "--version"}) {
                SCOPED_TRACE(culture + " " + option + " at " + std::to_string(columns));
                PseudoTerminal terminal(static_cast<unsigned short>(columns));
                terminal.Start({launcher.string(), option}, Environment(culture),
                               dir.path().string());
                ASSERT_EQ(terminal.WaitForExit(30s), 0) << terminal.Output();
                const std::string screen = Screen(terminal.Output());
                EXPECT_EQ(screen.find(kSetupMark), std::string::npos) << screen;
                EXPECT_TRUE(fs::is_empty(dir / "tmp"));
                EXPECT_FALSE(fs::exists(dir / "demo-setup-files"));
                ExpectLinesFit(screen, columns);
                if (option == "--version") {
                    EXPECT_EQ(screen.rfind("Setup Self-Extractor ", 0), 0u) << screen;
                    EXPECT_NE(screen.find_first_of("0123456789"), std::string::npos) << screen;
                    EXPECT_EQ(std::count(screen.begin(), screen.end(), '\n'), 2) << screen;
                    continue;
                }
                // Wrapping may break a line anywhere between words: compare without breaks.
                std::string flat;
                for (const char c : screen)
                    flat += c == '\n' ? ' ' : c;
                const std::string usage = strings->GetText("SfxCommandLineHelp");
                EXPECT_NE(flat.find(usage.substr(0, usage.find(':')) + ": demo-setup "),
                          std::string::npos)
                    << screen;
                for (const char* part : {"/?, -h, --help:", "--version:", "/x [",
                                         "/q:", "/qb:", "/l ", "/overwriteanswer "})
                    EXPECT_NE(flat.find(part), std::string::npos) << part << "\n" << screen;
                // The folder appears whole once the wrapping is undone.
                std::string joined;
                for (const char c : screen)
                    if (c != '\n')
                        joined += c;
                EXPECT_NE(joined.find((dir / "demo-setup-files").string()), std::string::npos)
                    << screen;
                EXPECT_EQ(flat.find("setup.exe"), std::string::npos) << screen;
                ExpectNoEnglish(screen, culture);
                if (columns == 40 && option == "--help")
                    Capture("help-" + culture + "-40", terminal.Output());
            }
        }
    }
}

// The overwrite question takes the language's yes and no words; another answer is refused
// with a reason; no answer cancels, and the run says so.
TEST_F(TerminalFace, OverwriteQuestionTakesTheLanguagesWords) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path plain = Make("plain", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
    for (const int columns : {40, 80}) {
        for (const std::string culture : kPromptCultures) {
            const auto strings = LoadStringTable(culture + ".xml");
            const auto text = [&](const char* id) { return strings->GetText(id); };
            const std::string yes = AnswerWord(*strings, "TerminalYesWords");
            const std::string no = AnswerWord(*strings, "TerminalNoWords");
            const std::string prompt = Filled(text("TerminalYesNo"), {yes, no, no});
            for (const bool replace : {true, false}) {
                SCOPED_TRACE(culture + (replace ? " yes" : " no") + " at " +
                             std::to_string(columns));
                fs::remove_all(dir / "target");
                WriteFile(dir / "target/part0", "old");
                PseudoTerminal terminal(static_cast<unsigned short>(columns));
                terminal.Start({plain.string(), "/x", (dir / "target").string()},
                               Environment(culture), dir.path().string());
                ASSERT_TRUE(terminal.WaitFor(prompt, 60s)) << terminal.Output();
                terminal.Type("1234\n");
                ASSERT_TRUE(terminal.WaitFor(Filled(text("TerminalAnswerYesNo"), {yes, no}), 10s))
                    << terminal.Output();
                ASSERT_TRUE(terminal.WaitFor(prompt, 10s)) << terminal.Output();
                terminal.Type((replace ? yes : no) + "\n");
                const int status = terminal.WaitForExit(60s);
                const std::string screen = Screen(terminal.Output());
                EXPECT_EQ(status, replace ? 0 : 130) << screen;
                EXPECT_EQ(ReadFile(dir / "target/part0") != "old", replace) << screen;
                for (const char* id : {"TerminalWarning", "OverwriteFileExists",
                                       "OverwriteAllButton", "TerminalDefault"})
                    EXPECT_NE(screen.find(text(id)), std::string::npos) << id << "\n" << screen;
                EXPECT_EQ(screen.find(text("TerminalRunCancelled")) != std::string::npos, !replace)
                    << screen;
                ExpectLinesFit(screen, columns);
                ExpectNoEnglish(screen, culture);
                if (columns == 40 && !replace)
                    Capture("overwrite-" + culture + "-40", terminal.Output());
            }
        }
    }
}

// The folder question of an extract-only launcher: Enter takes the proposal and makes it when
// it is missing; q and Ctrl+C cancel with the status of every cancel (130) and make nothing.
TEST_F(TerminalFace, FolderQuestionMakesTheProposalOrCancels) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher =
        Make("demo", "[main]\nProductName=Demo\nSetupFileName=setup.sh\nExtractOnly=1\n"
                     "DefaultExtractDir=" +
                         (dir / "missing").string() + "\n");
    // A default folder that does not exist proposes the one beside the program.
    const fs::path proposal = dir / "demo-files";
    for (const int columns : {40, 80}) {
        for (const std::string culture : kPromptCultures) {
            const auto strings = LoadStringTable(culture + ".xml");
            const auto text = [&](const char* id) { return strings->GetText(id); };
            for (const std::string typed : {"\n", "q\n", "\x03"}) {
                SCOPED_TRACE(culture + " " + (typed == "\x03" ? "Ctrl+C" : typed) + " at " +
                             std::to_string(columns));
                fs::remove_all(proposal);
                PseudoTerminal terminal(static_cast<unsigned short>(columns));
                terminal.Start({launcher.string()}, Environment(culture), dir.path().string());
                ASSERT_TRUE(
                    terminal.WaitFor(text("TerminalFolder") + " [" + proposal.string(), 20s))
                    << terminal.Output();
                std::this_thread::sleep_for(100ms);
                terminal.Type(typed);
                const int status = terminal.WaitForExit(60s);
                const std::string screen = Screen(terminal.Output());
                const bool taken = typed == "\n";
                EXPECT_EQ(status, taken ? 0 : 130) << screen;
                EXPECT_EQ(fs::exists(proposal / "part0"), taken) << screen;
                if (!taken) {
                    EXPECT_FALSE(fs::exists(proposal)) << screen;
                    EXPECT_NE(screen.find(text("TerminalCancelled")), std::string::npos) << screen;
                    EXPECT_NE(screen.find(text("TerminalRunCancelled")), std::string::npos)
                        << screen;
                }
                // The hint says how to cancel, wrapped to the window (Japanese breaks between
                // characters, other languages at spaces).
                const auto squeeze = [](const std::string& t) {
                    std::string out;
                    for (const char c : t)
                        if (c != ' ' && c != '\n')
                            out += c;
                    return out;
                };
                EXPECT_NE(squeeze(screen).find(squeeze(text("TerminalFolderHint"))),
                          std::string::npos)
                    << screen;
                ExpectLinesFit(screen.substr(0, screen.find(text("TerminalFolder") + " [")),
                               columns);
                ExpectNoEnglish(screen, culture);
                if (columns == 80 && typed == "\n")
                    Capture("folder-" + culture, terminal.Output());
            }
        }
    }
}

// A payload that takes a while to unpack, so that the run can be resized or stopped meanwhile.
class TerminalFaceLongRun : public TerminalFace {
protected:
    static void SetUpTestSuite() {
        big_ = std::make_unique<TempDir>();
        const fs::path product = *big_ / "product";
        for (int i = 0; i < 4; ++i)
            WriteFile(product / ("part" + std::to_string(i) + ".bin"),
                      IncompressibleBytes(32 << 20));
        WriteExecutable(product / "setup.sh", "#!/bin/sh\necho " + kSetupMark + "\nexit 0\n");
        // Stored, so that making it is quick; unpacking it still takes a moment.
        RunProcess({"/usr/bin/7zz", "a", "-t7z", "-mx0", "-bso0", (*big_ / "big.7z").string(),
                    (product / ".").string()});
        fs::remove_all(product);
    }
    static void TearDownTestSuite() { big_.reset(); }

    fs::path MakeBig() {
        WriteFile(dir / "big.cfg", "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
        const fs::path out = dir / "big";
        auto r = RunProcess({BinPath("sfxbuild"), "create", "--config", (dir / "big.cfg").string(),
                             "--archive", (*big_ / "big.7z").string(), "--stub", stub.string(),
                             "-o", out.string()});
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Waits until the progress line has been drawn a few times.
    static bool WaitForDraws(PseudoTerminal& terminal, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            if (!terminal.WaitFor("\x1b[K", 20s))
                return false;
        return true;
    }

    static std::unique_ptr<TempDir> big_;
};

std::unique_ptr<TempDir> TerminalFaceLongRun::big_;

// Ctrl+C at /qb cancels; the terminal's echo of it does not stay in the line that follows.
TEST_F(TerminalFaceLongRun, CtrlCAtTheBasicLevelLeavesNoMarkInTheLine) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher = MakeBig();
    PseudoTerminal terminal;
    terminal.Start({launcher.string(), "/qb"}, Environment("en-US"), dir.path().string());
    ASSERT_TRUE(WaitForDraws(terminal, 3)) << terminal.Output();
    terminal.Type("\x03");
    EXPECT_EQ(terminal.WaitForExit(30s), 130) << terminal.Output();
    const std::string screen = Screen(terminal.Output());
    EXPECT_EQ(screen.find("^C"), std::string::npos) << screen;
    // The line was drawn again after the echo, and it is still the only one.
    const std::size_t echo = terminal.Output().find("^C");
    ASSERT_NE(echo, std::string::npos) << "the terminal echoes Ctrl+C:\n" << terminal.Output();
    EXPECT_NE(terminal.Output().find('\r', echo), std::string::npos) << terminal.Output();
    // The progress line, then the line that says the run was cancelled.
    const std::string cancelled = "\nThe run was cancelled.\n";
    const std::size_t last = screen.find(cancelled);
    ASSERT_NE(last, std::string::npos) << screen;
    const std::string progress = screen.substr(0, last + 1);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '\n'), 1) << screen;
    EXPECT_NE(progress.find_first_not_of('\n'), std::string::npos) << "an empty screen";
    Capture("ctrl-c-qb", terminal.Output());
}

// A window made narrower while the files are unpacked: the line fits the new width at once and
// stays one line.
TEST_F(TerminalFaceLongRun, AResizedWindowGetsALineOfItsWidth) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher = MakeBig();
    const auto strings = LoadStringTable("it.xml");
    PseudoTerminal terminal(80);
    terminal.Start({launcher.string()}, Environment("it"), dir.path().string());
    ASSERT_TRUE(WaitForDraws(terminal, 3)) << terminal.Output();
    const std::size_t before = terminal.Output().size();
    terminal.Resize(30);
    ASSERT_EQ(terminal.WaitForExit(60s), 0) << terminal.Output() << ReadFile(dir / "log");
    const std::string& output = terminal.Output();
    const std::size_t mark = output.find(kSetupMark);
    ASSERT_NE(mark, std::string::npos) << output;
    const std::string progress = output.substr(0, mark);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), '\n'), 1) << progress;
    // A draw that began before the resize may still end after it; every later one fits.
    std::size_t draws = 0;
    for (std::size_t at = progress.find('\r', before); at != std::string::npos;
         at = progress.find('\r', at + 1)) {
        const std::size_t end = progress.find("\x1b[K", at);
        if (end == std::string::npos)
            break;
        if (draws++ == 0)
            continue;
        EXPECT_LT(cptlib::platform::DisplayColumns(progress.substr(at + 1, end - at - 1)), 30)
            << progress.substr(at + 1, end - at - 1);
    }
    EXPECT_GE(draws, 3u) << progress.substr(before);
    std::string title = strings->GetText("SfxProgressTitle");
    title.replace(title.find("%d"), 2, "100");
    title.replace(title.find("%%"), 2, "%");
    EXPECT_EQ(Screen(progress),
              cptlib::platform::FitToColumns(title + "  " + strings->GetText("StartSetup"), 29) +
                  "\n\n")
        << progress;
}

// Ctrl+C during the extraction asks whether to cancel, in the user's language; a wrong answer is
// refused with a reason, "no" goes on, and the next Ctrl+C asks again; "yes" cancels and the
// run says so.
TEST_F(TerminalFaceLongRun, CtrlCAsksAgainAfterNo) {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    const fs::path launcher = MakeBig();
    for (const int columns : {40, 80}) {
        for (const std::string culture : kPromptCultures) {
            SCOPED_TRACE(culture + " at " + std::to_string(columns));
            fs::remove_all(dir / "tmp");
            fs::create_directories(dir / "tmp");
            const auto strings = LoadStringTable(culture + ".xml");
            const auto text = [&](const char* id) { return strings->GetText(id); };
            const std::string yes = AnswerWord(*strings, "TerminalYesWords");
            const std::string no = AnswerWord(*strings, "TerminalNoWords");
            // The cancel question proposes Yes.
            const std::string prompt = Filled(text("TerminalYesNo"), {yes, no, yes});
            PseudoTerminal terminal(static_cast<unsigned short>(columns));
            terminal.Start({launcher.string()}, Environment(culture), dir.path().string());
            ASSERT_TRUE(WaitForDraws(terminal, 2)) << terminal.Output();
            terminal.Type("\x03");
            ASSERT_TRUE(terminal.WaitFor(prompt, 10s)) << terminal.Output();
            // At once: the extraction goes on meanwhile, and its end would close the question.
            terminal.Type("?\n" + no + "\n");
            ASSERT_TRUE(terminal.WaitFor(Filled(text("TerminalAnswerYesNo"), {yes, no}), 10s))
                << terminal.Output();
            ASSERT_TRUE(terminal.WaitFor(prompt, 10s)) << terminal.Output();
            std::this_thread::sleep_for(50ms);
            terminal.Type("\x03");
            ASSERT_TRUE(terminal.WaitFor(prompt, 10s)) << "the second Ctrl+C did not ask:\n"
                                                       << terminal.Output();
            terminal.Type(yes + "\n");
            EXPECT_EQ(terminal.WaitForExit(10s), 130) << terminal.Output();
            const std::string screen = Screen(terminal.Output());
            EXPECT_EQ(screen.find(kSetupMark), std::string::npos) << screen;
            EXPECT_NE(screen.find(text("TerminalRunCancelled")), std::string::npos) << screen;
            ExpectLinesFit(screen, columns);
            ExpectNoEnglish(screen, culture);
            if (columns == 40)
                Capture("ctrl-c-twice-" + culture + "-40", terminal.Output());
        }
    }
}

} // namespace
