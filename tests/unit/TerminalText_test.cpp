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
// Yes/no questions (and the overwrite question, whose answers are OK and Cancel) take the
// language's words and the English ones, never a first letter that both answers share; a
// refused answer says why.
TEST(TerminalText, YesNoTakesTheLanguagesWords) {
    CtypeLocale locale("C.UTF-8");
    struct Case {
        const char* culture;
        std::string typed;
        int answer; // to Yes/No; the overwrite question answers OK for Yes, Cancel for No
        std::size_t refusals;
    };
    const Case cases[] = {
        {"en-US", "y", kIdYes, 0},
        {"en-US", "N", kIdNo, 0},
        {"en-US", " yes ", kIdYes, 0},
        {"en-US", "maybe\nno", kIdNo, 1},
        {"de", "j", kIdYes, 0},
        {"de", "Ja", kIdYes, 0},
        {"de", "y", kIdYes, 0},
        {"de", "nein", kIdNo, 0},
        {"de", "x\n3\nj", kIdYes, 2},
        {"fr", "oui", kIdYes, 0},
        {"ru-RU", "\u0414\u0430", kIdYes, 0},
        {"ru-RU", "\u043d", kIdNo, 0},
        {"el-GR", "\u03bd\u03b1\u03b9", kIdYes, 0},
        {"el-GR", "\u038c\u03c7\u03b9", kIdNo, 0},
        {"ja-JP", "\u306f\u3044", kIdYes, 0},
        {"ja-JP", "\u3044\u3044\u3048", kIdNo, 0},
        {"ja-JP", "y", kIdYes, 0},
        {"ja-JP", "n", kIdNo, 0},
        // The first kana of both words is no answer.
        {"ja-JP", "\u3044\n\u306f\n\u3044\u3044\u3048", kIdNo, 2},
        {"pl-PL", "tak", kIdYes, 0},
        {"tr-TR", "hay\u0131r", kIdNo, 0},
        {"zh-CN", "\u662f", kIdYes, 0},
        {"de", "1", kIdYes, 0},
        {"de", "2", kIdNo, 0},
        {"de", "", kIdNo, 0},
    };
    for (const auto& c : cases) {
        for (const bool overwrite : {false, true}) {
            SCOPED_TRACE(std::string(c.culture) + ": " + c.typed +
                         (overwrite ? " (overwrite)" : ""));
            const auto table = Table(c.culture);
            const IStringResources& strings = *table;
            MessageBoxContent box;
            box.content = strings.GetText("VerifyCancel");
            box.iconKind = IconKind::Question;
            box.buttons = ButtonsForType(kMbYesNo | kMbDefButton2, &strings);
            if (overwrite)
                box.buttons = {{kIdOk, false, strings.GetText("OverwriteAllButton")},
                               {kIdCancel, true, strings.GetText("Cancel")}};
            std::istringstream in(c.typed + "\n");
            std::ostringstream out;
            const int expected = !overwrite ? c.answer : (c.answer == kIdYes ? kIdOk : kIdCancel);
            EXPECT_EQ(TerminalMessageBox(&in, out, &strings).Show(box), expected) << out.str();
            // The refusal names the words the prompt shows.
            const auto first = [&strings](const char* id) {
                const std::string words = strings.GetText(id);
                return words.substr(0, words.find('|'));
            };
            const std::string refusal =
                FillIn(strings.GetText("TerminalAnswerYesNo"),
                       {first("TerminalYesWords"), first("TerminalNoWords")});
            std::size_t refusals = 0;
            for (auto at = out.str().find(refusal); at != std::string::npos;
                 at = out.str().find(refusal, at + 1))
                ++refusals;
            EXPECT_EQ(refusals, c.refusals) << out.str();
        }
    }
    // The prompt shows the language's words, the default one in brackets.
    const std::pair<const char*, const char*> prompts[] = {
        {"en-US", "Answer (y/n) [n]: "},
        {"de", "Antwort (j/n) [n]: "},
        {"ja-JP", "\u56de\u7b54 (\u306f\u3044/\u3044\u3044\u3048) [\u3044\u3044\u3048]\uff1a "},
    };
    for (const auto& [culture, prompt] : prompts) {
        const auto table = Table(culture);
        MessageBoxContent box;
        box.buttons = ButtonsForType(kMbYesNo | kMbDefButton2, table.get());
        std::istringstream in("\n");
        std::ostringstream out;
        EXPECT_EQ(TerminalMessageBox(&in, out, table.get()).Show(box), kIdNo);
        EXPECT_NE(out.str().find(prompt), std::string::npos) << out.str();
    }
}

// A box's text breaks between words (or between wide characters, never before a closing mark)
// so that no line is wider than the terminal; a line's indentation carries over.
TEST(TerminalText, BoxTextIsWrappedAtTheTerminalWidth) {
    CtypeLocale locale("C.UTF-8");
    struct Case {
        std::string text;
        int columns;
        std::string wrapped;
    };
    const Case cases[] = {
        {"Möchten Sie die Installation wirklich abbrechen?", 20,
         "Möchten Sie die\nInstallation\nwirklich abbrechen?"},
        {"short", 40, "short"},
        {"  /x [Ordner]: die Dateien nur entpacken", 20,
         "  /x [Ordner]: die\n  Dateien nur\n  entpacken"},
        {"one\n\ntwo three", 10, "one\n\ntwo three"},
        // A word longer than the line is cut at the line's end.
        {"/a/very/long/path/name", 10, "/a/very/lo\nng/path/na\nme"},
        // Two columns each; the full stop stays with its character.
        {"\u30d5\u30a1\u30a4\u30eb\u3002\u5c55\u958b", 10,
         "\u30d5\u30a1\u30a4\u30eb\u3002\n\u5c55\u958b"},
        {"no width", 0, "no width"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string wrapped = WrapToColumns(c.text, c.columns);
        EXPECT_EQ(wrapped, c.wrapped);
        std::size_t start = 0;
        while (c.columns > 0 && start <= wrapped.size()) {
            const std::size_t end = std::min(wrapped.find('\n', start), wrapped.size());
            EXPECT_LE(platform::DisplayColumns(wrapped.substr(start, end - start)), c.columns)
                << wrapped;
            EXPECT_NE(wrapped.substr(start, 3), "\u3002") << wrapped;
            start = end + 1;
        }
    }
    // The box uses the width it is given.
    const auto table = Table("de");
    MessageBoxContent box;
    box.content = table->GetText("VerifyCancel");
    box.buttons = ButtonsForType(kMbYesNo, table.get());
    std::istringstream in("j\n");
    std::ostringstream out;
    TerminalMessageBox(&in, out, table.get(), [] { return 20; }).Show(box);
    EXPECT_NE(out.str().find("M\u00f6chten Sie die\nInstallation\n"), std::string::npos)
        << out.str();
}

} // namespace
