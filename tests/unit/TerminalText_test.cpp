// The terminal's texts: the progress line fits the window, and prompts and box frames speak the
// run's language.

#include "cptlib/platform/Terminal.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "launcher/TerminalProgressView.h"
#include "support/StringTables.h"

#include <gtest/gtest.h>

#include <clocale>
#include <sstream>

namespace {

using namespace cptlib;

std::unique_ptr<zqmsi::InstallStringResources> Table(const std::string& culture) {
    return testsupport::LoadStringTable(culture + ".xml");
}

// Sets LC_CTYPE for the test's span.
class CtypeLocale {
public:
    explicit CtypeLocale(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
        if (std::setlocale(LC_CTYPE, name) == nullptr)
            throw std::runtime_error(std::string("no locale ") + name);
    }
    ~CtypeLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }

private:
    std::string old_;
};

TEST(TerminalText, FitsTextToColumnsCountingWideCharacters) {
    struct Case {
        const char* locale;
        std::string text;
        int columns;
        std::string fitted;
    };
    const Case cases[] = {
        {"C.UTF-8", "0 % Extracting...", 40, "0 % Extracting..."},
        {"C.UTF-8", "0 % Extracting...", 10, "0 % Extra\u2026"},
        {"C", "0 % Extracting...", 10, "0 % Ext..."},
        // Two columns each: four of them and the ellipsis take nine.
        {"C.UTF-8", "\u5c55\u958b\u4e2d\u3067\u3059", 9, "\u5c55\u958b\u4e2d\u3067\u2026"},
        {"C.UTF-8", "\u5c55\u958b\u4e2d\u3067\u3059", 10, "\u5c55\u958b\u4e2d\u3067\u3059"},
        // A wide character that does not fit is not split.
        {"C.UTF-8", "ab\u5c55\u958b", 4, "ab\u2026"},
        // A combining mark stays with its letter.
        {"C.UTF-8", "abe\u0301cdef", 4, "abe\u0301\u2026"},
        {"C.UTF-8", "whatever", 0, "whatever"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " / " + std::to_string(c.columns) + " / " + c.locale);
        CtypeLocale locale(c.locale);
        const std::string fitted = platform::FitToColumns(c.text, c.columns);
        EXPECT_EQ(fitted, c.fitted);
        if (c.columns > 0) {
            EXPECT_LE(platform::DisplayColumns(fitted), c.columns);
        }
    }
}

// A long run at a narrow window in each language: one line, redrawn in place, never wider than
// the window; ended before what follows it.
TEST(TerminalText, ProgressStaysOneLineNoWiderThanTheWindow) {
    CtypeLocale locale("C.UTF-8");
    for (const int width : {40, 80}) {
        for (const char* culture : {"en-US", "it", "de", "ja-JP", "el-GR", "hu-HU"}) {
            SCOPED_TRACE(std::string(culture) + " at " + std::to_string(width));
            const auto table = Table(culture);
            const IStringResources& strings = *table;
            std::ostringstream out;
            sfx::TerminalProgressView view(true, nullptr, out, {}, &strings,
                                           [width] { return width; });
            view.Show(true);
            view.SetText(strings.GetText("SfxProgressText"));
            const std::string title = strings.GetText("SfxProgressTitle");
            for (int percent = 0; percent <= 100; ++percent) {
                std::string text = title;
                text.replace(text.find("%d"), 2, std::to_string(percent));
                text.replace(text.find("%%"), 2, "%");
                view.SetTitle(text);
            }
            view.SetText(strings.GetText("StartSetup"));
            view.EndStatusLine(false);
            const std::string written = out.str();
            ASSERT_EQ(written.find('\n'), written.size() - 1) << written;
            // Each redraw: back to the start, the line, erase the rest.
            std::size_t draws = 0;
            for (std::size_t at = written.find('\r'); at != std::string::npos;
                 at = written.find('\r', at + 1)) {
                const std::size_t end = written.find("\x1b[K", at);
                ASSERT_NE(end, std::string::npos);
                EXPECT_LT(platform::DisplayColumns(written.substr(at + 1, end - at - 1)), width);
                ++draws;
            }
            EXPECT_GE(draws, 100u);
        }
    }
}

// After a failure the next status is a line of its own, not glued to the progress title.
TEST(TerminalText, StatusAfterAFailureStandsAlone) {
    std::ostringstream out;
    sfx::TerminalProgressView view(true, nullptr, out, {}, nullptr, [] { return 80; });
    view.Show(true);
    view.SetText("Preparing files...");
    view.SetTitle("37 % Extracting...");
    view.EndStatusLine(false);
    view.SetTitle("0 % Extracting...");
    view.SetText("Deleting temporary files...");
    view.Show(false);
    const std::string written = out.str();
    const std::size_t lastLine = written.rfind('\n', written.size() - 2);
    ASSERT_NE(lastLine, std::string::npos) << written;
    EXPECT_EQ(written.substr(lastLine), "\n\rDeleting temporary files...\x1b[K\n") << written;
}

// Frame, default mark and prompt in the run's language, the English ones nowhere.
TEST(TerminalText, BoxesSpeakTheRunsLanguage) {
    struct Case {
        const char* culture;
        std::vector<std::string> words;
    };
    const Case cases[] = {
        {"en-US", {"[Setup - Question]", "1) Overwrite all (default)", "Choose 1-3 [1]: "}},
        {"de",
         {"[Setup - Frage]", "1) Alle \u00fcberschreiben (Standard)", "W\u00e4hlen Sie 1-3 [1]: "}},
        {"ja-JP", {"[Setup - \u78ba\u8a8d]", "(\u65e2\u5b9a)", "1-3 \u304b\u3089\u9078\u629e"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.culture);
        const auto table = Table(c.culture);
        const IStringResources& strings = *table;
        MessageBoxContent box;
        box.caption = "Setup";
        box.content = "?";
        box.iconKind = IconKind::Question;
        box.buttons = {{kIdOk, true, strings.GetText("OverwriteAllButton")},
                       {kIdRetry, false, strings.GetText("Retry")},
                       {kIdCancel, false, strings.GetText("Cancel")}};
        std::istringstream in("");
        std::ostringstream out;
        EXPECT_EQ(TerminalMessageBox(&in, out, &strings).Show(box), kIdCancel);
        for (const auto& word : c.words)
            EXPECT_NE(out.str().find(word), std::string::npos) << word << "\n" << out.str();
        // Ended prompt: one line that says so.
        EXPECT_NE(out.str().find("\n" + strings.GetText("TerminalCancelled") + "\n"),
                  std::string::npos)
            << out.str();
        if (std::string(c.culture) != "en-US") {
            for (const char* english : {"Question", "(default)", "Choose", "Cancelled"})
                EXPECT_EQ(out.str().find(english), std::string::npos) << english << "\n"
                                                                      << out.str();
        }
    }
}

// A Yes/No question takes y/n and the initials of the language's own words, in either case.
TEST(TerminalText, YesNoTakesTheLanguagesInitials) {
    CtypeLocale locale("C.UTF-8");
    struct Case {
        const char* culture;
        std::string typed;
        int answer;
    };
    const Case cases[] = {
        {"en-US", "y", kIdYes},      {"en-US", "N", kIdNo},       {"en-US", "yes", kIdYes},
        {"de", "j", kIdYes},         {"de", "J", kIdYes},         {"de", "y", kIdYes},
        {"de", "n", kIdNo},          {"de", "nein", kIdNo},       {"fr", "o", kIdYes},
        {"ru-RU", "\u0434", kIdYes}, {"ru-RU", "\u0414", kIdYes}, {"ru-RU", "\u043d", kIdNo},
        {"el-GR", "\u03bd", kIdYes}, {"el-GR", "\u038c", kIdNo},  {"el-GR", "\u03cc", kIdNo},
        {"ja-JP", "\u306f", kIdYes}, {"ja-JP", "y", kIdYes},      {"ja-JP", "n", kIdNo},
        {"pl-PL", "t", kIdYes},      {"cs-CZ", "a", kIdYes},      {"de", "x\nj", kIdYes},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.culture) + ": " + c.typed);
        const auto table = Table(c.culture);
        const IStringResources& strings = *table;
        MessageBoxContent box;
        box.content = strings.GetText("VerifyCancel");
        box.iconKind = IconKind::Question;
        box.buttons = ButtonsForType(kMbYesNo | kMbDefButton2, &strings);
        std::istringstream in(c.typed + "\n");
        std::ostringstream out;
        EXPECT_EQ(TerminalMessageBox(&in, out, &strings).Show(box), c.answer) << out.str();
    }
    // The prompt names the initials, the default one in brackets.
    const auto germanTable = Table("de");
    const IStringResources& german = *germanTable;
    MessageBoxContent box;
    box.buttons = ButtonsForType(kMbYesNo | kMbDefButton2, &german);
    std::istringstream in("\n");
    std::ostringstream out;
    EXPECT_EQ(TerminalMessageBox(&in, out, &german).Show(box), kIdNo);
    EXPECT_NE(out.str().find("Antwort (J/N) [N]: "), std::string::npos) << out.str();
}

} // namespace
