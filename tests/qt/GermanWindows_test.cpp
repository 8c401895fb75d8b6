// A German run's windows speak German only: the overwrite question, the password question and
// Qt's own folder chooser (with Qt's translations) show no English word.

#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/qt/BigMessageBox.h"
#include "launcher/ExtractOnly.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "launcher/gui/FolderChooser.h"
#include "support/QtApp.h"
#include "support/StringTables.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace {

// What a user reads in the window: its title and every visible label, button and entry.
QStringList VisibleTexts(QWidget& window) {
    QStringList texts{window.windowTitle()};
    for (QWidget* child : window.findChildren<QWidget*>()) {
        if (!child->isVisibleTo(&window))
            continue;
        if (auto* label = qobject_cast<QLabel*>(child))
            texts << label->text();
        else if (auto* button = qobject_cast<QAbstractButton*>(child))
            texts << button->text() << button->toolTip();
        else if (auto* edit = qobject_cast<QLineEdit*>(child))
            texts << edit->placeholderText();
    }
    texts.removeAll(QString());
    return texts;
}

void ExpectNoEnglish(const QStringList& texts) {
    static const char* const kEnglish[] = {
        "The file",       "exists",   "Overwrite", "Cancel", "Enter",     "password",
        "Self-Extractor", "Look in",  "Directory", "Choose", "Folder",    "Files of type",
        "Back",           "Forward",  "Parent",    "Create", "List View", "Detail View",
        "Open",           "Question", "Warning"};
    const QString all = texts.join(QStringLiteral(" | "));
    for (const char* english : kEnglish)
        EXPECT_FALSE(all.contains(QLatin1String(english), Qt::CaseSensitive))
            << english << " in: " << all.toStdString();
}

class GermanWindowsScreenshots : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureQApplication();
        cptlib::SetUiStrings(german.get());
        cptlib::SetAppName("Demo");
    }
    void TearDown() override {
        cptlib::SetUiStrings(nullptr);
        // Qt's dialogs of later tests stay English.
        sfx::LoadQtTranslations();
        cptlib::SetAppName("");
    }
    std::unique_ptr<zqmsi::InstallStringResources> german = testsupport::LoadStringTable("de.xml");
};

TEST_F(GermanWindowsScreenshots, OverwriteQuestion) {
    cptlib::CBigMessageBox box(sfx::MakeOverwriteQuestion("/tmp/x/Handbuch.pdf", *german));
    box.SetPixelsPerInch(96);
    box.show();
    QApplication::processEvents();
    QStringList texts = VisibleTexts(box);
    texts << box.PlainText();
    EXPECT_TRUE(
        texts.join(' ').contains(QString::fromStdString(german->GetText("OverwriteFileExists"))))
        << texts.join(" | ").toStdString();
    ExpectNoEnglish(texts);
    testsupport::SaveScreenshot(box, "de_overwrite_question");
}

TEST_F(GermanWindowsScreenshots, PasswordWindow) {
    sfx::CEnterPasswordDlg dialog;
    dialog.show();
    QApplication::processEvents();
    const QStringList texts = VisibleTexts(dialog);
    EXPECT_TRUE(texts.contains(QString::fromStdString(german->GetText("TerminalPassword"))))
        << texts.join(" | ").toStdString();
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Demo"));
    ExpectNoEnglish(texts);
    testsupport::SaveScreenshot(dialog, "de_password");
}

TEST_F(GermanWindowsScreenshots, FolderChooser) {
    ASSERT_TRUE(sfx::LoadQtTranslations()) << "Qt's German translation is not installed "
                                              "(package qt6-translations-l10n)";
    // A folder of its own, so that the picture shows only what the test made.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char* name : {"Dokumente", "Produkt", "Vorlagen"})
        QDir(folder.path()).mkdir(QString::fromLatin1(name));
    const auto chooser = sfx::MakeFolderChooser(
        nullptr, QString::fromStdString(german->GetText("SelectTargetDir")), folder.path());
    // Qt's own dialog, the one shown where the desktop offers none.
    chooser->setOption(QFileDialog::DontUseNativeDialog, true);
    chooser->resize(640, 400);
    chooser->show();
    QApplication::processEvents();
    const QStringList texts = VisibleTexts(*chooser);
    // Qt's German words for its own labels.
    EXPECT_TRUE(texts.join(' ').contains(QStringLiteral("Verzeichnis")))
        << texts.join(" | ").toStdString();
    ExpectNoEnglish(texts);
    testsupport::SaveScreenshot(*chooser, "de_folder_chooser");
}

} // namespace
