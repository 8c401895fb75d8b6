// The password question: hidden entry, Enter and Esc, and the refusal of an entry the
// extraction could not take whole.

#include "cptlib/ui/MessageBox.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "support/QtWindows.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using sfx::CEnterPasswordDlg;

class EnterPasswordDlgTest : public ::testing::Test {
protected:
    void SetUp() override { testsupport::EnsureQApplication(); }
    testsupport::PresenterScope boxes;
};

TEST_F(EnterPasswordDlgTest, EnterAcceptsTheHiddenEntry) {
    // Without a product name (an earlier test of the process may have set one).
    cptlib::SetAppName("");
    CEnterPasswordDlg dialog;
    testsupport::WhenModal([](QWidget* modal) {
        auto* password = static_cast<CEnterPasswordDlg*>(modal);
        EXPECT_EQ(password->Edit()->echoMode(), QLineEdit::Password);
        EXPECT_EQ(password->focusWidget(), password->Edit());
        EXPECT_EQ(password->windowTitle(), "Setup Self-Extractor");
        QTest::keyClicks(password->Edit(), "pa55 w");
        password->Edit()->insert(QStringLiteral("ö"));
        QTest::keyClicks(password->Edit(), "rd");
        testsupport::SaveScreenshot(*password, "password");
        QTest::keyClick(password->Edit(), Qt::Key_Return);
    });
    EXPECT_EQ(dialog.DoModal(), cptlib::kIdOk);
    EXPECT_EQ(dialog.Password(), "pa55 wörd");
    EXPECT_TRUE(boxes.presenter->shown.empty());
}

TEST_F(EnterPasswordDlgTest, EscapeAndCancelRefuse) {
    for (const bool useButton : {false, true}) {
        CEnterPasswordDlg dialog;
        testsupport::WhenModal([useButton](QWidget* modal) {
            auto* password = static_cast<CEnterPasswordDlg*>(modal);
            QTest::keyClicks(password->Edit(), "typed");
            if (useButton)
                QTest::mouseClick(password->CancelButton(), Qt::LeftButton);
            else
                QTest::keyClick(password->Edit(), Qt::Key_Escape);
        });
        EXPECT_NE(dialog.DoModal(), cptlib::kIdOk);
        EXPECT_EQ(dialog.Password(), "");
    }
}

TEST_F(EnterPasswordDlgTest, AnEntryLongerThanTheBufferIsRefusedNotCut) {
    struct Case {
        QString entry;
        bool accepted;
    };
    const Case cases[] = {
        {QString(1023, 'a'), true},
        {QString(1024, 'a'), false},
        // The limit counts bytes of UTF-8: 512 × "é" needs 1024.
        {QString(511, QChar(0xE9)) + "a", true},
        {QString(512, QChar(0xE9)), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry.size());
        boxes.presenter->shown.clear();
        CEnterPasswordDlg dialog;
        dialog.show();
        dialog.Edit()->setText(c.entry);
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        if (c.accepted) {
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.Password(), c.entry.toStdString());
            EXPECT_TRUE(boxes.presenter->shown.empty());
            continue;
        }
        // Refused with a word why; the dialog stays for a shorter entry.
        ASSERT_EQ(boxes.presenter->shown.size(), 1u);
        EXPECT_NE(boxes.presenter->shown[0].content.find("too long"), std::string::npos);
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(dialog.Password(), "");
        EXPECT_EQ(dialog.Edit()->selectedText(), c.entry);
        QTest::keyClick(dialog.Edit(), Qt::Key_End);
        QTest::keyClick(dialog.Edit(), Qt::Key_Backspace);
        QTest::keyClick(dialog.Edit(), Qt::Key_Return);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.Password(), c.entry.chopped(1).toStdString());
    }
}

} // namespace
