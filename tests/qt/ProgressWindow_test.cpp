// The progress window, alone and driven by the progress dialog's logic with a scripted worker
// that talks the real message protocol from its own thread.

#include "cptlib/sys/MfcWorkerThread.h"
#include "cptlib/ui/qt/BigMessageBox.h"
#include "cptlib/ui/qt/DialogUnits.h"
#include "cptlib/ui/qt/QtMessageBoxPresenter.h"
#include "launcher/ExitStatus.h"
#include "launcher/ExtractThread.h"
#include "launcher/Format.h"
#include "launcher/ProgressDialog.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "launcher/gui/ProgressWindow.h"
#include "launcher/gui/UnzipLanguageDlg.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/QtWindows.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace {

using namespace sfx;
namespace fs = std::filesystem;
using cptlib::MessageBoxContent;

using testsupport::ScriptThread;
using testsupport::WhenReady;

class ProgressWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::EnsureQApplication();
        cptlib::SetAppName("Demo Product");
        settings.productName = "Demo Product";
        settings.archivePath = "/nonexistent/archive";
        settings.extractOnly = true;
        settings.extractDir = temp.string() + "/";
        settings.uiLevel = 4;
        settings.prettyProgress = true;
        window.SetIcon(TestIcon());
    }

    static QIcon TestIcon() { return QIcon(QStringLiteral(SFX_SOURCE_DIR "/resources/app.ico")); }

    // Runs the dialog with `script` as the worker; returns the exit code.
    std::uint32_t Run(ScriptThread::Script script, std::vector<std::string> names = {}) {
        auto worker = std::make_unique<ExtractionWorker<ScriptThread>>();
        worker->Get().script = std::move(script);
        worker->Get().names = std::move(names);
        CSelfExtractingDlg dialog(settings, *strings, window, std::move(worker));
        dialog.DoModal();
        return dialog.ExitCode();
    }

    std::string T(const char* id) const { return strings->GetText(id); }

    testsupport::PresenterScope boxes;
    std::unique_ptr<zqmsi::InstallStringResources> strings =
        testsupport::LoadStringTable("en-US.xml");
    testsupport::TempDir scratch;
    const fs::path temp = scratch.path();
    ProgressDialogSettings settings;
    CProgressWindow window;
};

TEST_F(ProgressWindowTest, ProgressReachesTheBarAndTheTitle) {
    std::atomic<bool> seen = false;
    QString titleAt42;
    int barAt42 = -1;
    std::string successText;
    bool successOverWindow = false;
    testsupport::WhenModal([&](QWidget* modal) {
        auto* box = dynamic_cast<cptlib::CBigMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        successText = box->PlainText().toStdString();
        successOverWindow = box->parentWidget() == window.Window();
        QTest::keyClick(box, Qt::Key_Return);
    });
    WhenReady([&] { return window.ProgressBar() && window.ProgressBar()->value() == 420; },
              [&] {
                  titleAt42 = window.Window()->windowTitle();
                  barAt42 = window.ProgressBar()->value();
                  EXPECT_TRUE(window.Window()->isVisible());
                  seen = true;
              });
    const std::uint32_t exitCode = Run([&](ScriptThread& w) {
        w.Progress(0);
        w.Progress(420);
        while (!seen && !w.IsCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        w.Progress(999);
        w.Post(WM_SFX_EXTRACT_DONE);
    });
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(barAt42, 420);
    EXPECT_EQ(titleAt42.toStdString(), FormatText(T("SfxProgressTitle"), 42));
    EXPECT_EQ(titleAt42.toStdString(), "42 % Extracting...");
    // Done: the bar full, the title at 100, the success box with the folder's link.
    EXPECT_EQ(window.ProgressBar()->value(), 1000);
    EXPECT_EQ(window.Window()->windowTitle().toStdString(), "100 % Extracting...");
    EXPECT_NE(successText.find(T("ExtractSuccess")), std::string::npos) << successText;
    EXPECT_TRUE(successOverWindow);
    EXPECT_TRUE(boxes.presenter->shown.empty());
    EXPECT_FALSE(window.Window()->isVisible());
}

TEST_F(ProgressWindowTest, CancelAsksFirstAndCancelsOnlyOnYes) {
    struct Case {
        const char* name;
        std::function<void(CProgressWindow&)> press;
    };
    const Case cases[] = {
        {"button", [](CProgressWindow& w) { QTest::mouseClick(w.CancelButton(), Qt::LeftButton); }},
        {"escape", [](CProgressWindow& w) { QTest::keyClick(w.Window(), Qt::Key_Escape); }},
        {"close box", [](CProgressWindow& w) { w.Window()->close(); }},
        {"return on the button",
         [](CProgressWindow& w) {
             w.CancelButton()->setFocus();
             QTest::keyClick(w.CancelButton(), Qt::Key_Return);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CProgressWindow view;
        boxes.presenter->shown.clear();
        std::vector<int> answers = {cptlib::kIdNo, cptlib::kIdYes};
        boxes.presenter->answer = [&](const MessageBoxContent&) {
            const int answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
        bool enabledAfterNo = false;
        bool enabledAfterYes = true;
        WhenReady([&] { return view.ProgressBar() && view.ProgressBar()->value() > 0; },
                  [&] {
                      c.press(view);
                      enabledAfterNo = view.CancelButton()->isEnabled();
                      c.press(view);
                      enabledAfterYes = view.CancelButton()->isEnabled();
                      // Disabled: a further press asks nothing.
                      c.press(view);
                  });
        auto worker = std::make_unique<ExtractionWorker<ScriptThread>>();
        worker->Get().script = [](ScriptThread& w) { w.ProgressUntilCancelled(); };
        CSelfExtractingDlg dialog(settings, *strings, view, std::move(worker));
        dialog.DoModal();
        EXPECT_EQ(dialog.ExitCode(), kExitCancelled);
        ASSERT_EQ(boxes.presenter->shown.size(), 2u);
        EXPECT_EQ(boxes.presenter->shown[0].content, T("VerifyCancel"));
        EXPECT_EQ(boxes.presenter->shown[0].iconKind, cptlib::IconKind::Question);
        EXPECT_TRUE(enabledAfterNo);
        EXPECT_FALSE(enabledAfterYes);
    }
}

// The confirmation is a real modal box with its own event loop: the worker's progress keeps
// reaching the window meanwhile instead of blocking the worker.
TEST_F(ProgressWindowTest, ProgressGoesOnWhileTheConfirmationIsOpen) {
    cptlib::SetMessageBoxPresenter(std::make_shared<cptlib::CQtMessageBoxPresenter>());
    int atQuestion = -1;
    int whileOpen = -1;
    WhenReady([&] { return window.ProgressBar() && window.ProgressBar()->value() > 0; },
              [&] { QTest::mouseClick(window.CancelButton(), Qt::LeftButton); });
    testsupport::WhenModal([&](QWidget* modal) {
        auto* box = dynamic_cast<cptlib::CBigMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        atQuestion = window.ProgressBar()->value();
        WhenReady([&, box] { return window.ProgressBar()->value() != atQuestion; },
                  [&, box] {
                      whileOpen = window.ProgressBar()->value();
                      for (QPushButton* button : box->ButtonControls())
                          if (cptlib::CBigMessageBox::ButtonId(button) == cptlib::kIdYes)
                              QTest::mouseClick(button, Qt::LeftButton);
                  });
    });
    const std::uint32_t exitCode = Run([](ScriptThread& w) { w.ProgressUntilCancelled(); });
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_GE(atQuestion, 0);
    EXPECT_NE(whileOpen, atQuestion);
    EXPECT_GE(whileOpen, 0);
}

// A stop signal closes the open question (the confirmation, the folder chooser) as cancelled
// and ends the run as cancelled; the end of the extraction closes a confirmation made moot.
TEST_F(ProgressWindowTest, QuestionsCloseWhenTheRunGoesPastThem) {
    cptlib::SetMessageBoxPresenter(std::make_shared<cptlib::CQtMessageBoxPresenter>());
    struct Case {
        const char* name;
        bool askTarget;
        int signal; // 0: the extraction ends instead
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"SIGTERM at the confirmation", false, SIGTERM, kExitCancelled},
        {"SIGTERM at the folder chooser", true, SIGTERM, kExitCancelled},
        // Ctrl+C at the confirmation is the answer Yes.
        {"SIGINT at the confirmation", false, SIGINT, kExitCancelled},
        {"extraction ends at the confirmation", false, 0, kExitSuccess},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        settings.askTarget = c.askTarget;
        CProgressWindow view;
        std::atomic<bool> finish = false;
        std::string modalKind;
        if (!c.askTarget)
            WhenReady([&] { return view.ProgressBar() && view.ProgressBar()->value() > 0; },
                      [&] { QTest::mouseClick(view.CancelButton(), Qt::LeftButton); });
        testsupport::WhenModal([&](QWidget* modal) {
            modalKind = dynamic_cast<QFileDialog*>(modal) != nullptr              ? "chooser"
                        : dynamic_cast<cptlib::CBigMessageBox*>(modal) != nullptr ? "box"
                                                                                  : "other";
            if (c.signal != 0) {
                ::raise(c.signal);
                return;
            }
            finish = true;
            // The confirmation goes by itself; the extract-only result box follows.
            WhenReady(
                [modal] {
                    QWidget* now = QApplication::activeModalWidget();
                    return now != nullptr && now != modal;
                },
                [] {
                    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
                        box->done(cptlib::kIdOk);
                });
        });
        auto worker = std::make_unique<ExtractionWorker<ScriptThread>>();
        worker->Get().script = [&](ScriptThread& w) {
            for (int i = 1; !w.IsCancelled() && !finish; i = i % 999 + 1) {
                w.Progress(i);
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            w.Post(finish ? WM_SFX_EXTRACT_DONE : WM_SFX_EXTRACT_CANCELLED);
        };
        testsupport::Watchdog watchdog;
        EXPECT_EQ(RunProgressDialog(settings, *strings, view, std::move(worker)), c.exitCode);
        EXPECT_EQ(modalKind, c.askTarget ? "chooser" : "box");
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

TEST_F(ProgressWindowTest, PasswordQuestionFillsTheWorkersBuffer) {
    cptlib::LResult reply = 0;
    std::string password;
    testsupport::WhenModal([](QWidget* modal) {
        auto* dialog = dynamic_cast<CEnterPasswordDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        QTest::keyClicks(dialog->Edit(), "s3cret w");
        dialog->Edit()->insert(QStringLiteral("ö"));
        QTest::keyClicks(dialog->Edit(), "rd");
        QTest::keyClick(dialog->Edit(), Qt::Key_Return);
    });
    Run([&](ScriptThread& w) {
        reply = w.AskPassword(password);
        w.Post(WM_SFX_EXTRACT_CANCELLED);
    });
    EXPECT_EQ(reply, kPasswordEntered);
    EXPECT_EQ(password, "s3cret wörd");
}

// A real extraction of an archive made with 7zz -p: the worker's question reaches the password
// dialog over the progress window, and the entry extracts the files.
TEST_F(ProgressWindowTest, PasswordDialogOfARealRun) {
    const fs::path product = temp / "product";
    testsupport::WriteFile(product / "readme.txt", "read me\n");
    testsupport::WriteFile(product / "data/text.txt", std::string(100000, 'x'));
    const fs::path archive = testsupport::Pack7z(product, temp / "product.7z", "-ps3cret");
    settings.archivePath = archive.string();
    settings.archiveIsLauncher = false;
    settings.extractDir = (temp / "out").string() + "/";
    bool asked = false;
    testsupport::WhenModal([&](QWidget* modal) {
        auto* dialog = dynamic_cast<CEnterPasswordDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        asked = true;
        EXPECT_TRUE(window.Window()->isVisible());
        QTest::keyClicks(dialog->Edit(), "s3cret");
        // The dialog where it stands over the progress window.
        const QRect behind = window.Window()->frameGeometry();
        const QRect front = dialog->frameGeometry();
        const QRect both = behind.united(front);
        QPixmap shot(both.size());
        shot.fill(Qt::darkGray);
        {
            QPainter painter(&shot);
            painter.drawPixmap(window.Window()->geometry().topLeft() - both.topLeft(),
                               window.Window()->grab());
            painter.drawPixmap(dialog->geometry().topLeft() - both.topLeft(), dialog->grab());
        }
        const QString folder = QStringLiteral(SFX_SCREENSHOT_DIR);
        QDir().mkpath(folder);
        EXPECT_TRUE(shot.save(folder + "/password-run.png"));
        QTest::keyClick(dialog->Edit(), Qt::Key_Return);
        // Then the extract-only success box.
        WhenReady(
            [] {
                return dynamic_cast<cptlib::CBigMessageBox*>(QApplication::activeModalWidget()) !=
                       nullptr;
            },
            [] { QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return); });
    });
    testsupport::Watchdog watchdog;
    CSelfExtractingDlg dialog(settings, *strings, window,
                              std::make_unique<ExtractionWorker<CExtractThread>>());
    dialog.DoModal();
    EXPECT_TRUE(asked);
    EXPECT_EQ(dialog.ExitCode(), 0u);
    EXPECT_EQ(testsupport::ReadFile(temp / "out/readme.txt"), "read me\n");
    EXPECT_TRUE(testsupport::ReadFile(temp / "out/data/text.txt") == std::string(100000, 'x'));
}

TEST_F(ProgressWindowTest, OverwriteQuestionPausesTheBar) {
    struct Case {
        int button;
        cptlib::LResult reply;
    };
    for (const Case c :
         {Case{cptlib::kIdOk, kOverwriteYesToAll}, Case{cptlib::kIdCancel, kOverwriteCancel}}) {
        SCOPED_TRACE(c.button);
        CProgressWindow view;
        boxes.presenter->shown.clear();
        // The question comes at every level from 1; the success box only from 2.
        settings.uiLevel = 1;
        QColor duringQuestion;
        boxes.presenter->answer = [&](const MessageBoxContent&) {
            duringQuestion = view.ProgressBar()->palette().color(QPalette::Highlight);
            return c.button;
        };
        cptlib::LResult reply = -1;
        auto worker = std::make_unique<ExtractionWorker<ScriptThread>>();
        worker->Get().script = [&](ScriptThread& w) {
            reply = w.AskOverwrite("/data/out/sub/readme.txt");
            w.Post(reply == kOverwriteCancel ? WM_SFX_EXTRACT_CANCELLED : WM_SFX_EXTRACT_DONE);
        };
        CSelfExtractingDlg dialog(settings, *strings, view, std::move(worker));
        const QColor normal = QProgressBar().palette().color(QPalette::Highlight);
        dialog.DoModal();
        EXPECT_EQ(reply, c.reply);
        ASSERT_EQ(boxes.presenter->shown.size(), 1u);
        const MessageBoxContent& question = boxes.presenter->shown[0];
        EXPECT_EQ(question.content, "\"readme.txt\"\n\n" + T("OverwriteAllQuestion"));
        ASSERT_EQ(question.buttons.size(), 2u);
        EXPECT_EQ(question.buttons[0].text, T("OverwriteAllButton"));
        EXPECT_GT(duringQuestion.red(), duringQuestion.blue() + 60);
        EXPECT_EQ(view.ProgressBar()->palette().color(QPalette::Highlight), normal);
    }
}

TEST_F(ProgressWindowTest, FailureBoxOverARedBarThenTheBarStartsAgain) {
    QColor duringBox;
    int barDuringBox = -1;
    boxes.presenter->answer = [&](const MessageBoxContent&) {
        duringBox = window.ProgressBar()->palette().color(QPalette::Highlight);
        barDuringBox = window.ProgressBar()->value();
        return cptlib::kIdOk;
    };
    const QColor normal = QProgressBar().palette().color(QPalette::Highlight);
    const std::uint32_t exitCode = Run([](ScriptThread& w) {
        w.Progress(300);
        w.Fail({});
    });
    EXPECT_EQ(exitCode, kExitBadArchive);
    ASSERT_EQ(boxes.presenter->shown.size(), 1u);
    EXPECT_EQ(boxes.presenter->shown[0].content, T("SfxErrorBadArchive"));
    EXPECT_EQ(boxes.presenter->shown[0].iconKind, cptlib::IconKind::Error);
    EXPECT_GT(duringBox.red(), duringBox.green() + 60);
    EXPECT_EQ(barDuringBox, 300);
    EXPECT_EQ(window.ProgressBar()->palette().color(QPalette::Highlight), normal);
    EXPECT_EQ(window.ProgressBar()->value(), 0);
    EXPECT_EQ(window.Window()->windowTitle().toStdString(), "0 % Extracting...");
}

TEST_F(ProgressWindowTest, HideMessageHidesTheWindow) {
    std::atomic<bool> hidden = false;
    WhenReady(
        [&] {
            return window.ProgressBar() && window.ProgressBar()->value() == 100 &&
                   !window.Window()->isVisible();
        },
        [&] { hidden = true; });
    const std::uint32_t exitCode = Run([&](ScriptThread& w) {
        w.Progress(100);
        w.Post(WM_SFX_HIDE);
        while (!hidden && !w.IsCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        w.Post(WM_SFX_EXTRACT_CANCELLED);
    });
    EXPECT_TRUE(hidden);
    EXPECT_EQ(exitCode, kExitCancelled);
}

TEST_F(ProgressWindowTest, BoxesKnowTheWindowBehindAWrappingPresenter) {
    // The installed presenter is the scripted one; the window presenter sits behind it.
    auto qtBoxes = std::make_shared<cptlib::CQtMessageBoxPresenter>();
    window.SetBoxPresenter(qtBoxes);
    ASSERT_TRUE(window.Create({true, "Demo", {}}));
    EXPECT_FALSE(qtBoxes->MainWindowVisible());
    window.Show(true);
    EXPECT_TRUE(qtBoxes->MainWindowVisible());
    window.Show(false);
    EXPECT_FALSE(qtBoxes->MainWindowVisible());
}

TEST_F(ProgressWindowTest, BarStatesLookDifferent) {
    settings.prettyProgress = false;
    ASSERT_TRUE(window.Create({false, "", {}}));
    window.Show(true);
    window.SetProgress(800);
    const auto chunkColour = [&] {
        QProgressBar* bar = window.ProgressBar();
        const QImage image = bar->grab().toImage();
        return image.pixelColor(bar->width() / 3, bar->height() / 2);
    };
    const QColor normal = chunkColour();
    window.SetBarState(ProgressBarState::Error);
    const QColor error = chunkColour();
    window.SetBarState(ProgressBarState::Paused);
    const QColor paused = chunkColour();
    window.SetBarState(ProgressBarState::Normal);
    EXPECT_EQ(chunkColour(), normal);
    EXPECT_GT(error.red(), error.green() + 60);
    EXPECT_GT(error.red(), error.blue() + 60);
    EXPECT_GT(paused.red(), paused.blue() + 60);
    EXPECT_GT(paused.green(), paused.blue() + 60);
    EXPECT_NE(normal, error);
    EXPECT_NE(normal, paused);
}

TEST_F(ProgressWindowTest, FolderChooserReturnsTheFolderWithASlash) {
    ASSERT_TRUE(window.Create({false, "", {}}));
    const std::string chosen = (temp / "chosen").string();
    fs::create_directories(chosen);
    testsupport::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Demo - Choose");
        EXPECT_EQ(QDir(dialog->directory()).absolutePath().toStdString(), temp.string());
        dialog->selectFile(QString::fromStdString(chosen));
        static_cast<QDialog*>(dialog)->accept();
    });
    EXPECT_EQ(window.PickFolder(temp.string() + "/", "Demo - Choose"), chosen + "/");

    testsupport::WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
    EXPECT_EQ(window.PickFolder(temp.string() + "/", "Demo - Choose"), "");
}

// Every control lies inside the window and shows its whole text.
void ExpectNothingCutOff(CProgressWindow& view) {
    QWidget* dialog = view.Window();
    const QRect inside = dialog->rect();
    for (QWidget* child : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        SCOPED_TRACE(child->metaObject()->className());
        EXPECT_TRUE(inside.contains(child->geometry()))
            << child->geometry().x() << "," << child->geometry().y();
    }
    for (QLabel* label : {view.StatusLabel(), view.TitleLabel()}) {
        if (label != nullptr) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height())
                << label->text().toStdString();
        }
    }
    EXPECT_LE(view.CancelButton()->sizeHint().width(), view.CancelButton()->width());
}

// Without a desktop chooser (as on the offscreen platform) Qt's dialog shows folders only, as a
// plain list; the native dialog is never switched off, so a desktop's chooser takes over.
TEST_F(ProgressWindowTest, TheChooserPicksFoldersOnly) {
    ASSERT_TRUE(window.Create({false, "", {}}));
    bool checked = false;
    testsupport::WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(dialog->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_FALSE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog->viewMode(), QFileDialog::List);
        checked = true;
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    EXPECT_EQ(window.PickFolder(temp.string() + "/", "Demo - Choose"), "");
    EXPECT_TRUE(checked);
}

// Windows sit in the middle of the screen's free area, frame included; a box over a showing
// window sits in the middle of that window. Under a window manager (SFX_WINDOW_MANAGER names
// it; see with_window_manager.sh) the frame comes later, from the manager, and counts too.
TEST_F(ProgressWindowTest, WindowsAreCentredWithTheirFrame) {
    const bool managed = std::getenv("SFX_WINDOW_MANAGER") != nullptr;
    const auto offset = [](QWidget* widget, const QRect& area) {
        return widget->frameGeometry().center() - area.center();
    };
    const auto expectCentred = [&](QWidget* widget, const QRect& area) {
        if (managed) {
            EXPECT_TRUE(QTest::qWaitFor(
                [&] { return widget->frameGeometry() != widget->geometry(); }, 10000))
                << "no frame from the window manager";
            // The window may still be on its way to the place counted with the frame; the
            // checks below tell where it ended.
            (void)QTest::qWaitFor(
                [&] {
                    const QPoint o = offset(widget, area);
                    return std::abs(o.x()) <= 2 && std::abs(o.y()) <= 2;
                },
                5000);
        }
        const QPoint o = offset(widget, area);
        EXPECT_LE(std::abs(o.x()), 2) << o.x();
        EXPECT_LE(std::abs(o.y()), 2) << o.y();
    };
    const auto screenArea = [] { return QGuiApplication::primaryScreen()->availableGeometry(); };
    cptlib::MessageBoxContent content;
    content.caption = "Demo";
    content.content = "A question over the window.";
    content.iconKind = cptlib::IconKind::Question;

    // What the launcher shows first: the language dialog and boxes without a window under them.
    {
        cptlib::CultureMap offer;
        for (const char* culture : {"en-US", "de-DE", "ja-JP"})
            offer.emplace(culture, cptlib::GetCultureDisplayName(culture));
        CUnzipLanguageDlg dialog(nullptr, offer, "de-DE", *strings);
        dialog.show();
        expectCentred(&dialog, screenArea());
        dialog.hide();
    }
    {
        cptlib::CBigMessageBox box(content);
        box.show();
        expectCentred(&box, screenArea());
        box.hide();
    }
    for (const bool pretty : {true, false}) {
        SCOPED_TRACE(pretty);
        CProgressWindow view;
        ASSERT_TRUE(view.Create({pretty, "Demo Product", {}}));
        view.Show(true);
        QApplication::processEvents();
        expectCentred(view.Window(), view.Window()->screen()->availableGeometry());

        cptlib::CBigMessageBox box(content, view.Window());
        box.show();
        QApplication::processEvents();
        expectCentred(&box, view.Window()->frameGeometry());
        box.hide();
        view.Show(false);
    }
}

// A product name of three lines ends at least the style's spacing above the status text.
TEST_F(ProgressWindowTest, ALongTitleKeepsItsDistanceFromTheStatus) {
    CProgressWindow view;
    const std::string product =
        "Demo Product with a rather long name that the window has to wrap onto three lines "
        "of its title, 2026 edition";
    ASSERT_TRUE(view.Create({true, product, {}}));
    view.SetText("Extracting the files of the product...");
    view.Show(true);
    QLabel* title = view.TitleLabel();
    const int textHeight = title->heightForWidth(title->width());
    ASSERT_GE(textHeight, 3 * title->fontMetrics().lineSpacing()) << "the title needs 3 lines";
    const int spacing = view.Window()->style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing);
    EXPECT_GE(view.StatusLabel()->y() - (title->y() + textHeight), std::max(spacing, 3));
    ExpectNothingCutOff(view);
    EXPECT_GT(view.ProgressBar()->y(), view.StatusLabel()->geometry().bottom());
    view.Show(false);
}

// At the basic levels the confirmation is never asked: Cancel shows as unavailable, and
// Escape or the close box ask nothing either.
TEST_F(ProgressWindowTest, CancelIsShownUnavailableAtTheBasicLevel) {
    settings.uiLevel = 2;
    // The success box of extract-only mode still comes at this level.
    testsupport::WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Return); });
    bool enabled = true;
    std::atomic<bool> seen = false;
    WhenReady([&] { return window.ProgressBar() && window.ProgressBar()->value() > 0; },
              [&] {
                  enabled = window.CancelButton()->isEnabled();
                  QTest::keyClick(window.Window(), Qt::Key_Escape);
                  window.Window()->close();
                  seen = true;
              });
    const std::uint32_t exitCode = Run([&](ScriptThread& w) {
        w.Progress(100);
        while (!seen && !w.IsCancelled())
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        w.Progress(999);
        w.Post(WM_SFX_EXTRACT_DONE);
    });
    EXPECT_FALSE(enabled);
    EXPECT_TRUE(boxes.presenter->shown.empty() ||
                boxes.presenter->shown.front().content != T("VerifyCancel"));
    EXPECT_EQ(exitCode, 0u);
}

TEST_F(ProgressWindowTest, LayoutsInEachLanguage) {
    struct Case {
        const char* table;
        const char* product;
    };
    const Case cases[] = {
        {"en-US.xml", "Demo Product 2026"},
        {"de.xml", "Demo-Produkt mit einem recht langen Namen für die Titelzeile 2026"},
        {"ja-JP.xml", "デモ製品 2026"},
        {"el-GR.xml", "Προϊόν επίδειξης 2026"},
    };
    for (const Case& c : cases) {
        for (const bool pretty : {true, false}) {
            SCOPED_TRACE(std::string(c.table) + (pretty ? " pretty" : " simple"));
            const auto table = testsupport::LoadStringTable(c.table);
            CProgressWindow view;
            view.SetIcon(TestIcon());
            ASSERT_TRUE(view.Create({pretty, c.product, {}}));
            view.SetCancelText(table->GetText("Cancel"));
            view.SetText(table->GetText("SfxProgressText"));
            view.SetTitle(FormatText(table->GetText("SfxProgressTitle"), 0));
            view.Show(true);
            ExpectNothingCutOff(view);
            const std::string base = std::string("progress-") + (pretty ? "102" : "167") + "-" +
                                     fs::path(c.table).stem().string();
            testsupport::SaveScreenshot(*view.Window(), base + "-0");
            view.SetProgress(420);
            view.SetTitle(FormatText(table->GetText("SfxProgressTitle"), 42));
            testsupport::SaveScreenshot(*view.Window(), base + "-42");
            if (pretty) {
                QLabel* icon = view.IconLabel();
                const int n =
                    static_cast<int>(std::lround(48 * view.Window()->logicalDpiX() / 96.0));
                EXPECT_EQ(icon->size(), QSize(n, n));
                EXPECT_FALSE(icon->pixmap().isNull());
                const int gap = cptlib::DialogUnitsToPixelsX(view.Window()->font(), 9);
                for (QWidget* text : {static_cast<QWidget*>(view.TitleLabel()),
                                      static_cast<QWidget*>(view.StatusLabel()),
                                      static_cast<QWidget*>(view.ProgressBar())})
                    EXPECT_EQ(text->x(), icon->geometry().right() + 1 + gap);
                EXPECT_TRUE(view.TitleLabel()->font().bold());
                EXPECT_EQ(view.TitleLabel()->text().toStdString(), c.product);
            }
            view.Show(false);
        }
    }
}

} // namespace
