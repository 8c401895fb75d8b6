// The language dialog: sorted display names, the preselection, OK, Esc and keyboard choice.

#include "launcher/gui/UnzipLanguageDlg.h"
#include "support/QtWindows.h"

#include <QComboBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace sfx;

cptlib::CultureMap Offer(const std::vector<std::string>& cultures) {
    cptlib::CultureMap map;
    for (const std::string& culture : cultures)
        map.emplace(culture, cptlib::GetCultureDisplayName(culture));
    return map;
}

std::vector<std::string> Lines(const QComboBox& list) {
    std::vector<std::string> lines;
    for (int i = 0; i < list.count(); ++i)
        lines.push_back(list.itemText(i).toStdString());
    return lines;
}

TEST(PreselectedLine, PrefixSearchFromTheSecondLine) {
    const std::vector<std::string> names = {"", "Deutsch (Deutschland)", "English (Canada)",
                                            "English (United States)", "Français (France)"};
    struct Case {
        std::string wanted;
        std::size_t line;
    };
    const Case cases[] = {
        {"English (United States)", 3},
        {"english (united states)", 3}, // letter case ignored
        {"Deutsch (Deutschland)", 1},
        {"FRANÇAIS (FRANCE)", 4},      // beyond ASCII too
        {"English", 2},                // a prefix finds the first line it begins
        {"Nederlands (Nederland)", 0}, // nothing found: the first line
        {"", 0},                       // an unnamed culture keeps the unnamed line
    };
    for (const Case& c : cases)
        EXPECT_EQ(PreselectedLine(names, c.wanted), c.line) << c.wanted;
    // The first line is found last, after wrapping around.
    EXPECT_EQ(PreselectedLine({"Dansk (Danmark)", "Deutsch (Deutschland)"}, "Dansk"), 0u);
    EXPECT_EQ(PreselectedLine({"Deutsch (Deutschland)", "Deutsch (Österreich)"}, "Deutsch"), 1u);
    EXPECT_EQ(PreselectedLine({}, "Deutsch"), 0u);
}

class UnzipLanguageDlgTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureQApplication(); }
    std::unique_ptr<zqmsi::InstallStringResources> strings =
        testsupport::LoadStringTable("en-US.xml");
};

TEST_F(UnzipLanguageDlgTest, SortedNamesPreselectionAndOk) {
    const cptlib::CultureMap cultures = Offer({"en-US", "de-DE", "cs-CZ", "ja-JP", "fr-FR"});
    std::string selected = "de-DE";
    testsupport::WhenModal([&](QWidget* modal) {
        auto* dialog = static_cast<CUnzipLanguageDlg*>(modal);
        EXPECT_EQ(Lines(*dialog->CultureList()),
                  (std::vector<std::string>{"Čeština (Česká republika)", "Deutsch (Deutschland)",
                                            "English (United States)", "Français (France)",
                                            "日本語 (日本)"}));
        EXPECT_EQ(dialog->CultureList()->currentText().toStdString(), "Deutsch (Deutschland)");
        EXPECT_EQ(dialog->focusWidget(), dialog->CultureList());
        EXPECT_EQ(dialog->windowTitle().toStdString(), strings->GetText("LanguageSelectionTitle"));
        testsupport::SaveScreenshot(*dialog, "language");
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(RunLanguageDialogWindow(cultures, selected, *strings), cptlib::kIdOk);
    EXPECT_EQ(selected, "de-DE");
}

TEST_F(UnzipLanguageDlgTest, KeyboardChoiceAndEnter) {
    const cptlib::CultureMap cultures = Offer({"en-US", "de-DE", "fr-FR"});
    std::string selected = "en-US";
    testsupport::WhenModal([](QWidget* modal) {
        auto* dialog = static_cast<CUnzipLanguageDlg*>(modal);
        QTest::keyClick(dialog->CultureList(), Qt::Key_Down);
        EXPECT_EQ(dialog->CultureList()->currentText().toStdString(), "Français (France)");
        QTest::keyClick(dialog->CultureList(), Qt::Key_Return);
    });
    EXPECT_EQ(RunLanguageDialogWindow(cultures, selected, *strings), cptlib::kIdOk);
    EXPECT_EQ(selected, "fr-FR");
}

TEST_F(UnzipLanguageDlgTest, EscapeCancelsAndKeepsTheChoice) {
    std::string selected = "en-US";
    testsupport::WhenModal([](QWidget* modal) {
        auto* dialog = static_cast<CUnzipLanguageDlg*>(modal);
        QTest::keyClick(dialog->CultureList(), Qt::Key_Down);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    EXPECT_EQ(RunLanguageDialogWindow(Offer({"en-US", "de-DE", "fr-FR"}), selected, *strings),
              cptlib::kIdCancel);
    EXPECT_EQ(selected, "en-US");
}

TEST_F(UnzipLanguageDlgTest, UnnamedCulturesShareTheEmptyLine) {
    // Two cultures without a display name: the empty line stands for the first in map order,
    // and an unnamed preselection does not jump to a named line.
    const cptlib::CultureMap cultures = Offer({"xx-YY", "aa-BB", "de-DE"});
    std::string selected = "xx-YY";
    testsupport::WhenModal([](QWidget* modal) {
        auto* dialog = static_cast<CUnzipLanguageDlg*>(modal);
        EXPECT_EQ(Lines(*dialog->CultureList()),
                  (std::vector<std::string>{"", "", "Deutsch (Deutschland)"}));
        EXPECT_EQ(dialog->CultureList()->currentText(), QString());
        QTest::keyClick(dialog->CultureList(), Qt::Key_Return);
    });
    EXPECT_EQ(RunLanguageDialogWindow(cultures, selected, *strings), cptlib::kIdOk);
    EXPECT_EQ(selected, "aa-BB");
}

TEST_F(UnzipLanguageDlgTest, GermanAndJapaneseTextsFit) {
    for (const char* table : {"en-US.xml", "de.xml", "ja-JP.xml", "el-GR.xml"}) {
        SCOPED_TRACE(table);
        const auto texts = testsupport::LoadStringTable(table);
        CUnzipLanguageDlg dialog(nullptr, Offer({"en-US", "de-DE", "ja-JP"}), "ja-JP", *texts);
        dialog.show();
        for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            EXPECT_TRUE(dialog.rect().contains(child->geometry()));
        for (QPushButton* button : {dialog.OkButton(), dialog.CancelButton()})
            EXPECT_LE(button->sizeHint().width(), button->width());
        EXPECT_EQ(dialog.CultureList()->currentText().toStdString(), "日本語 (日本)");
        testsupport::SaveScreenshot(dialog, std::string("language-") +
                                                std::filesystem::path(table).stem().string());
    }
}

} // namespace
