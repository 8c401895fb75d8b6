// The dock entry's progress and the file manager's ShowItems, on a message bus of the test's
// own with a dock and a file manager played by the test.

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <mutex>
#include <vector>

// moc reads this file for the two classes below; the launcher's headers are not for it.
#ifndef Q_MOC_RUN
#include "cptlib/ui/qt/BigMessageBox.h"
#include "launcher/gui/DesktopBus.h"
#include "launcher/gui/ProgressWindow.h"
#include "support/Files.h"
#include "support/QtWindows.h"
#include "support/TempDir.h"

#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#endif

namespace testsupport {

class SignalRecorder : public QObject {
    Q_OBJECT

public:
    std::vector<QVariantMap> updates;
    QStringList apps;

public slots:
    void OnUpdate(const QDBusMessage& message) {
        apps << message.arguments().value(0).toString();
        updates.push_back(qdbus_cast<QVariantMap>(message.arguments().value(1)));
    }
};

class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QString failWith; // an error name to answer with instead of showing
    int calls = 0;
    QStringList lastUris;
    QString lastStartupId;
    std::mutex mutex;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) {
        std::lock_guard lock(mutex);
        ++calls;
        lastUris = uris;
        lastStartupId = startupId;
        if (!failWith.isEmpty())
            sendErrorReply(failWith, QStringLiteral("cannot show the items"));
    }
};

} // namespace testsupport

namespace {

using namespace sfx;
using testsupport::FakeFileManager;
using testsupport::SignalRecorder;
namespace fs = std::filesystem;

// Runs the event loop until `done` holds or a few seconds have passed.
bool SpinUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

TEST(TopLevelItems, OnlyItemsDirectlyInTheFolder) {
    EXPECT_EQ(TopLevelItems("/x/out/", {"a/", "a/b.txt", "c.txt", "d//", "e/f/", "", "/"}),
              (std::vector<std::string>{"/x/out/a", "/x/out/c.txt", "/x/out/d"}));
    EXPECT_EQ(TopLevelItems("/x/out", {"c.txt"}), (std::vector<std::string>{"/x/out/c.txt"}));
    EXPECT_TRUE(TopLevelItems("/x/out/", {"a/b/", "a/b.txt"}).empty());
}

class DesktopBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureQApplication();
        if (!bus.Running())
            GTEST_SKIP() << "no dbus-daemon to run a private bus";
        testsupport::WriteFile(temp / "out" / "a b" / "inner.txt", "x");
        testsupport::WriteFile(temp / "out" / "grüße.txt", "x");
        folder = (temp / "out").string() + "/";
    }
    void TearDown() override {
        if (managerThread.isRunning()) {
            managerThread.quit();
            managerThread.wait();
        }
    }

    // A file manager answering on the bus from a thread of its own, since the launcher's
    // call blocks this one.
    void StartFileManager() {
        QDBusConnection connection = bus.Connect(QStringLiteral("file-manager"));
        manager.moveToThread(&managerThread);
        managerThread.start();
        ASSERT_TRUE(connection.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
                                              &manager, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(connection.registerService(QStringLiteral("org.freedesktop.FileManager1")));
    }

    testsupport::PrivateBus bus;
    testsupport::PresenterScope boxes;
    FakeFileManager manager;
    QThread managerThread;
    testsupport::TempDir scratch;
    const fs::path temp = scratch.path();
    std::string folder;
};

TEST_F(DesktopBusTest, ShowItemsSelectsTheTopLevelItemsByFileUri) {
    StartFileManager();
    std::vector<std::string> opened;
    ShowExtractedItems(folder, {"a b/", "a b/inner.txt", "grüße.txt"},
                       bus.Connect(QStringLiteral("launcher")),
                       [&](const std::string& f) { opened.push_back(f); });
    std::lock_guard lock(manager.mutex);
    EXPECT_EQ(manager.calls, 1);
    const QString base = QStringLiteral("file://") + QString::fromStdString(folder);
    EXPECT_EQ(manager.lastUris, (QStringList{base + "a%20b", base + "gr%C3%BC%C3%9Fe.txt"}));
    EXPECT_TRUE(opened.empty());
}

TEST_F(DesktopBusTest, WithoutTopLevelItemsTheFolderItselfIsShown) {
    StartFileManager();
    ShowExtractedItems(folder, {}, bus.Connect(QStringLiteral("launcher")),
                       [](const std::string&) { FAIL() << "fell back"; });
    std::lock_guard lock(manager.mutex);
    EXPECT_EQ(manager.lastUris, QStringList{QStringLiteral("file://") +
                                            QString::fromStdString((temp / "out").string())});
}

TEST_F(DesktopBusTest, WithoutFileManagerTheFolderIsOpened) {
    std::vector<std::string> opened;
    const auto open = [&](const std::string& f) { opened.push_back(f); };
    // No file manager on the bus, then no bus at all.
    ShowExtractedItems(folder, {"grüße.txt"}, bus.Connect(QStringLiteral("launcher")), open);
    ShowExtractedItems(folder, {"grüße.txt"}, QDBusConnection(QStringLiteral("nothing")), open);
    EXPECT_EQ(opened, (std::vector<std::string>{folder, folder}));
}

TEST_F(DesktopBusTest, FailuresEndInAnErrorBoxNamingWhatFailed) {
    StartFileManager();
    manager.failWith = QStringLiteral("org.freedesktop.DBus.Error.Failed");
    struct Case {
        std::string folder;
        std::vector<std::string> names;
        std::string expected;
    };
    const Case cases[] = {
        {folder, {"grüße.txt"}, "Could not open folder:\n\"" + folder + "\""},
        {(temp / "missing").string(),
         {},
         "Could not convert extract folder to PIDL:\n\"" + (temp / "missing").string() + "/\""},
        {folder, {"gone.txt"}, "Could not convert path to PIDL:\n\"" + folder + "gone.txt\""},
    };
    QDBusConnection launcher = bus.Connect(QStringLiteral("launcher"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        boxes.presenter->shown.clear();
        OpenExtractFolder(c.folder, c.names, launcher,
                          [](const std::string&) { FAIL() << "fell back"; });
        ASSERT_EQ(boxes.presenter->shown.size(), 1u);
        EXPECT_EQ(boxes.presenter->shown[0].iconKind, cptlib::IconKind::Error);
        EXPECT_NE(boxes.presenter->shown[0].content.find(c.expected), std::string::npos)
            << boxes.presenter->shown[0].content;
    }
}

// The whole way: extraction done, the window's success box, a click on its link, the file
// manager asked for the top-level items.
TEST_F(DesktopBusTest, SuccessBoxLinkClickShowsTheExtractedItems) {
    StartFileManager();
    cptlib::SetAppName("Demo Product");
    const auto strings = testsupport::LoadStringTable("en-US.xml");
    ProgressDialogSettings settings;
    settings.productName = "Demo Product";
    settings.extractOnly = true;
    settings.extractDir = folder;
    settings.uiLevel = 4;
    CProgressWindow window(bus.Connect(QStringLiteral("launcher")));
    window.SetIcon(QIcon(QStringLiteral(SFX_SOURCE_DIR "/resources/app.ico")));
    int callsAfterClick = -1;
    std::string mainInstruction;
    testsupport::WhenModal([&](QWidget* modal) {
        auto* box = dynamic_cast<cptlib::CBigMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        mainInstruction = box->PlainText().toStdString();
        testsupport::SaveScreenshot(*box, "success");
        cptlib::CRichEditCtrlEx* text = box->TextControl();
        QPoint link(-1, -1);
        for (int y = 0; y < text->height() && link.x() < 0; y += 2)
            for (int x = 0; x < text->width() && link.x() < 0; x += 2)
                if (text->IsLinkAt({x, y}))
                    link = {x, y};
        ASSERT_GE(link.x(), 0) << "no link in the box";
        QTest::mouseClick(text->viewport(), Qt::LeftButton, {},
                          text->viewport()->mapFrom(text, link));
        {
            std::lock_guard lock(manager.mutex);
            callsAfterClick = manager.calls;
        }
        QTest::mouseClick(box->ButtonControls().at(0), Qt::LeftButton);
    });
    auto worker = std::make_unique<ExtractionWorker<testsupport::ScriptThread>>();
    worker->Get().names = {"a b/", "a b/inner.txt", "grüße.txt"};
    worker->Get().script = [](testsupport::ScriptThread& w) { w.Post(WM_SFX_EXTRACT_DONE); };
    CSelfExtractingDlg dialog(settings, *strings, window, std::move(worker));
    dialog.DoModal();
    EXPECT_EQ(dialog.ExitCode(), 0u);
    EXPECT_NE(mainInstruction.find(strings->GetText("ExtractSuccess")), std::string::npos);
    EXPECT_EQ(callsAfterClick, 1);
    std::lock_guard lock(manager.mutex);
    const QString base = QStringLiteral("file://") + QString::fromStdString(folder);
    EXPECT_EQ(manager.lastUris, (QStringList{base + "a%20b", base + "gr%C3%BC%C3%9Fe.txt"}));
}

TEST_F(DesktopBusTest, DockEntryFollowsProgressStateAndVisibility) {
    QDBusConnection dock = bus.Connect(QStringLiteral("dock"));
    SignalRecorder recorder;
    ASSERT_TRUE(dock.connect(QString(), QString(),
                             QStringLiteral("com.canonical.Unity.LauncherEntry"),
                             QStringLiteral("Update"), &recorder, SLOT(OnUpdate(QDBusMessage))));
    const auto last = [&] { return recorder.updates.back(); };
    {
        CTaskbarProgress entry(bus.Connect(QStringLiteral("launcher")),
                               QStringLiteral("application://demo.desktop"));
        entry.SetProgress(420); // hidden: nothing yet
        entry.SetVisible(true);
        ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 1; }));
        EXPECT_EQ(recorder.apps.back(), "application://demo.desktop");
        EXPECT_EQ(last().value("progress-visible").toBool(), true);
        EXPECT_DOUBLE_EQ(last().value("progress").toDouble(), 0.42);
        entry.SetProgress(1000);
        ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 2; }));
        EXPECT_DOUBLE_EQ(last().value("progress").toDouble(), 1.0);
        entry.SetState(ProgressBarState::Error);
        ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 3; }));
        EXPECT_EQ(last().value("urgent").toBool(), true);
        entry.SetState(ProgressBarState::Paused);
        ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 4; }));
        EXPECT_EQ(last().value("urgent").toBool(), false);
    }
    // Gone: the dock drops the progress.
    ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 5; }));
    EXPECT_EQ(last().value("progress-visible").toBool(), false);

    // The window's own entry shows and hides with it.
    CProgressWindow window(bus.Connect(QStringLiteral("launcher2")));
    ASSERT_TRUE(window.Create({false, "", {}}));
    window.SetTaskbarProgress(500);
    window.Show(true);
    ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 6; }));
    EXPECT_EQ(last().value("progress-visible").toBool(), true);
    EXPECT_DOUBLE_EQ(last().value("progress").toDouble(), 0.5);
    window.Show(false);
    ASSERT_TRUE(SpinUntil([&] { return recorder.updates.size() == 7; }));
    EXPECT_EQ(last().value("progress-visible").toBool(), false);
}

} // namespace

#include "DesktopBus_test.moc"
