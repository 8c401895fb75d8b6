// What the launcher's windows ask of a window manager and what the manager then allows: no
// minimising or maximising, and resizing only for a box whose text scrolls. Runs under
// with_window_manager.sh; skipped elsewhere.

#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/qt/BigMessageBox.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "launcher/gui/ProgressWindow.h"
#include "support/QtApp.h"

#include <QApplication>
#include <QDialog>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// One property of `window` as xprop prints it; empty while it is not set.
QString Property(QWidget& window, const char* name) {
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(window.winId()),
                                          QString::fromLatin1(name)});
    if (!xprop.waitForFinished(5000) || xprop.exitCode() != 0)
        return {};
    const QString out = QString::fromLocal8Bit(xprop.readAllStandardOutput());
    return out.contains(QLatin1Char('=')) ? out : QString();
}

// The functions and decorations the window asks of any manager that reads the Motif hints.
struct MotifHints {
    bool valid = false;
    unsigned flags = 0, functions = 0, decorations = 0;
};

MotifHints ReadMotifHints(QWidget& window) {
    const QString out = Property(window, "_MOTIF_WM_HINTS");
    const QStringList values = out.section(QLatin1Char('='), 1).split(QLatin1Char(','));
    MotifHints hints;
    if (values.size() < 3)
        return hints;
    bool ok[3] = {};
    hints.flags = values[0].trimmed().toUInt(&ok[0], 0);
    hints.functions = values[1].trimmed().toUInt(&ok[1], 0);
    hints.decorations = values[2].trimmed().toUInt(&ok[2], 0);
    hints.valid = ok[0] && ok[1] && ok[2];
    return hints;
}

constexpr unsigned kHintFunctions = 1, kHintDecorations = 2;
constexpr unsigned kFunctionAll = 1, kFunctionMinimize = 8, kFunctionMaximize = 16;
constexpr unsigned kDecorMinimize = 32, kDecorMaximize = 64;

class WindowManagerActions : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::getenv("SFX_WINDOW_MANAGER") == nullptr)
            GTEST_SKIP() << "needs a window manager (with_window_manager.sh)";
        testsupport::EnsureQApplication();
        cptlib::SetAppName("Demo");
    }
    void TearDown() override { cptlib::SetAppName(""); }

    // Shows `window`; checks what it asks for and what the manager then allows. Some managers
    // (openbox among them) keep minimising for every dialog whatever it asks, so that part is
    // checked on the request; resizing every manager takes from the fixed size.
    static void ExpectActions(QWidget& window, bool resizable) {
        window.show();
        QString actions;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                actions = Property(window, "_NET_WM_ALLOWED_ACTIONS");
                return actions.contains(QLatin1String("_NET_WM_ACTION_"));
            },
            10000))
            << "the window manager published no actions";
        // The manager recomputes them from the hints it reads after mapping; let it settle.
        QTest::qWait(200);
        actions = Property(window, "_NET_WM_ALLOWED_ACTIONS");
        EXPECT_EQ(actions.contains(QLatin1String("_NET_WM_ACTION_RESIZE")), resizable)
            << actions.toStdString();
        EXPECT_TRUE(actions.contains(QLatin1String("_NET_WM_ACTION_MOVE")))
            << actions.toStdString();

        const MotifHints hints = ReadMotifHints(window);
        ASSERT_TRUE(hints.valid) << Property(window, "_MOTIF_WM_HINTS").toStdString();
        EXPECT_TRUE(hints.flags & kHintFunctions) << "no functions given: all are allowed";
        EXPECT_FALSE(hints.functions & kFunctionAll) << hints.functions;
        EXPECT_FALSE(hints.functions & kFunctionMinimize) << hints.functions;
        EXPECT_FALSE(hints.functions & kFunctionMaximize) << hints.functions;
        // Without decorations of its own the window gets those of its functions.
        if (hints.flags & kHintDecorations) {
            EXPECT_FALSE(hints.decorations & kDecorMinimize) << hints.decorations;
            EXPECT_FALSE(hints.decorations & kDecorMaximize) << hints.decorations;
        }
        if (!resizable) {
            EXPECT_EQ(window.minimumSize(), window.maximumSize());
        }
        window.hide();
    }
};

cptlib::MessageBoxContent Box(const std::string& text, std::uint32_t flags) {
    cptlib::MessageBoxContent box;
    box.caption = "Demo";
    box.content = text;
    box.iconKind = cptlib::IconKind::Information;
    box.flags = flags;
    box.buttons = cptlib::ButtonsForType(cptlib::kMbOk, nullptr);
    return box;
}

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "Line " + std::to_string(i + 1) + " of a long message.\n";
    return text;
}

TEST_F(WindowManagerActions, MessageBoxes) {
    struct Case {
        const char* name;
        std::string text;
        std::uint32_t flags;
        bool scrolls;
    };
    const int screenLines = QGuiApplication::primaryScreen()->availableGeometry().height() / 8;
    const Case cases[] = {
        {"short", "Something happened.", 0, false},
        {"own taskbar entry", "Something happened.", cptlib::MBF_TASKBAR_BUTTON, false},
        {"no close button", "Something happened.", cptlib::MBF_NO_CLOSE, false},
        // Grows instead of scrolling while the screen has room: still a fixed size.
        {"tall, grows", Lines(30), cptlib::MBF_NO_HEIGHT_LIMIT, false},
        {"taller than the screen", Lines(screenLines), cptlib::MBF_NO_HEIGHT_LIMIT, true},
        {"tall, scrolls", Lines(60), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        cptlib::CBigMessageBox box(Box(c.text, c.flags));
        box.SetPixelsPerInch(96);
        ExpectActions(box, c.scrolls);
    }
}

TEST_F(WindowManagerActions, ProgressWindow) {
    for (const bool pretty : {true, false}) {
        SCOPED_TRACE(pretty);
        sfx::CProgressWindow view;
        ASSERT_TRUE(view.Create({pretty, "Demo Product", {}}));
        ExpectActions(*view.Window(), false);
    }
}

TEST_F(WindowManagerActions, PasswordWindow) {
    sfx::CEnterPasswordDlg dialog;
    ExpectActions(dialog, false);
}

} // namespace
