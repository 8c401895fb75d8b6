#include "launcher/LanguageChoice.h"

#include "cptlib/localization/MemStringResources.h"
#include "cptlib/ui/MessageBox.h"

#include <gtest/gtest.h>

#include <sstream>
#include <unistd.h>

namespace {

using cptlib::CultureMap;

class LanguagePromptTest : public ::testing::Test {
protected:
    void SetUp() override {
        strings.SetText("LanguageSelectionTitle", "Installation Language");
        strings.SetText("LanguageSelection", "Please choose a language for this installation:");
        strings.SetText("Cancel", "Cancel");
    }

    // Runs the prompt on `input`; returns the result, keeps the output in `shown`.
    int Run(const CultureMap& cultures, std::string& selected, const std::string& input) {
        std::istringstream in(input);
        std::ostringstream out;
        const int result = sfx::PromptForLanguage(cultures, selected, strings, in, out);
        shown = out.str();
        return result;
    }

    cptlib::MemStringResources strings;
    std::string shown;
};

const CultureMap kThree = {
    {"en-US", "English (United States)"},
    {"fr-FR", "Français (France)"},
    {"de-DE", "Deutsch (Deutschland)"},
    {"cs-CZ", "Čeština (Česká republika)"},
};

TEST_F(LanguagePromptTest, ListsSortedNamesWithThePreselectionAsDefault) {
    std::string selected = "de-de";
    EXPECT_EQ(Run(kThree, selected, "\n"), cptlib::kIdOk);
    EXPECT_EQ(selected, "de-de");
    EXPECT_EQ(shown, "\n[Installation Language]\n"
                     "Please choose a language for this installation:\n"
                     "  1) Čeština (Česká republika)\n"
                     "* 2) Deutsch (Deutschland)\n"
                     "  3) English (United States)\n"
                     "  4) Français (France)\n"
                     "1-4 [2], q = Cancel: ");
}

TEST_F(LanguagePromptTest, Answers) {
    struct Case {
        std::string input;
        int result;
        std::string selected;
        int prompts;
    };
    const Case cases[] = {
        {"4\n", cptlib::kIdOk, "fr-FR", 1},
        {" 1 \n", cptlib::kIdOk, "cs-CZ", 1},
        {"\n", cptlib::kIdOk, "en-US", 1},
        {"q\n", cptlib::kIdCancel, "en-US", 1},
        {"Q", cptlib::kIdCancel, "en-US", 1},
        {"", cptlib::kIdCancel, "en-US", 1},
        {"0\n5\n2x\n-1\nabc\n2\n", cptlib::kIdOk, "de-DE", 6},
        {"9\n", cptlib::kIdCancel, "en-US", 2},
    };
    for (const auto& c : cases) {
        std::string selected = "en-US";
        EXPECT_EQ(Run(kThree, selected, c.input), c.result) << c.input;
        EXPECT_EQ(selected, c.selected) << c.input;
        std::size_t prompts = 0;
        for (auto pos = shown.find("q = Cancel: "); pos != std::string::npos;
             pos = shown.find("q = Cancel: ", pos + 1))
            ++prompts;
        EXPECT_EQ(prompts, static_cast<std::size_t>(c.prompts)) << c.input;
    }
}

TEST_F(LanguagePromptTest, UnknownCulturesShowEmptyLines) {
    const CultureMap cultures = {
        {"xx-YY", ""},
        {"zz-ZZ", ""},
        {"de-DE", "Deutsch (Deutschland)"},
    };
    // An empty line stands for the first culture of that name in map order...
    std::string selected = "de-DE";
    EXPECT_EQ(Run(cultures, selected, "2\n"), cptlib::kIdOk);
    EXPECT_EQ(selected, "xx-YY");
    EXPECT_NE(shown.find("  1) \n  2) \n* 3) Deutsch (Deutschland)\n"), std::string::npos);

    // ...but confirming the preselection keeps the automatic culture.
    selected = "zz-ZZ";
    EXPECT_EQ(Run(cultures, selected, "\n"), cptlib::kIdOk);
    EXPECT_EQ(selected, "zz-ZZ");
    EXPECT_NE(shown.find("* 2) \n"), std::string::npos);

    // The named line is not taken for an empty name's preselection.
    selected = "xx-YY";
    EXPECT_EQ(Run({{"xx-YY", ""}, {"de-DE", "Deutsch (Deutschland)"}}, selected, "\n"),
              cptlib::kIdOk);
    EXPECT_EQ(selected, "xx-YY");
}

TEST_F(LanguagePromptTest, PreselectionOutsideTheOfferTakesTheFirstLine) {
    std::string selected = "ja-JP";
    EXPECT_EQ(Run(kThree, selected, "\n"), cptlib::kIdOk);
    EXPECT_EQ(selected, "cs-CZ");
    EXPECT_NE(shown.find("1-4 [1]"), std::string::npos);
}

TEST_F(LanguagePromptTest, NothingOfferedKeepsTheChoice) {
    std::string selected = "de-DE";
    EXPECT_EQ(Run({}, selected, "q\n"), cptlib::kIdOk);
    EXPECT_EQ(selected, "de-DE");
}

TEST(LanguageDialog, WithoutATerminalTheAutomaticChoiceStands) {
    if (isatty(0) && isatty(2))
        GTEST_SKIP() << "runs at a terminal";
    cptlib::MemStringResources strings;
    std::string selected = "de-DE";
    EXPECT_EQ(sfx::RunLanguageDialog(kThree, selected, strings), cptlib::kIdOk);
    EXPECT_EQ(selected, "de-DE");
}

} // namespace
