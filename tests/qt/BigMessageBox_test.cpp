#include "cptlib/localization/MemStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/qt/BigMessageBox.h"
#include "cptlib/ui/qt/QtMessageBoxPresenter.h"
#include "support/QtApp.h"
#include "support/StringTables.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTest>
#include <QTextBlock>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace cptlib;

MessageBoxContent Content(const std::string& text, std::uint32_t type = kMbOk,
                          std::uint32_t flags = 0, const IStringResources* strings = nullptr) {
    MessageBoxContent box;
    box.caption = "Setup";
    box.content = text;
    box.iconKind = IconKindFromType(type);
    box.flags = flags;
    box.buttons = ButtonsForType(type, strings);
    return box;
}

// A box shown (not modally) at the given density.
std::unique_ptr<CBigMessageBox> Show(const MessageBoxContent& content, int dpi = 96) {
    testsupport::EnsureQApplication();
    auto box = std::make_unique<CBigMessageBox>(content);
    box->SetPixelsPerInch(dpi);
    box->show();
    QApplication::processEvents();
    return box;
}

std::string TallText(int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i)
        text += "Line " + std::to_string(i) + " of a message that goes on\n";
    return text;
}

// The centre of the character at `offset` inside the first occurrence of `needle`, in the
// coordinates of the text control's viewport.
QPoint PointOf(CRichEditCtrlEx* text, const QString& needle, int offset = 1) {
    const int at = text->document()->toPlainText().indexOf(needle);
    EXPECT_GE(at, 0) << needle.toStdString();
    QTextCursor left(text->document());
    left.setPosition(at + offset);
    QTextCursor right(text->document());
    right.setPosition(at + offset + 1);
    const QRect a = text->cursorRect(left);
    const QRect b = text->cursorRect(right);
    return QPoint((a.left() + b.left()) / 2, a.center().y());
}

// Runs `action` on the next modal QMessageBox that opens, from inside its loop.
void OnNextErrorBox(std::function<void(QMessageBox*)> action) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            action(box);
        }
    });
    timer->start();
}

constexpr int kWrapped = -1;  // width: the margin, the widest text and, when tall, a scroll bar
constexpr int kGrows = -1;    // height: taller than a box with the tallest text
constexpr int kFits = -2;     // height: between the shortest and the tallest box
constexpr int kOnScreen = -3; // height: taller than the tallest box, within the screen

struct SizeCase {
    const char* name;
    int dpi;
    std::string text;
    std::uint32_t type;
    std::uint32_t flags;
    int width;
    int height;
    bool scroll;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << c.name;
}

class MessageBoxSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(MessageBoxSize, FollowsTheTextAndTheDensity) {
    const SizeCase& c = GetParam();
    const auto box = Show(Content(c.text, c.type, c.flags), c.dpi);
    const MessageBoxMetrics& m = box->Metrics();
    const int scrollBar =
        box->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, box->TextControl());
    const int tallest = 2 * m.verticalMargin + m.maxTextHeight + box->FooterHeight();
    const int shortest = 2 * m.verticalMargin + m.minTextHeight + box->FooterHeight();
    EXPECT_EQ(box->IsScrollMode(), c.scroll);
    if (c.width == kWrapped)
        EXPECT_EQ(box->width(), m.horizontalMargin + m.maxTextWidth +
                                    (c.scroll || c.height == kGrows ? scrollBar : 0));
    else
        EXPECT_EQ(box->width(), c.width);
    if (c.height == kGrows) {
        EXPECT_GT(box->height(), tallest);
    } else if (c.height == kOnScreen) {
        EXPECT_GT(box->height(), tallest);
        EXPECT_LE(box->height(), box->screen()->availableGeometry().height());
    } else if (c.height == kFits) {
        EXPECT_GT(box->height(), shortest);
        EXPECT_LE(box->height(), tallest);
    } else {
        EXPECT_EQ(box->height(), c.height);
    }
    EXPECT_EQ(box->FooterHeight(), c.dpi / 96 + m.buttonHeight + 2 * m.verticalMargin);
    if (box->IconControl() != nullptr) {
        EXPECT_EQ(box->IconControl()->geometry(),
                  QRect(m.horizontalMargin, m.verticalMargin, m.iconWidth, m.iconHeight));
        // Drawn for the screen's pixels, whatever their ratio.
        EXPECT_EQ(box->IconControl()->pixmap().size(),
                  QSize(m.iconWidth, m.iconHeight) * box->devicePixelRatioF());
    }
    EXPECT_EQ(box->MinTrackSize(), box->size());

    CRichEditCtrlEx* text = box->TextControl();
    EXPECT_EQ(text->IsLabelMode(), !c.scroll);
    if (!c.scroll) {
        // Nothing cut off: every line lies inside the control.
        EXPECT_LE(text->document()->size().height(), text->viewport()->height());
        EXPECT_LE(text->document()->idealWidth(), text->viewport()->width());
        EXPECT_EQ(text->verticalScrollBar()->maximum(), 0);
        EXPECT_FALSE(box->HasGrip());
        EXPECT_EQ(box->minimumSize(), box->maximumSize());
    } else {
        EXPECT_GT(text->verticalScrollBar()->maximum(), 0);
        EXPECT_EQ(text->verticalScrollBar()->value(), 0);
        EXPECT_TRUE(box->HasGrip());
        EXPECT_EQ(box->minimumSize(), box->size());
        EXPECT_GT(box->maximumHeight(), box->height());
    }
    // The buttons sit in the footer, right-aligned, inside the box.
    const QPushButton* last = box->ButtonControls().back();
    EXPECT_EQ(last->geometry().right() + 1, box->width() - m.horizontalMargin);
    EXPECT_EQ(last->geometry().bottom() + 1, box->height() - m.verticalMargin);
    EXPECT_EQ(last->height(), m.buttonHeight);
}

const std::string kLongLine = std::string(40, 'w') + " " + std::string(200, 'x') + " end";

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxSize,
    ::testing::Values(
        // One line: the minimum text height and the minimum button-row width.
        SizeCase{"one_line_96", 96, "Done.", kMbOk, 0, 270, 12 + 60 + 12 + 1 + 26 + 24, false},
        SizeCase{"one_line_192", 192, "Done.", kMbOk, 0, 540, 24 + 120 + 24 + 2 + 52 + 48, false},
        SizeCase{"one_line_icon_96", 96, "Done.", kMbOk | kMbIconError, 0, 270, 135, false},
        SizeCase{"one_line_icon_192", 192, "Done.", kMbOk | kMbIconError, 0, 540, 270, false},
        // A long line wraps at the maximum text width.
        SizeCase{"wrapped_96", 96, kLongLine + "\n" + kLongLine, kMbOk, 0, kWrapped, kFits, false},
        SizeCase{"wrapped_192", 192, kLongLine + "\n" + kLongLine, kMbOk, 0, kWrapped, kFits,
                 false},
        // Too tall: scrolls in a resizable box, or grows with the no-height-limit flag.
        SizeCase{"tall_96", 96, TallText(40) + kLongLine, kMbOk, 0, kWrapped, 12 + 360 + 12 + 51,
                 true},
        SizeCase{"tall_192", 192, TallText(40) + kLongLine, kMbOk, 0, kWrapped, 24 + 720 + 24 + 102,
                 true},
        SizeCase{"tall_no_limit_96", 96, TallText(24) + kLongLine, kMbOk, MBF_NO_HEIGHT_LIMIT,
                 kWrapped, kGrows, false},
        // Taller than the screen (800 × 600 offscreen): scrolls all the same, so that the
        // buttons stay reachable.
        SizeCase{"taller_than_the_screen", 96, TallText(80) + kLongLine, kMbOk, MBF_NO_HEIGHT_LIMIT,
                 kWrapped, kOnScreen, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BigMessageBox, TextBesideTheIconAndButtonsMeasuredFromTheirCaptions) {
    testsupport::EnsureQApplication();
    CBigMessageBox box(nullptr, nullptr, nullptr, nullptr, IconKind::Warning, 0);
    box.AddButton(100, "A &much longer caption than the minimum", false);
    box.AddButton(101, "&Short", true);
    box.SetPixelsPerInch(96);
    box.show();
    QApplication::processEvents();
    const auto buttons = box.ButtonControls();
    ASSERT_EQ(buttons.size(), 2u);
    const QFontMetrics fm(box.font());
    EXPECT_EQ(buttons[0]->width(),
              fm.horizontalAdvance("A much longer caption than the minimum") + 16);
    EXPECT_EQ(buttons[1]->width(), 90);
    EXPECT_EQ(buttons[1]->x() - buttons[0]->geometry().right() - 1, 8);
    // The row is wider than the minimum, so it sets the box's width.
    EXPECT_EQ(box.width(), buttons[0]->width() + 8 + 90 + 2 * 12);
    ASSERT_NE(box.IconControl(), nullptr);
    EXPECT_EQ(box.IconControl()->geometry(), QRect(12, 12, 32, 32));
    EXPECT_EQ(box.IconControl()->pixmap().size(), QSize(32, 32) * box.devicePixelRatioF());
    EXPECT_EQ(box.TextControl()->x(), 12 + 32 + 12);
    EXPECT_FALSE(box.IconControl()->pixmap().isNull());
    EXPECT_EQ(box.windowTitle().toStdString(), GetAppName());
}

TEST(BigMessageBox, ButtonsInOrderWithTheDefaultFocused) {
    const auto box = Show(Content("Continue?", kMbYesNoCancel | kMbIconQuestion | kMbDefButton2));
    const auto buttons = box->ButtonControls();
    ASSERT_EQ(buttons.size(), 3u);
    std::vector<int> ids;
    for (const QPushButton* b : buttons)
        ids.push_back(CBigMessageBox::ButtonId(b));
    EXPECT_EQ(ids, (std::vector<int>{kIdYes, kIdNo, kIdCancel}));
    EXPECT_LT(buttons[0]->x(), buttons[1]->x());
    EXPECT_LT(buttons[1]->x(), buttons[2]->x());
    EXPECT_EQ(buttons[0]->text(), "Yes");
    EXPECT_TRUE(buttons[1]->isDefault());
    EXPECT_FALSE(buttons[0]->isDefault());
    EXPECT_EQ(box->focusWidget(), buttons[1]);
}

TEST(BigMessageBox, WithoutButtonsOneOkButton) {
    testsupport::EnsureQApplication();
    MessageBoxContent content;
    content.content = "Nothing to choose.";
    const auto box = Show(content);
    ASSERT_EQ(box->ButtonControls().size(), 1u);
    EXPECT_EQ(CBigMessageBox::ButtonId(box->ButtonControls()[0]), kIdOk);
    EXPECT_EQ(box->ButtonControls()[0]->text(), "OK");
    QTest::keyClick(box->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(box->result(), kIdOk);
}

struct KeyCase {
    const char* name;
    std::uint32_t type;
    std::uint32_t flags;
    int focusIndex; // -1: leave the focus on the default button
    std::function<void(CBigMessageBox&)> act;
    int result; // 0: the box stays open
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class MessageBoxKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(MessageBoxKeys, EndTheBoxWithTheRightId) {
    const KeyCase& c = GetParam();
    const auto box = Show(Content("Question?", c.type | kMbIconQuestion, c.flags));
    if (c.focusIndex >= 0)
        box->ButtonControls()[c.focusIndex]->setFocus();
    c.act(*box);
    QApplication::processEvents();
    if (c.result == 0) {
        EXPECT_TRUE(box->isVisible());
        EXPECT_EQ(box->result(), 0);
    } else {
        EXPECT_FALSE(box->isVisible());
        EXPECT_EQ(box->result(), c.result);
    }
}

void Key(CBigMessageBox& box, Qt::Key key) {
    QWidget* target = box.focusWidget() ? box.focusWidget() : &box;
    QTest::keyClick(target, key);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxKeys,
    ::testing::Values(
        KeyCase{"esc", kMbYesNo, 0, -1, [](auto& b) { Key(b, Qt::Key_Escape); }, kIdCancel},
        KeyCase{"esc_no_close", kMbYesNo, MBF_NO_CLOSE, -1, [](auto& b) { Key(b, Qt::Key_Escape); },
                0},
        KeyCase{"close_box", kMbYesNo, 0, -1, [](auto& b) { b.close(); }, kIdCancel},
        KeyCase{"close_box_no_close", kMbYesNo, MBF_NO_CLOSE, -1, [](auto& b) { b.close(); }, 0},
        KeyCase{"enter_default_second", kMbYesNo | kMbDefButton2, 0, -1,
                [](auto& b) { Key(b, Qt::Key_Return); }, kIdNo},
        KeyCase{"enter_focused_first", kMbYesNo | kMbDefButton2, 0, 0,
                [](auto& b) { Key(b, Qt::Key_Enter); }, kIdYes},
        KeyCase{"space_on_focused", kMbAbortRetryIgnore, 0, 2,
                [](auto& b) { Key(b, Qt::Key_Space); }, kIdIgnore},
        KeyCase{"click_second", kMbYesNoCancel, 0, -1,
                [](auto& b) { QTest::mouseClick(b.ButtonControls()[1], Qt::LeftButton); }, kIdNo},
        KeyCase{"click_ok_with_cancel_focused", kMbOkCancel, 0, 1,
                [](auto& b) { QTest::mouseClick(b.ButtonControls()[0], Qt::LeftButton); }, kIdOk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BigMessageBox, DoModalReturnsThePressedId) {
    testsupport::EnsureQApplication();
    CBigMessageBox box(Content("Overwrite?", kMbYesNo | kMbDefButton2));
    QTimer::singleShot(0, &box, [&box] { QTest::keyClick(box.focusWidget(), Qt::Key_Return); });
    EXPECT_EQ(box.DoModal(), kIdNo);
}

TEST(BigMessageBox, ShowMessageBoxThroughThePresenter) {
    testsupport::EnsureQApplication();
    SetMessageBoxPresenter(std::make_shared<CQtMessageBoxPresenter>());
    QTimer::singleShot(0, [] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        QTest::keyClick(box->focusWidget(), Qt::Key_Escape);
    });
    const int result =
        ShowMessageBox("Stop the installation?", kMbYesNo | kMbIconQuestion, 0, 4, nullptr);
    SetMessageBoxPresenter(nullptr);
    EXPECT_EQ(result, kIdCancel);
}

TEST(BigMessageBox, CtrlCCopiesTheWholeText) {
    MessageBoxContent content = Content("First line\nsecond\tline", kMbOk | kMbIconInformation);
    content.mainInstruction = "Main";
    const auto box = Show(content);
    QApplication::clipboard()->setText("before");
    QTest::keyClick(box->focusWidget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "Main\n\nFirst line\nsecond\tline");
    EXPECT_TRUE(box->isVisible());
}

TEST(BigMessageBox, RichTextShowsAsWrittenWithoutTheMainInstruction) {
    MessageBoxContent content = Content("{\\rtf1 {\\b Bold} and {\\i italic}\\par second}");
    content.mainInstruction = "Main";
    const auto box = Show(content);
    EXPECT_EQ(box->PlainText().toStdString(), "Bold and italic\nsecond");
    const QTextBlock first = box->TextControl()->document()->begin();
    EXPECT_EQ(first.begin().fragment().text().toStdString(), "Bold");
    EXPECT_GE(first.begin().fragment().charFormat().fontWeight(), QFont::Bold);
}

TEST(BigMessageBox, CtrlCInAFocusedScrollingTextCopiesOnlyTheSelection) {
    const auto box = Show(Content(TallText(40)));
    ASSERT_TRUE(box->IsScrollMode());
    CRichEditCtrlEx* text = box->TextControl();
    // A button has the focus: the whole text.
    QApplication::clipboard()->setText("before");
    QTest::keyClick(box->focusWidget(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().startsWith("Line 1 of"));
    // The text has the focus and a selection: the selection, as a text field copies.
    text->setFocus();
    QTextCursor cursor(text->document());
    cursor.setPosition(0);
    cursor.setPosition(6, QTextCursor::KeepAnchor);
    text->setTextCursor(cursor);
    QTest::keyClick(text, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "Line 1");
}

TEST(BigMessageBox, KeysReachTheBoxFromAFocusedScrollingText) {
    for (const auto& [key, expected] :
         {std::pair{Qt::Key_Return, kIdNo}, std::pair{Qt::Key_Escape, kIdCancel}}) {
        const auto box = Show(Content(TallText(40), kMbYesNo | kMbDefButton2));
        ASSERT_TRUE(box->IsScrollMode());
        box->TextControl()->setFocus();
        ASSERT_EQ(box->focusWidget(), box->TextControl());
        QTest::keyClick(box->TextControl(), key);
        EXPECT_FALSE(box->isVisible());
        EXPECT_EQ(box->result(), expected);
    }
}

TEST(BigMessageBox, ResizingAScrollingBoxStretchesTheTextAndMovesTheButtons) {
    const auto box = Show(Content(TallText(40), kMbOkCancel));
    ASSERT_TRUE(box->IsScrollMode());
    const QRect text = box->TextControl()->geometry();
    const QRect button = box->ButtonControls()[1]->geometry();
    box->resize(box->width() + 100, box->height() + 50);
    QApplication::processEvents();
    EXPECT_EQ(box->TextControl()->geometry(), text.adjusted(0, 0, 100, 50));
    EXPECT_EQ(box->ButtonControls()[1]->geometry(), button.translated(100, 50));
    // Never smaller than at the start.
    box->resize(10, 10);
    QApplication::processEvents();
    EXPECT_EQ(box->size(), box->MinTrackSize());
}

struct LinkCase {
    const char* name;
    std::string text;
    std::uint32_t flags;
    QString clickOn;
    std::vector<std::string> started; // addresses handed to the desktop
};

void PrintTo(const LinkCase& c, std::ostream* os) {
    *os << c.name;
}

class MessageBoxLinks : public ::testing::TestWithParam<LinkCase> {};

TEST_P(MessageBoxLinks, ClickStartsTheAddress) {
    const LinkCase& c = GetParam();
    testsupport::EnsureQApplication();
    CBigMessageBox box(Content(c.text, kMbOk, c.flags));
    std::vector<std::string> started;
    box.SetLinkStarter([&](const std::string& address) { started.push_back(address); });
    box.SetPixelsPerInch(96);
    box.show();
    QApplication::processEvents();
    CRichEditCtrlEx* text = box.TextControl();
    QTest::mouseClick(text->viewport(), Qt::LeftButton, {}, PointOf(text, c.clickOn));
    EXPECT_EQ(started, c.started);
    EXPECT_TRUE(box.isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxLinks,
    ::testing::Values(
        LinkCase{"angle_marker",
                 "Visit <LINK our site|https://example.org/a?b=1&c=2> today.",
                 0,
                 "our site",
                 {"https://example.org/a?b=1&c=2"}},
        LinkCase{"hash_marker",
                 "Visit #LINK#our site#https://example.org/x## today.",
                 0,
                 "site",
                 {"https://example.org/x"}},
        LinkCase{
            "beside_the_link", "Visit <LINK our site|https://example.org/> today.", 0, "today", {}},
        LinkCase{"file_url_becomes_path",
                 "Files in <LINK the folder|file:///tmp/a%20b/>.",
                 0,
                 "folder",
                 {"/tmp/a b/"}},
        LinkCase{"recognised_address",
                 "See www.example.org for more.",
                 0,
                 "example",
                 {"http://www.example.org"}},
        LinkCase{"recognised_url",
                 "See https://example.org/path, then go on.",
                 0,
                 "example",
                 {"https://example.org/path"}},
        LinkCase{
            "recognition_off", "See www.example.org for more.", MBF_NO_AUTO_URL, "example", {}},
        LinkCase{"rich_text_as_is",
                 "{\\rtf1 Read {\\field{\\*\\fldinst{HYPERLINK \"https://example.org/r\"}}"
                 "{\\fldrslt{this}}} first.}",
                 0,
                 "this",
                 {"https://example.org/r"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BigMessageBox, LinkHandlerDecidesFirst) {
    testsupport::EnsureQApplication();
    for (const bool handled : {true, false}) {
        CBigMessageBox box(Content("Open <LINK the folder|file:///tmp/x/> now."));
        std::vector<std::string> calls;
        box.SetLinkHandler([&](const std::string& address, const std::string& text) {
            calls.push_back("handler " + address + " " + text);
            return handled;
        });
        box.SetLinkStarter(
            [&](const std::string& address) { calls.push_back("start " + address); });
        box.show();
        QApplication::processEvents();
        QTest::mouseClick(box.TextControl()->viewport(), Qt::LeftButton, {},
                          PointOf(box.TextControl(), "folder"));
        std::vector<std::string> expected{"handler /tmp/x/ the folder"};
        if (!handled)
            expected.push_back("start /tmp/x/");
        EXPECT_EQ(calls, expected);
    }
}

TEST(BigMessageBox, TheContentsLinkHandlerGetsTheAddress) {
    testsupport::EnsureQApplication();
    MessageBoxContent content = Content("Open <LINK the folder|file:///tmp/y%23/> now.");
    std::vector<std::string> handled;
    content.linkHandler = [&](const std::string& address) {
        handled.push_back(address);
        return true;
    };
    CBigMessageBox box(content);
    box.SetLinkStarter([](const std::string& address) { FAIL() << "started " << address; });
    box.show();
    QApplication::processEvents();
    QTest::mouseClick(box.TextControl()->viewport(), Qt::LeftButton, {},
                      PointOf(box.TextControl(), "folder"));
    EXPECT_EQ(handled, (std::vector<std::string>{"/tmp/y#/"}));
}

struct FlagCase {
    const char* name;
    std::uint32_t flags;
    Qt::WindowType type;
    bool closeButton;
    bool onTop;
};

void PrintTo(const FlagCase& c, std::ostream* os) {
    *os << c.name;
}

class MessageBoxFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(MessageBoxFlags, ShapeTheWindow) {
    const FlagCase& c = GetParam();
    const auto box = Show(Content("Text", kMbOk, c.flags));
    EXPECT_EQ(box->windowType(), c.type);
    EXPECT_EQ(box->windowFlags().testFlag(Qt::WindowCloseButtonHint), c.closeButton);
    EXPECT_EQ(box->windowFlags().testFlag(Qt::WindowStaysOnTopHint), c.onTop);
    EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_FALSE(box->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MessageBoxFlags,
    ::testing::Values(FlagCase{"none", 0, Qt::Dialog, true, false},
                      FlagCase{"no_close", MBF_NO_CLOSE, Qt::Dialog, false, false},
                      FlagCase{"topmost", MBF_TOPMOST, Qt::Dialog, true, true},
                      FlagCase{"own_taskbar_entry", MBF_TASKBAR_BUTTON, Qt::Window, true, false},
                      FlagCase{"show_message_box_hidden_main", 0x62, Qt::Window, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BigMessageBox, AFailingLinkIsReportedAndTheBoxStaysOpen) {
    testsupport::EnsureQApplication();
    SetAppName("Setup Self-Extractor");
    CBigMessageBox box(Content("Read <LINK the notes|https://example.org/n> first."));
    box.SetLinkStarter([](const std::string&) { throw std::runtime_error("no opener"); });
    box.show();
    QApplication::processEvents();
    std::string reported;
    QString title;
    OnNextErrorBox([&](QMessageBox* error) {
        reported = error->text().toStdString();
        title = error->windowTitle();
        EXPECT_EQ(error->icon(), QMessageBox::Critical);
        error->accept();
    });
    QTest::mouseClick(box.TextControl()->viewport(), Qt::LeftButton, {},
                      PointOf(box.TextControl(), "notes"));
    EXPECT_EQ(reported.rfind("https://example.org/n\n\n", 0), 0u) << reported;
    EXPECT_NE(reported.find("opener"), std::string::npos) << reported;
    EXPECT_EQ(title.toStdString(), "Setup Self-Extractor");
    EXPECT_TRUE(box.isVisible());
    SetAppName("");
}

TEST(BigMessageBox, LabelShowsTheHandOnlyOverLinksAndReportsTheWholeLink) {
    const auto box = Show(Content("Visit <LINK our site|https://example.org/> today."));
    CRichEditCtrlEx* text = box->TextControl();
    ASSERT_TRUE(text->IsLabelMode());
    EXPECT_EQ(text->focusPolicy(), Qt::NoFocus);
    const QPoint link = PointOf(text, "our site", 4);
    const QPoint plain = PointOf(text, "today");
    // Sent to the viewport itself: QTest's move lands elsewhere when Qt scales the screen.
    const auto moveTo = [&](const QPoint& at) {
        QMouseEvent move(QEvent::MouseMove, at, text->viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(text->viewport(), &move);
    };
    moveTo(link);
    EXPECT_EQ(text->viewport()->cursor().shape(), Qt::PointingHandCursor);
    moveTo(plain);
    EXPECT_EQ(text->viewport()->cursor().shape(), Qt::ArrowCursor);

    const QPoint inControl = text->viewport()->mapTo(text, link);
    EXPECT_TRUE(text->IsLinkAt(inControl));
    EXPECT_FALSE(text->IsLinkAt(text->viewport()->mapTo(text, plain)));
    const CharRange range = text->GetLinkRangeAt(inControl);
    const int start = text->document()->toPlainText().indexOf("our site");
    EXPECT_EQ(range, (CharRange{start, start + 8}));
    EXPECT_EQ(text->GetLinkRangeAt(text->viewport()->mapTo(text, plain)), CharRange{});
    // A press on plain text is left to the dialog and selects nothing.
    QTest::mouseClick(text->viewport(), Qt::LeftButton, {}, plain);
    EXPECT_FALSE(text->textCursor().hasSelection());
}

TEST(ResolveLink, RecognisedAddressesEndAtWhiteSpace) {
    LinkClick click;
    click.autoDetected = true;
    click.text = "www.example.org\tmore";
    EXPECT_EQ(ResolveLink(click).address, "http://www.example.org");
    click.text = "WWW.example.org";
    EXPECT_EQ(ResolveLink(click).address, "WWW.example.org");
    click.autoDetected = false;
    click.href = "";
    click.text = "text";
    EXPECT_EQ(ResolveLink(click).address, "");
}

// The string table of a culture, read from the tables in the source tree.
std::shared_ptr<MemStringResources> Table(const std::string& file) {
    testsupport::EnsureQApplication();
    auto strings = std::make_shared<MemStringResources>();
    for (const auto& [id, text] : testsupport::LoadStringMap(file))
        strings->SetText(id, text);
    return strings;
}

// An icon theme of one icon, "dialog-error", drawn in plain red; the previous theme comes back
// afterwards.
class OneIconTheme {
public:
    OneIconTheme() : paths_(QIcon::themeSearchPaths()), name_(QIcon::themeName()) {
        const QString root = QString::fromStdString(dir_.path().string());
        QDir().mkpath(root + "/one/48x48");
        std::ofstream(dir_.path() / "one" / "index.theme")
            << "[Icon Theme]\nName=one\nDirectories=48x48\n\n[48x48]\nSize=48\n";
        QImage red(48, 48, QImage::Format_ARGB32);
        red.fill(Qt::red);
        red.save(root + "/one/48x48/dialog-error.png");
        QIcon::setThemeSearchPaths({root});
        QIcon::setThemeName(QStringLiteral("one"));
    }
    ~OneIconTheme() {
        QIcon::setThemeSearchPaths(paths_);
        QIcon::setThemeName(name_);
    }
    OneIconTheme(const OneIconTheme&) = delete;
    OneIconTheme& operator=(const OneIconTheme&) = delete;

private:
    testsupport::TempDir dir_;
    QStringList paths_;
    QString name_;
};

// The icons come from the desktop's theme; what the theme lacks, the style draws. Either way
// the picture has the screen's pixels, not a scaled-up smaller one.
TEST(BigMessageBox, IconsFromTheDesktopThemeWithTheStyleAsFallback) {
    testsupport::EnsureQApplication();
    const OneIconTheme theme;
    struct Case {
        std::uint32_t type;
        bool themed;
    };
    for (const Case& c : {Case{kMbIconError, true}, Case{kMbIconQuestion, false},
                          Case{kMbIconInformation, false}, Case{kMbIconWarning, false}}) {
        SCOPED_TRACE(c.type);
        const auto box = Show(Content("Something happened.", kMbOk | c.type));
        const QIcon icon = CBigMessageBox::MessageIcon(IconKindFromType(c.type), box.get());
        EXPECT_EQ(icon.name().isEmpty(), !c.themed) << icon.name().toStdString();
        const QPixmap shown = box->IconControl()->pixmap();
        ASSERT_FALSE(shown.isNull());
        const QImage image = shown.toImage();
        const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_EQ(middle == QColor(Qt::red), c.themed);
        EXPECT_EQ(shown.devicePixelRatio(), box->devicePixelRatioF());
        EXPECT_EQ(shown.size(), QSize(box->Metrics().iconWidth, box->Metrics().iconHeight) *
                                    box->devicePixelRatioF());
    }
}

void Screenshot(CBigMessageBox& box, const std::string& name) {
    box.SetPixelsPerInch(96);
    box.show();
    QApplication::processEvents();
    const std::string path = testsupport::SaveScreenshot(box, name);
    EXPECT_FALSE(QPixmap(QString::fromStdString(path)).isNull()) << path;
}

TEST(BigMessageBoxScreenshots, ErrorWithDetails) {
    const auto strings = Table("en-US.xml");
    CBigMessageBox box(
        Content(strings->GetText("SfxErrorExtract") +
                    "\n\nCould not write the file "
                    "/tmp/vrnk3d9x0qa/product/cab1.cab\n\tThere is not enough space on the disk. "
                    "(112)\n\tFunction: write",
                kMbOk | kMbIconError, 0x42, strings.get()));
    Screenshot(box, "messagebox_error_details");
}

TEST(BigMessageBoxScreenshots, Question) {
    const auto strings = Table("en-US.xml");
    CBigMessageBox box(Content(strings->GetText("VerifyCancel"),
                               kMbYesNo | kMbIconQuestion | kMbDefButton2, 0x42, strings.get()));
    Screenshot(box, "messagebox_question");
}

TEST(BigMessageBoxScreenshots, Link) {
    const auto strings = Table("en-US.xml");
    MessageBoxContent content =
        Content("The files were extracted to <LINK vrnk3d9x0qa|file:///tmp/vrnk3d9x0qa/>.\n"
                "Release notes: #LINK#example.org/notes#https://example.org/notes##",
                kMbOk | kMbIconInformation, 0x42, strings.get());
    content.mainInstruction = "Extraction complete";
    CBigMessageBox box(content);
    Screenshot(box, "messagebox_link");
}

TEST(BigMessageBoxScreenshots, Scrolling) {
    testsupport::EnsureQApplication();
    CBigMessageBox box(Content(TallText(30), kMbRetryCancel | kMbIconWarning));
    Screenshot(box, "messagebox_scrolling");
    EXPECT_TRUE(box.IsScrollMode());
}

TEST(BigMessageBoxScreenshots, German) {
    const auto strings = Table("de.xml");
    CBigMessageBox box(
        Content(strings->GetText("SfxErrorBadArchive") + "\n\n" + strings->GetText("VerifyCancel"),
                kMbYesNoCancel | kMbIconWarning, 0x42, strings.get()));
    Screenshot(box, "messagebox_german");
}

TEST(BigMessageBoxScreenshots, Japanese) {
    const auto strings = Table("ja-JP.xml");
    CBigMessageBox box(
        Content(strings->GetText("SfxErrorBadArchive") + "\n\n" + strings->GetText("VerifyCancel"),
                kMbYesNo | kMbIconQuestion, 0x42, strings.get()));
    Screenshot(box, "messagebox_japanese");
}

// Each window kind a box takes, in the languages the screenshots show.
TEST(BigMessageBoxScreenshots, EachLanguage) {
    for (const char* table : {"en-US.xml", "de.xml", "ja-JP.xml", "el-GR.xml"}) {
        SCOPED_TRACE(table);
        const auto strings = Table(table);
        const std::string language = std::filesystem::path(table).stem().string();
        CBigMessageBox question(Content(strings->GetText("VerifyCancel"),
                                        kMbYesNo | kMbIconQuestion, 0, strings.get()));
        Screenshot(question, "messagebox-question-" + language);
        CBigMessageBox error(Content(strings->GetText("SfxErrorBadArchive"), kMbOk | kMbIconError,
                                     0, strings.get()));
        Screenshot(error, "messagebox-error-" + language);
        MessageBoxContent success = Content("", kMbOk | kMbIconInformation, 0, strings.get());
        success.mainInstruction = strings->GetText("ExtractSuccess");
        success.content =
            "<LINK /home/user/Demo Product 2026/|file:///home/user/Demo%20Product%202026/>";
        CBigMessageBox successBox(success);
        Screenshot(successBox, "messagebox-success-" + language);
    }
}

} // namespace
