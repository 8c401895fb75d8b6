// The progress dialog's logic, driven by a scripted user (view and message boxes) and a fake
// extraction worker that talks the real message protocol from its own thread.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/sys/MfcWorkerThread.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/ExitStatus.h"
#include "launcher/ProgressDialog.h"
#include "launcher/TemporaryFolder.h"
#include "support/Files.h"
#include "support/Presenter.h"
#include "support/StringTables.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

namespace {

using testsupport::ScriptedPresenter;

using namespace sfx;
namespace fs = std::filesystem;
using cptlib::MessageBoxContent;

const zqmsi::InstallStringResources& EnglishStrings() {
    static const auto strings = testsupport::LoadStringTable("en-US.xml");
    return *strings;
}

std::string T(const char* id) {
    return EnglishStrings().GetText(id);
}

// The worker: each run plays the next script against the dialog's inbox.
class FakeThread : public cptlib::CMfcWorkerThread {
public:
    using Script = std::function<void(FakeThread&)>;

    ~FakeThread() override { CancelAndWait(); }

    bool Start(const ExtractionJob& job) {
        if (failStart)
            return false;
        job_ = job;
        return CMfcWorkerThread::Start();
    }
    const std::vector<std::string>& ExtractedNames() const { return names_; }

    // Inside scripts.
    void Progress(int permille) const { job_.notifyWindow.Send(WM_SFX_PROGRESS, 0, permille); }
    cptlib::LResult AskOverwrite(const std::string& name) {
        const auto reply = job_.notifyWindow.Send(WM_SFX_ASK_OVERWRITE, 0,
                                                  reinterpret_cast<cptlib::LParam>(name.c_str()));
        replies.push_back(reply);
        return reply;
    }
    cptlib::LResult AskPassword(std::string& password, std::size_t capacity = kPasswordCapacity) {
        std::vector<char> buffer(capacity, 'x');
        const auto reply = job_.notifyWindow.Send(WM_SFX_ASK_PASSWORD,
                                                  reinterpret_cast<cptlib::WParam>(buffer.data()),
                                                  static_cast<cptlib::LParam>(capacity));
        password.assign(buffer.data(), ::strnlen(buffer.data(), capacity));
        replies.push_back(reply);
        return reply;
    }
    void Fail(ExtractionError error) {
        job_.notifyWindow.Send(WM_SFX_EXTRACT_ERROR, reinterpret_cast<cptlib::WParam>(&error));
        CleanUp();
        job_.notifyWindow.Post(WM_SFX_EXTRACT_FAILED);
    }
    void Cancelled() {
        CleanUp();
        job_.notifyWindow.Post(WM_SFX_EXTRACT_CANCELLED);
    }
    void Done() { job_.notifyWindow.Post(WM_SFX_EXTRACT_DONE); }
    // Reports progress until cancelled (then ends as cancelled) or until `limit` reports.
    void RunUntilCancelled(int limit) {
        for (int i = 0; i < limit; ++i) {
            Progress(i % 1000);
            if (IsCancelled()) {
                Cancelled();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        Done();
    }
    void Post(cptlib::MessageId id, cptlib::WParam wParam = 0, cptlib::LParam lParam = 0) const {
        job_.notifyWindow.Post(id, wParam, lParam);
    }
    const ExtractionJob& Job() const { return job_; }

    std::deque<Script> scripts;
    bool failStart = false;
    // Written by the worker, read after the dialog has joined it.
    std::vector<ExtractionJob> jobs;
    std::vector<unsigned> folderModes; // 0: the folder did not exist when the run began
    std::vector<cptlib::LResult> replies;

protected:
    std::uint32_t Run() override {
        jobs.push_back(job_);
        struct stat st {};
        folderModes.push_back(::stat(job_.extractFolder.c_str(), &st) == 0 && S_ISDIR(st.st_mode)
                                  ? (st.st_mode & 07777)
                                  : 0);
        if (!scripts.empty()) {
            Script script = std::move(scripts.front());
            scripts.pop_front();
            script(*this);
        }
        return 0;
    }

private:
    void CleanUp() {
        if (!job_.deleteOnFailure)
            return;
        job_.notifyWindow.Post(WM_SFX_DELETING);
        DeleteFolderTree(job_.extractFolder, kDeleteTempFolder);
    }

    ExtractionJob job_;
    std::vector<std::string> names_;
};

// The user in front of the view.
class ScriptedView : public IProgressView {
public:
    bool Create(const ProgressViewLayout& layout) override {
        layout_ = layout;
        return canCreate;
    }
    void Show(bool visible) override { Log(visible ? "show" : "hide"); }
    void SetTitle(const std::string& title) override { titles.push_back(title); }
    void SetText(const std::string& text) override { Log("text " + text); }
    void SetCancelText(const std::string& text) override { Log("cancel text " + text); }
    void EnableCancel(bool enabled) override { Log(enabled ? "cancel on" : "cancel off"); }
    void SetProgress(int permille) override {
        progress.push_back(permille);
        if (onProgress) {
            auto hook = std::move(onProgress);
            onProgress = nullptr;
            hook();
        }
    }
    void SetBarState(ProgressBarState state) override {
        Log("bar " + std::to_string(static_cast<int>(state)));
    }
    void SetTaskbarProgress(int permille) override { taskbar.push_back(permille); }
    void SetTaskbarState(ProgressBarState) override {}
    void FlashIfNotForeground() override { Log("flash"); }
    int AskOverwrite(const MessageBoxContent& question) override {
        Log("overwrite question");
        overwriteQuestions.push_back(question);
        return overwriteButton;
    }
    bool AskPassword(std::string& password) override {
        Log("password question");
        if (!password_)
            return false;
        password = *password_;
        return true;
    }
    std::string PickFolder(const std::string& initialFolder, const std::string& title) override {
        Log("pick folder");
        pickRequests.emplace_back(initialFolder, title);
        if (onPick)
            onPick();
        if (folders.empty())
            return {};
        std::string folder = folders.front();
        folders.pop_front();
        return folder;
    }
    bool CanAsk() override { return canAsk; }
    // The confirmation as a window or the terminal's prompt shows it: the dialog's messages go
    // on while it is open, until it is answered (the presenter's answer) or closed.
    int AskCancel(const MessageBoxContent& question) override {
        Log("cancel question");
        closed_ = false;
        if (whileConfirming)
            whileConfirming();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (confirmFor_ > 0 && !closed_ && std::chrono::steady_clock::now() < deadline) {
            inbox_->ProcessPending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (closed_)
            return cptlib::kIdCancel;
        return IProgressView::AskCancel(question);
    }
    void CloseQuestions() override {
        Log("close questions");
        closed_ = true;
    }
    void RunModalLoop(cptlib::MessageInbox& inbox, const std::function<bool()>& ended) override {
        inbox_ = &inbox;
        IProgressView::RunModalLoop(inbox, ended);
        inbox_ = nullptr;
    }
    // The confirmation stays open, running the dialog's messages, until closed (at most 5 s).
    void KeepConfirmationOpen() { confirmFor_ = 1; }
    void ShowExtractSuccess(const MessageBoxContent& box, const std::string& folder) override {
        Log("success box");
        success = box;
        successFolder = folder;
    }

    void PressCancel() { layout_.onCancel(); }
    bool Has(const std::string& call) const {
        return std::find(calls.begin(), calls.end(), call) != calls.end();
    }
    std::size_t Count(const std::string& call) const {
        return static_cast<std::size_t>(std::count(calls.begin(), calls.end(), call));
    }

    std::vector<std::string> calls;
    std::vector<std::string> titles;
    std::vector<int> progress;
    std::vector<int> taskbar;
    std::vector<MessageBoxContent> overwriteQuestions;
    std::vector<std::pair<std::string, std::string>> pickRequests;
    std::optional<MessageBoxContent> success;
    std::string successFolder;
    bool canCreate = true;
    int overwriteButton = cptlib::kIdOk;
    bool canAsk = true; // false: neither window nor terminal to answer at
    std::optional<std::string> password_;
    std::deque<std::string> folders;
    std::function<void()> onProgress; // once, at the next progress
    std::function<void()> onPick;
    std::function<void()> whileConfirming;

private:
    void Log(const std::string& call) { calls.push_back(call); }
    ProgressViewLayout layout_;
    cptlib::MessageInbox* inbox_ = nullptr;
    int confirmFor_ = 0;
    bool closed_ = false;
};

// The setup worker: by default the setup ends at once with `exitCode` after the folder has been
// removed, as the real worker reports; `waitForSignal` keeps it running until a stop signal is
// passed on.
class FakeSetup : public ISetupWorker {
public:
    bool Start(const SetupLaunchInfo& launch) override {
        starts.push_back(launch);
        if (failStart)
            return false;
        launch.notifyWindow.Post(WM_SFX_HIDE);
        if (!waitForSignal)
            Finish();
        return true;
    }
    void Wait() override { ++waits; }
    std::exception_ptr StoredException() const override { return exception; }
    void ForwardStopSignal(cptlib::platform::StopSignal kind, bool toGroup) override {
        forwarded.emplace_back(kind, toGroup);
        if (waitForSignal)
            Finish();
    }

    void Finish() {
        const SetupLaunchInfo& launch = starts.back();
        std::error_code ec;
        fs::remove_all(launch.extractDir, ec);
        launch.notifyWindow.Post(WM_SFX_SETUP_DONE, exitCode, status);
    }

    std::vector<SetupLaunchInfo> starts;
    std::vector<std::pair<cptlib::platform::StopSignal, bool>> forwarded;
    int waits = 0;
    bool failStart = false;
    bool waitForSignal = false;
    std::uint32_t exitCode = 0;
    cptlib::LParam status = kSetupFinished;
    std::exception_ptr exception;
};

class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        presenter = std::make_shared<ScriptedPresenter>();
        cptlib::SetMessageBoxPresenter(presenter);
        cptlib::SetAppName("Demo Product");
        settings.productName = "Demo Product";
        settings.archivePath = "/nonexistent/archive";
        settings.extractDir = (temp / "vrnaaaaaaaa").string() + "/";
    }
    void TearDown() override { cptlib::SetMessageBoxPresenter(nullptr); }

    // Runs the dialog once; the worker plays `scripts`, one per run.
    int Run(std::vector<FakeThread::Script> scripts,
            const std::function<void(CSelfExtractingDlg&)>& before = {}) {
        testsupport::Watchdog watchdog;
        auto worker = std::make_unique<ExtractionWorker<FakeThread>>();
        fake = &worker->Get();
        for (auto& script : scripts)
            fake->scripts.push_back(std::move(script));
        fake->failStart = failStart;
        dialog = std::make_unique<CSelfExtractingDlg>(settings, EnglishStrings(), view,
                                                      std::move(worker), TakeSetup());
        if (before)
            before(*dialog);
        const int result = dialog->DoModal();
        exitCode = dialog->ExitCode();
        extractDir = dialog->ExtractDir();
        Finish();
        return result;
    }

    // The worker has been joined: keep its records, then end the dialog as the program does.
    void Finish() {
        jobs = fake->jobs;
        folderModes = fake->folderModes;
        replies = fake->replies;
        fake = nullptr;
        setupRecord = *setup;
        setup = &setupRecord;
        dialog.reset();
    }

    bool TempIsEmpty() const { return fs::is_empty(temp); }

    // The next run's setup worker; `setup` keeps its records.
    std::unique_ptr<ISetupWorker> TakeSetup() {
        auto next = std::make_unique<FakeSetup>(setupTemplate);
        setup = next.get();
        return next;
    }

    testsupport::TempDir scratch;
    const fs::path temp = scratch.path();
    ProgressDialogSettings settings;
    ScriptedView view;
    std::shared_ptr<ScriptedPresenter> presenter;
    std::unique_ptr<CSelfExtractingDlg> dialog;
    FakeThread* fake = nullptr;
    FakeSetup setupTemplate;
    FakeSetup* setup = nullptr;
    FakeSetup setupRecord;
    bool failStart = false;
    std::uint32_t exitCode = 0xFFFFFFFF;
    std::string extractDir;
    std::vector<ExtractionJob> jobs;
    std::vector<unsigned> folderModes;
    std::vector<cptlib::LResult> replies;
};

ExtractionError DiskFull(std::uint64_t required) {
    ExtractionError error;
    error.kind = ExtractionErrorKind::SystemError;
    error.code = static_cast<std::uint32_t>(cptlib::HRESULT_DISK_FULL);
    error.requiredSize = required;
    return error;
}

TEST_F(ProgressDialogTest, NormalRunExtractsIntoANewPrivateFolderAndLeavesNothingBehind) {
    const int result = Run({[](FakeThread& w) {
        w.Progress(0);
        w.Progress(999);
        w.Progress(1000);
        w.Done();
    }});
    EXPECT_EQ(result, CSelfExtractingDlg::kResultDone);
    EXPECT_EQ(exitCode, kExitSuccess);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].extractFolder, settings.extractDir);
    EXPECT_EQ(jobs[0].archivePath, settings.archivePath);
    EXPECT_TRUE(jobs[0].deleteOnFailure);
    // Made by the dialog before the worker ran, for this user alone.
    EXPECT_EQ(folderModes[0], 0700u);
    EXPECT_TRUE(TempIsEmpty());

    EXPECT_EQ(view.titles.front(), "0 % Extracting...");
    EXPECT_NE(std::find(view.titles.begin(), view.titles.end(), "99 % Extracting..."),
              view.titles.end());
    EXPECT_EQ(view.titles.back(), "100 % Extracting...");
    EXPECT_EQ(view.taskbar.back(), 1000);
    EXPECT_TRUE(view.Has("text " + T("SfxProgressText")));
    EXPECT_TRUE(view.Has("cancel text Cancel"));
    EXPECT_TRUE(view.Has("text " + T("StartSetup")));
    EXPECT_TRUE(view.Has("cancel off"));
}

TEST_F(ProgressDialogTest, TheViewIsShownAboveLevelOneOnly) {
    for (int level : {0, 1, 2, 3, 4}) {
        SCOPED_TRACE(level);
        view = ScriptedView();
        settings.uiLevel = level;
        Run({[](FakeThread& w) { w.Done(); }});
        EXPECT_EQ(exitCode, kExitSuccess);
        EXPECT_EQ(view.Has("show"), level > 1);
    }
}

// The basic levels never ask the confirmation, so Cancel shows as unavailable from the start.
TEST_F(ProgressDialogTest, CancelIsUnavailableFromTheStartAtTheBasicLevels) {
    for (int level : {2, 3, 4}) {
        SCOPED_TRACE(level);
        view = ScriptedView();
        settings.uiLevel = level;
        Run({[](FakeThread& w) { w.Done(); }});
        const auto& calls = view.calls;
        const auto show = std::find(calls.begin(), calls.end(), "show");
        ASSERT_NE(show, calls.end());
        EXPECT_EQ(std::find(calls.begin(), show, "cancel off") != show, level < 4);
    }
}

TEST_F(ProgressDialogTest, AnExistingFolderOfTheDrawnNameIsNeverUsed) {
    const std::string taken = settings.extractDir;
    fs::create_directories(taken);
    testsupport::WriteFile(taken + "planted.txt", "someone else's");
    Run({[](FakeThread& w) { w.Done(); }});
    ASSERT_EQ(jobs.size(), 1u);
    const std::string used = jobs[0].extractFolder;
    EXPECT_NE(used, taken);
    EXPECT_EQ(fs::path(used).parent_path().parent_path(), temp);
    EXPECT_TRUE(fs::path(used).parent_path().filename().string().starts_with("vrn"));
    EXPECT_EQ(folderModes[0], 0700u);
    EXPECT_FALSE(fs::exists(used));
    EXPECT_TRUE(fs::exists(taken + "planted.txt"));
}

TEST_F(ProgressDialogTest, AFolderThatCannotBeMadeIsAFailedExtraction) {
    settings.extractDir = (temp / "missing/parent/vrnaaaaaaaa").string() + "/";
    settings.uiLevel = 1;
    Run({});
    EXPECT_TRUE(jobs.empty());
    EXPECT_EQ(exitCode, kExitBadArchive);
    ASSERT_EQ(presenter->shown.size(), 1u);
    const std::string text = presenter->shown[0].content;
    EXPECT_TRUE(text.starts_with(T("SfxErrorExtract") + "\n\n")) << text;
    EXPECT_TRUE(text.ends_with("\n\n" + settings.extractDir)) << text;
}

TEST_F(ProgressDialogTest, AViewThatCannotBeMadeIsNoSuccess) {
    view.canCreate = false;
    EXPECT_EQ(Run({[](FakeThread& w) { w.Done(); }}), 0);
    EXPECT_EQ(exitCode, kExitBadArchive);
    EXPECT_TRUE(jobs.empty());
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, AWorkerThatCannotStartEndsTheRunAndRemovesTheFolder) {
    failStart = true;
    Run({});
    EXPECT_EQ(exitCode, kExitBadArchive);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, OverwriteAnswers) {
    // askTarget without anybody to ask: the folder is the proposed one, which nobody chose.
    struct Case {
        bool extractOnly;
        int level;
        int preset;
        int button;
        cptlib::LResult reply;
        bool asked;
        std::uint32_t exit;
        bool askTarget = false;
        bool canAsk = true;
        bool presetGiven = false;
    };
    const Case cases[] = {
        {false, 4, 1, cptlib::kIdOk, kOverwriteNo, false, kExitSuccess},
        {false, 0, 0, cptlib::kIdOk, kOverwriteNo, false, kExitSuccess},
        {true, 0, kOverwriteNoToAll, cptlib::kIdOk, kOverwriteNoToAll, false, kExitSuccess},
        {true, 0, kOverwriteYesToAll, cptlib::kIdCancel, kOverwriteYesToAll, false, kExitSuccess},
        {true, 1, 3, cptlib::kIdOk, kOverwriteYesToAll, true, kExitSuccess},
        {true, 4, 1, cptlib::kIdCancel, kOverwriteCancel, true, kExitCancelled},
        // Nobody answered a question about a folder somebody chose: a failure, not a cancel.
        {true, 4, 1, 0, kOverwriteCancel, true, kExitBadArchive},
        {true, 4, 1, cptlib::kIdOk, kOverwriteCancel, false, kExitBadArchive, false, false},
        {true, 2, 1, cptlib::kIdOk, kOverwriteYesToAll, false, kExitSuccess, false, false, true},
        // A folder nobody chose keeps the user's files, and the run does not report success.
        {true, 0, kOverwriteYesToAll, cptlib::kIdOk, kOverwriteNo, false, kExitBadArchive, true},
        {true, 4, 1, cptlib::kIdOk, kOverwriteNo, false, kExitBadArchive, true, false},
        {true, 0, kOverwriteYesToAll, cptlib::kIdOk, kOverwriteYesToAll, false, kExitSuccess, true,
         true, true},
        {true, 0, kOverwriteNo, cptlib::kIdOk, kOverwriteNo, false, kExitSuccess, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.extractOnly << " level " << c.level << " button "
                                        << c.button << " askTarget " << c.askTarget << " canAsk "
                                        << c.canAsk << " given " << c.presetGiven);
        view = ScriptedView();
        presenter->shown.clear();
        view.overwriteButton = c.button;
        view.canAsk = c.canAsk;
        settings.extractOnly = c.extractOnly;
        settings.askTarget = c.askTarget;
        settings.uiLevel = c.level;
        settings.overwriteAnswer = c.preset;
        settings.overwriteAnswerGiven = c.presetGiven;
        settings.extractDir = (temp / "target").string() + "/";
        Run({[](FakeThread& w) {
            if (w.AskOverwrite("/somewhere/sub/b.txt") == kOverwriteCancel)
                w.Cancelled();
            else
                w.Done();
        }});
        settings.askTarget = false;
        settings.overwriteAnswerGiven = false;
        EXPECT_TRUE(view.pickRequests.empty());
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], c.reply);
        EXPECT_EQ(view.overwriteQuestions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(exitCode, c.exit);
        if (c.exit == kExitBadArchive && c.level > 0) {
            // The failure names the switch that answers without a question.
            ASSERT_EQ(presenter->shown.size(), 1u);
            EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::Error);
            EXPECT_NE(presenter->shown[0].content.find("/overwriteanswer"), std::string::npos)
                << presenter->shown[0].content;
        }
        if (c.exit == kExitBadArchive) {
            EXPECT_FALSE(view.success.has_value());
        }
        if (c.asked) {
            const auto& q = view.overwriteQuestions[0];
            EXPECT_EQ(q.caption, "Demo Product");
            EXPECT_EQ(q.mainInstruction, T("OverwriteFileExists"));
            EXPECT_EQ(q.content, "\"b.txt\"\n\nOverwrite all existing files?");
            EXPECT_EQ(q.iconKind, cptlib::IconKind::Warning);
            EXPECT_EQ(q.flags, cptlib::MBF_ATTENTION);
            ASSERT_EQ(q.buttons.size(), 2u);
            EXPECT_EQ(q.buttons[0].text, "Overwrite all");
            EXPECT_FALSE(q.buttons[0].isDefault);
            EXPECT_EQ(q.buttons[1].text, "Cancel");
            EXPECT_TRUE(q.buttons[1].isDefault);
            // Paused while asking.
            auto at = std::find(view.calls.begin(), view.calls.end(), "overwrite question");
            ASSERT_NE(at, view.calls.begin());
            EXPECT_EQ(*(at - 1), "bar 3");
            EXPECT_EQ(*(at + 1), "bar 1");
        }
        EXPECT_EQ(jobs[0].deleteOnFailure, !c.extractOnly);
    }
}

// The failures of a run nobody could answer read in the run's language, with the right number
// of files, and name the switches that answer without a question.
TEST(UnansweredRunTexts, SpeakTheRunsLanguage) {
    struct Case {
        const char* table;
        std::size_t count;
        const char* mustHold;
    };
    const Case cases[] = {
        {"en-US.xml", 1, "1 file already in the folder \"/tmp/x/out/\" was kept"},
        {"en-US.xml", 3, "3 files already in the folder \"/tmp/x/out/\" were kept"},
        {"de.xml", 1, "Eine Datei, die bereits im Ordner „/tmp/x/out/“ vorhanden war, wurde"},
        {"de.xml", 3, "3 Dateien, die bereits im Ordner „/tmp/x/out/“ vorhanden waren, wurden"},
        {"ja-JP.xml", 1, "既存のファイル 1 個は、だれも選択していないフォルダー「/tmp/x/out/」"},
        {"ja-JP.xml", 3, "既存のファイル 3 個は、だれも選択していないフォルダー「/tmp/x/out/」"},
        // Slavic plurals are worded so that any count reads right.
        {"ru-RU.xml", 5, "Сохранено файлов: 5. Они уже находились в папке «/tmp/x/out/»"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.table << " " << c.count);
        const auto strings = testsupport::LoadStringTable(c.table);
        const std::string kept = KeptFilesText(c.count, "/tmp/x/out/", *strings);
        const std::string unanswered = UnansweredOverwriteText("/tmp/x/out/Handbuch.pdf", *strings);
        EXPECT_NE(kept.find(c.mustHold), std::string::npos) << kept;
        EXPECT_NE(unanswered.find("\"/tmp/x/out/Handbuch.pdf\""), std::string::npos) << unanswered;
        EXPECT_EQ(unanswered.rfind(strings->GetText("OverwriteFileExists"), 0), 0u) << unanswered;
        for (const std::string& text : {kept, unanswered}) {
            EXPECT_NE(text.find("/overwriteanswer YesToAll"), std::string::npos) << text;
            EXPECT_NE(text.find("/overwriteanswer No"), std::string::npos) << text;
            EXPECT_EQ(text.find('%'), std::string::npos) << text;
            if (std::string(c.table) == "en-US.xml")
                continue;
            for (const char* english : {"file", "folder", "kept", "extracted", "Nobody",
                                        "Start the", "replace", "exists"})
                EXPECT_EQ(text.find(english), std::string::npos) << english << " in: " << text;
        }
    }
}

TEST_F(ProgressDialogTest, FailureTextsForEveryKind) {
    struct Case {
        ExtractionError error;
        std::string text;
    };
    const std::string extract = T("SfxErrorExtract");
    ExtractionError corrupt;
    corrupt.code = 0x8007000D;
    ExtractionError system;
    system.kind = ExtractionErrorKind::SystemError;
    system.code = 5;
    system.path = "/tmp/vrnx/a.txt";
    ExtractionError systemHresult = system;
    systemHresult.code = 0x80004005;
    systemHresult.path.clear();
    ExtractionError library;
    library.kind = ExtractionErrorKind::LibraryError;
    library.message = "Truncated 7-Zip file body";
    library.code = 0x54;
    ExtractionError libraryText = library;
    libraryText.code = 0;
    ExtractionError libraryBare;
    libraryBare.kind = ExtractionErrorKind::LibraryError;
    libraryBare.code = 7;
    ExtractionError other;
    other.kind = static_cast<ExtractionErrorKind>(9);
    other.code = 0x2A;
    ExtractionError corruptItem = corrupt;
    corruptItem.path = "sub/data.txt";
    ExtractionError refusedLink = corruptItem;
    refusedLink.code = 0x80070781;
    refusedLink.path = "sub/up";
    // Not a damaged download: neither text tells the user to download again.
    ExtractionError wrongPassword = system;
    wrongPassword.code = 0x80070056;
    ExtractionError listEnciphered = systemHresult;
    listEnciphered.code = 0x80071772;
    const Case cases[] = {
        {wrongPassword, T("SfxErrorWrongPassword")},
        {listEnciphered, extract + "\n\n" + T("SfxErrorHeadersEncrypted")},
        {corrupt, T("SfxErrorBadArchive")},
        {corruptItem, T("SfxErrorBadArchive") + "\n\nsub/data.txt"},
        {refusedLink, T("SfxErrorLinkRefused") + "\n\nsub/up"},
        {system, extract + "\n\nAccess is denied. (5)\n\n/tmp/vrnx/a.txt"},
        {systemHresult, extract + "\n\n" + cptlib::SystemErrorText(0x80004005)},
        {library, extract + "\n\nTruncated 7-Zip file body (0x00000054)"},
        {libraryText, extract + "\n\nTruncated 7-Zip file body"},
        {libraryBare, extract + " (0x00000007)"},
        {other, extract + "\n\nError type: 9\nError code: 0x0000002A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ExtractionFailureText(c.error, EnglishStrings()), c.text);
    EXPECT_TRUE(cptlib::SystemErrorText(0x80004005).ends_with(" (0x80004005)"));
}

TEST_F(ProgressDialogTest, AFailureIsShownFromLevelOneAndEndsWithTheExtractionCode) {
    for (int level : {0, 1, 4}) {
        SCOPED_TRACE(level);
        view = ScriptedView();
        presenter->shown.clear();
        settings.uiLevel = level;
        ExtractionError error;
        error.code = 0x80070017;
        Run({[&](FakeThread& w) {
            w.Progress(500);
            w.Fail(error);
        }});
        EXPECT_EQ(exitCode, kExitBadArchive);
        EXPECT_TRUE(TempIsEmpty());
        EXPECT_TRUE(view.Has("text " + T("DeletingTempFiles")));
        if (level == 0) {
            EXPECT_TRUE(presenter->shown.empty());
            EXPECT_FALSE(view.Has("flash"));
            continue;
        }
        ASSERT_EQ(presenter->shown.size(), 1u);
        EXPECT_EQ(presenter->shown[0].content, T("SfxErrorBadArchive"));
        EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::Error);
        auto at = std::find(view.calls.begin(), view.calls.end(), "bar 2");
        ASSERT_NE(at, view.calls.end());
        EXPECT_EQ(*(at + 1), "flash");
        EXPECT_EQ(*(at + 2), "bar 1");
        EXPECT_EQ(view.progress.back(), 0);
    }
}

TEST_F(ProgressDialogTest, DiskFullAtTheNormalLevelOffersAnotherFolderAndRestarts) {
    const fs::path other = temp / "roomy";
    fs::create_directories(other);
    view.folders.push_back(other.string() + "/");
    presenter->answer = [](const MessageBoxContent&) { return cptlib::kIdOk; };
    Run({[](FakeThread& w) {
             w.Progress(300);
             w.Fail(DiskFull(3221225472ull));
         },
         [](FakeThread& w) {
             w.Progress(1000);
             w.Done();
         }});
    EXPECT_EQ(exitCode, kExitSuccess);
    ASSERT_EQ(presenter->shown.size(), 1u);
    EXPECT_EQ(presenter->shown[0].content,
              "Choose a location with enough space to temporary store the installation files "
              "(3.00 GB).");
    EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::None);
    ASSERT_EQ(view.pickRequests.size(), 1u);
    EXPECT_EQ(view.pickRequests[0].second, "Demo Product - Choose destination location");

    ASSERT_EQ(jobs.size(), 2u);
    const fs::path second(jobs[1].extractFolder);
    EXPECT_EQ(second.parent_path(), other);
    EXPECT_TRUE(second.filename().string().starts_with("vrn"));
    EXPECT_EQ(second.filename().string().size(), 11u);
    EXPECT_EQ(folderModes[1], 0700u);
    EXPECT_FALSE(fs::exists(second));
    EXPECT_TRUE(fs::is_empty(other));
    // The restart begins at zero with the first status text.
    const auto restart = std::find(view.progress.begin(), view.progress.end(), 300);
    ASSERT_NE(restart, view.progress.end());
    EXPECT_EQ(*(restart + 1), 0);
    EXPECT_EQ(view.Count("text " + T("SfxProgressText")), 2u);
}

TEST_F(ProgressDialogTest, AfterADiskFullMoveTheSetupPathAndParametersNameTheNewFolder) {
    const fs::path other = temp / "roomy";
    fs::create_directories(other);
    // Picked folders come with and without a trailing "/"; the setup path must be whole.
    for (const std::string& picked : {other.string(), other.string() + "/"}) {
        SCOPED_TRACE(picked);
        view = ScriptedView();
        view.folders.push_back(picked);
        presenter->answer = [](const MessageBoxContent&) { return cptlib::kIdOk; };
        const std::string composed = settings.extractDir;
        settings.setupFile = composed + "setup.sh";
        settings.setupParams = "/src " + composed + "data";
        Run({[](FakeThread& w) { w.Fail(DiskFull(1)); },
             [](FakeThread& w) {
                 testsupport::WriteExecutable(JoinPath(w.Job().extractFolder, "setup.sh"),
                                              "#!/bin/sh\n");
                 w.Done();
             }});
        ASSERT_EQ(jobs.size(), 2u);
        ASSERT_EQ(setup->starts.size(), 1u);
        const std::string folder = AddTrailingSlash(jobs[1].extractFolder);
        EXPECT_EQ(fs::path(jobs[1].extractFolder).parent_path(), other);
        EXPECT_EQ(setup->starts[0].setupFile, folder + "setup.sh");
        EXPECT_EQ(setup->starts[0].parameters, "/src " + folder + "data");
        settings.extractDir = composed;
    }
}

TEST_F(ProgressDialogTest, DiskFullWithoutAChoiceEndsWithTheExtractionCode) {
    struct Case {
        int level;
        bool extractOnly;
        bool pickerAnswers;
        std::size_t boxes;
        std::size_t picks;
    };
    // Below the normal level the failure box is shown instead of the choice (written to the
    // log only at level 0); extract-only runs show the failure box too.
    const Case cases[] = {
        {1, false, true, 1, 0},  {2, false, true, 1, 0}, {3, false, true, 1, 0},
        {4, false, false, 1, 1}, {4, true, true, 1, 0},  {0, false, true, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "level " << c.level << " extract-only " << c.extractOnly);
        view = ScriptedView();
        presenter->shown.clear();
        if (c.pickerAnswers)
            view.folders.push_back(temp.string() + "/");
        settings.uiLevel = c.level;
        settings.extractOnly = c.extractOnly;
        Run({[](FakeThread& w) { w.Fail(DiskFull(50)); }, [](FakeThread& w) { w.Done(); }});
        EXPECT_EQ(exitCode, kExitBadArchive);
        EXPECT_EQ(jobs.size(), 1u);
        EXPECT_EQ(presenter->shown.size(), c.boxes);
        EXPECT_EQ(view.pickRequests.size(), c.picks);
        if ((c.extractOnly || c.level < 4) && !presenter->shown.empty()) {
            EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::Error);
            EXPECT_NE(presenter->shown[0].content.find("There is not enough space on the disk."),
                      std::string::npos);
        }
        if (!c.extractOnly) {
            EXPECT_TRUE(TempIsEmpty());
        }
        settings.extractOnly = false;
        std::error_code ec;
        fs::remove_all(temp / "vrnaaaaaaaa", ec);
    }
}

TEST_F(ProgressDialogTest, CancelConfirmationAtEachLevel) {
    struct Case {
        int level;
        int answer;
        bool asked;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {4, cptlib::kIdYes, true, kExitCancelled},
        {4, cptlib::kIdNo, true, kExitSuccess},
        // The question icon is suppressed below the normal level: no answer, no effect.
        {3, cptlib::kIdYes, false, kExitSuccess},
        {2, cptlib::kIdYes, false, kExitSuccess},
        {1, cptlib::kIdYes, false, kExitSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        view = ScriptedView();
        presenter->shown.clear();
        presenter->answer = [&](const MessageBoxContent&) { return c.answer; };
        settings.uiLevel = c.level;
        view.onProgress = [this] { view.PressCancel(); };
        // The second report is answered only after the button's handler has returned.
        Run({[](FakeThread& w) { w.RunUntilCancelled(2); }});
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_TRUE(TempIsEmpty());
        ASSERT_EQ(presenter->shown.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(presenter->shown[0].content, T("VerifyCancel"));
            EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::Question);
            ASSERT_EQ(presenter->shown[0].buttons.size(), 2u);
            EXPECT_EQ(presenter->shown[0].buttons[0].id, cptlib::kIdYes);
        }
        const bool cancelled = c.exitCode == kExitCancelled;
        EXPECT_EQ(view.Has("text " + T("StartSetup")), !cancelled);
        // Without the setup start, only the confirmed cancel disables the button.
        if (cancelled) {
            EXPECT_TRUE(view.Has("cancel off"));
        }
    }
}

TEST_F(ProgressDialogTest, ACancelAfterSuccessHasNoEffect) {
    presenter->answer = [](const MessageBoxContent&) { return cptlib::kIdYes; };
    view.onProgress = [this] { view.PressCancel(); };
    Run({[](FakeThread& w) {
        w.Done();
        // The run has ended: the confirmed cancel reaches a finished worker.
        w.Progress(1000);
    }});
    EXPECT_EQ(exitCode, kExitSuccess);
}

TEST_F(ProgressDialogTest, StopSignals) {
    struct Case {
        const char* name;
        int level;
        std::vector<cptlib::WParam> signals;
        int answer;
        std::size_t questions;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"terminate", 4, {kStopTerminate}, cptlib::kIdNo, 0, kExitCancelled},
        {"interrupt confirmed", 4, {kStopInterrupt}, cptlib::kIdYes, 1, kExitCancelled},
        {"interrupt declined", 4, {kStopInterrupt}, cptlib::kIdNo, 1, kExitSuccess},
        // After "No" the next Ctrl+C asks again.
        {"second interrupt after no",
         4,
         {kStopInterrupt, kStopInterrupt},
         cptlib::kIdNo,
         2,
         kExitSuccess},
        // Where the confirmation cannot be shown, one Ctrl+C cancels.
        {"interrupt suppressed", 2, {kStopInterrupt}, cptlib::kIdYes, 0, kExitCancelled},
        {"interrupt unanswerable", 4, {kStopInterrupt}, 0, 1, kExitCancelled},
        {"second interrupt suppressed",
         2,
         {kStopInterrupt, kStopInterrupt},
         cptlib::kIdYes,
         0,
         kExitCancelled},
        {"silent terminate", 0, {kStopTerminate}, cptlib::kIdYes, 0, kExitCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = ScriptedView();
        presenter->shown.clear();
        presenter->answer = [&](const MessageBoxContent&) { return c.answer; };
        settings.uiLevel = c.level;
        Run({[&](FakeThread& w) {
            for (auto kind : c.signals)
                w.Post(WM_SFX_STOP_REQUEST, kind);
            w.RunUntilCancelled(300);
        }});
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(presenter->shown.size(), c.questions);
        EXPECT_TRUE(TempIsEmpty());
    }
}

// While the confirmation is open the run goes on: a stop signal closes it and cancels (Ctrl+C
// there is the answer Yes), the end of the extraction closes it and the setup starts.
TEST_F(ProgressDialogTest, TheOpenConfirmationClosesWhenTheRunGoesPastIt) {
    struct Case {
        const char* name;
        std::optional<cptlib::WParam> signal; // none: the extraction ends meanwhile
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {"Ctrl+C at the question", kStopInterrupt, kExitCancelled},
        {"SIGTERM at the question", kStopTerminate, kExitCancelled},
        {"extraction ends at the question", std::nullopt, kExitSuccess},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        view = ScriptedView();
        view.KeepConfirmationOpen();
        presenter->shown.clear();
        // Never reached: the question closes before anybody answers.
        presenter->answer = [](const MessageBoxContent&) { return cptlib::kIdYes; };
        std::atomic<bool> open = false;
        view.whileConfirming = [&] {
            open = true;
            if (c.signal)
                dialog->Inbox().Post(WM_SFX_STOP_REQUEST, *c.signal);
        };
        Run({[&](FakeThread& w) {
            w.Post(WM_SFX_STOP_REQUEST, kStopInterrupt);
            if (c.signal) {
                w.RunUntilCancelled(5000);
                return;
            }
            while (!open)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            w.Progress(1000);
            w.Done();
        }});
        EXPECT_EQ(exitCode, c.exitCode);
        EXPECT_EQ(view.Count("cancel question"), 1u);
        EXPECT_TRUE(view.Has("close questions"));
        EXPECT_TRUE(presenter->shown.empty());
        EXPECT_EQ(setup->starts.size(), c.signal ? 0u : 1u);
        EXPECT_TRUE(TempIsEmpty());
    }
}

TEST_F(ProgressDialogTest, ProcessSignalsReachTheRunningDialog) {
    struct Case {
        std::vector<int> signals;
        int level;
        std::uint32_t exitCode;
    };
    const Case cases[] = {
        {{SIGTERM}, 4, kExitCancelled},
        {{SIGHUP}, 1, kExitCancelled},
        // Ctrl+C asks first; where the question is suppressed it cancels at once.
        {{SIGINT}, 0, kExitCancelled},
        {{SIGINT, SIGINT}, 0, kExitCancelled},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.signals.size() << " signals, level " << c.level);
        testsupport::Watchdog watchdog;
        settings.uiLevel = c.level;
        auto worker = std::make_unique<ExtractionWorker<FakeThread>>();
        worker->Get().scripts.push_back([&](FakeThread& w) {
            w.Progress(0);
            for (int number : c.signals)
                ::raise(number);
            w.RunUntilCancelled(300);
        });
        EXPECT_EQ(
            RunProgressDialog(settings, EnglishStrings(), view, std::move(worker), TakeSetup()),
            c.exitCode);
        EXPECT_TRUE(TempIsEmpty());
        struct sigaction current {};
        ::sigaction(SIGTERM, nullptr, &current);
        EXPECT_EQ(current.sa_handler, SIG_DFL);
    }
}

TEST_F(ProgressDialogTest, AStopBeforeTheStartExtractsNothing) {
    Run({[](FakeThread& w) { w.Done(); }},
        [](CSelfExtractingDlg& d) { d.Inbox().Post(WM_SFX_STOP_REQUEST, kStopTerminate); });
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_TRUE(jobs.empty());
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, AStopDuringTheFolderChoiceEndsInsteadOfRestarting) {
    view.folders.push_back(temp.string() + "/");
    view.onPick = [this] { dialog->Inbox().Post(WM_SFX_STOP_REQUEST, kStopTerminate); };
    presenter->answer = [](const MessageBoxContent&) { return cptlib::kIdOk; };
    Run({[](FakeThread& w) { w.Fail(DiskFull(1)); }, [](FakeThread& w) { w.Done(); }});
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_EQ(jobs.size(), 1u);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, AStopAfterTheExtractionStillEndsAsCancelled) {
    Run({[](FakeThread& w) {
        w.Post(WM_SFX_STOP_REQUEST, kStopTerminate);
        w.Done();
    }});
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, DestroyingTheDialogDuringTheRunCancelsAndCleansUp) {
    view.onProgress = [] { throw std::runtime_error("view failed"); };
    testsupport::Watchdog watchdog;
    EXPECT_THROW(Run({[](FakeThread& w) { w.RunUntilCancelled(5000); }}), std::runtime_error);
    // The worker still runs: the end of the dialog cancels and joins it.
    EXPECT_TRUE(fs::exists(settings.extractDir));
    dialog.reset();
    EXPECT_TRUE(TempIsEmpty());
}

TEST_F(ProgressDialogTest, ExtractOnlyAsksForTheTargetFirst) {
    settings.extractOnly = true;
    settings.askTarget = true;
    settings.extractDir = "/home/nobody/Documents/";
    const fs::path picked = temp / "picked";
    fs::create_directories(picked);
    view.folders.push_back(picked.string() + "/");
    Run({[](FakeThread& w) { w.Done(); }});
    EXPECT_EQ(exitCode, kExitSuccess);
    ASSERT_EQ(view.pickRequests.size(), 1u);
    EXPECT_EQ(view.pickRequests[0].first, "/home/nobody/Documents/");
    ASSERT_EQ(jobs.size(), 1u);
    // The picked folder itself, no random folder below it, never deleted.
    EXPECT_EQ(jobs[0].extractFolder, picked.string() + "/");
    EXPECT_FALSE(jobs[0].deleteOnFailure);
    EXPECT_TRUE(fs::exists(picked));
    ASSERT_TRUE(view.success.has_value());
    EXPECT_EQ(view.success->mainInstruction, T("ExtractSuccess"));
    EXPECT_EQ(view.success->content,
              "<LINK " + picked.string() + "/|file://" + picked.string() + "/>");
    EXPECT_EQ(view.success->iconKind, cptlib::IconKind::Information);
    EXPECT_EQ(view.successFolder, picked.string() + "/");
}

TEST_F(ProgressDialogTest, ExtractOnlyWhenSilentTakesTheProposedFolderWithoutAsking) {
    settings.extractOnly = true;
    settings.askTarget = true;
    settings.uiLevel = 0;
    settings.extractDir = (temp / "proposed").string() + "/";
    Run({[](FakeThread& w) { w.Done(); }});
    EXPECT_EQ(exitCode, kExitSuccess);
    EXPECT_TRUE(view.pickRequests.empty());
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].extractFolder, settings.extractDir);
}

TEST_F(ProgressDialogTest, ExtractOnlyWithNobodyToAskTakesTheProposedFolder) {
    for (int level : {1, 4}) {
        SCOPED_TRACE(level);
        view = ScriptedView();
        view.canAsk = false;
        settings.extractOnly = true;
        settings.askTarget = true;
        settings.uiLevel = level;
        settings.extractDir = (temp / "proposed").string() + "/";
        Run({[](FakeThread& w) { w.Done(); }});
        EXPECT_EQ(exitCode, kExitSuccess);
        EXPECT_TRUE(view.pickRequests.empty());
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_EQ(jobs[0].extractFolder, settings.extractDir);
    }
}

// Declining the folder is cancelling, with the status of every cancel.
TEST_F(ProgressDialogTest, ExtractOnlyTargetQuestionDeclinedEndsAsCancelled) {
    settings.extractOnly = true;
    settings.askTarget = true;
    const int result = Run({[](FakeThread& w) { w.Done(); }});
    EXPECT_EQ(result, CSelfExtractingDlg::kResultStopped);
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_TRUE(jobs.empty());
    EXPECT_FALSE(view.success.has_value());
}

// A terminal's folder prompt returns only after a stop signal was posted (the prompt blocks the
// dialog's thread): the declined question then ends as cancelled, not as declined.
TEST_F(ProgressDialogTest, ATargetQuestionEndedByAStopEndsAsCancelled) {
    settings.extractOnly = true;
    settings.askTarget = true;
    view.onPick = [this] { dialog->Inbox().Post(WM_SFX_STOP_REQUEST, kStopTerminate); };
    const int result = Run({[](FakeThread& w) { w.Done(); }});
    EXPECT_EQ(result, CSelfExtractingDlg::kResultStopped);
    EXPECT_EQ(exitCode, kExitCancelled);
    EXPECT_TRUE(jobs.empty());
}

TEST_F(ProgressDialogTest, ExtractOnlySuccessBoxFromLevelTwoUp) {
    for (int level : {0, 1, 2, 4}) {
        SCOPED_TRACE(level);
        view = ScriptedView();
        settings.uiLevel = level;
        settings.extractOnly = true;
        settings.extractDir = temp.string() + "/";
        Run({[](FakeThread& w) { w.Done(); }});
        EXPECT_EQ(exitCode, kExitSuccess);
        EXPECT_EQ(view.success.has_value(), level >= 2);
        EXPECT_TRUE(fs::exists(temp));
    }
}

TEST_F(ProgressDialogTest, PasswordAnswers) {
    struct Case {
        std::optional<std::string> entered;
        std::size_t capacity;
        cptlib::LResult reply;
        std::string received;
    };
    const std::string longest(kPasswordCapacity - 1, 'p');
    const Case cases[] = {
        {std::string("s\xC3\xA9kret"), kPasswordCapacity, kPasswordEntered, "s\xC3\xA9kret"},
        {std::string(), kPasswordCapacity, kPasswordEntered, ""},
        {longest, kPasswordCapacity, kPasswordEntered, longest},
        // Too long to fit: refused rather than cut into a wrong password.
        {longest + "p", kPasswordCapacity, 2, longest + "p"},
        {std::nullopt, kPasswordCapacity, 2, ""},
    };
    for (const auto& c : cases) {
        view = ScriptedView();
        view.password_ = c.entered;
        settings.uiLevel = 0; // nothing suppresses the password question
        std::string received;
        Run({[&](FakeThread& w) {
            std::string password;
            if (w.AskPassword(password, c.capacity) == kPasswordEntered)
                received = password;
            w.Done();
        }});
        EXPECT_TRUE(view.Has("password question"));
        ASSERT_EQ(replies.size(), 1u);
        EXPECT_EQ(replies[0], c.reply);
        if (c.reply == kPasswordEntered) {
            EXPECT_EQ(received, c.received);
        }
    }
}

TEST_F(ProgressDialogTest, TheSetupOutcomeDecidesTheExitCode) {
    struct Case {
        const char* name;
        std::uint32_t setupExit;
        cptlib::LParam status;
        bool withException;
        std::uint32_t exitCode;
        std::size_t boxes;
    };
    const Case cases[] = {
        {"setup succeeded", 0, kSetupFinished, false, 0, 0},
        {"setup's own code passed on", 3010, kSetupFinished, false, 3010, 0},
        {"start declined", 0, kSetupCancelled, false, kExitCancelled, 0},
        {"start failed", 0, kSetupFailed, true, kExitSetupFailed, 1},
        {"failed without a stored exception", 0, kSetupFailed, false, kExitSetupFailed, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        presenter->shown.clear();
        view.calls.clear();
        setupTemplate.exitCode = c.setupExit;
        setupTemplate.status = c.status;
        setupTemplate.exception = nullptr;
        if (c.withException) {
            try {
                throw std::system_error(std::error_code(2, cptlib::win32_category()),
                                        "ShellExecuteEx failed");
            } catch (...) {
                setupTemplate.exception = std::current_exception();
            }
        }
        EXPECT_EQ(Run({[](FakeThread& w) { w.Done(); }}), CSelfExtractingDlg::kResultDone);
        EXPECT_EQ(exitCode, c.exitCode);
        ASSERT_EQ(presenter->shown.size(), c.boxes);
        if (c.boxes != 0) {
            EXPECT_NE(presenter->shown[0].content.find("ShellExecuteEx failed"), std::string::npos)
                << presenter->shown[0].content;
            EXPECT_EQ(presenter->shown[0].iconKind, cptlib::IconKind::Error);
        }
        EXPECT_TRUE(TempIsEmpty());
        EXPECT_EQ(setup->waits, 1);
        // The status line names the start, Cancel is gone, and the window hides for the setup.
        const auto text =
            std::find(view.calls.begin(), view.calls.end(), "text " + T("StartSetup"));
        ASSERT_NE(text, view.calls.end());
        EXPECT_NE(std::find(text, view.calls.end(), "cancel off"), view.calls.end());
        EXPECT_NE(std::find(text, view.calls.end(), "hide"), view.calls.end());
    }
}

TEST_F(ProgressDialogTest, TheSetupGetsTheResolvedFileAndTheFolderItRunsFrom) {
    settings.setupFile = "setup.sh";
    settings.setupParams = "/log [ExtractDir]log.txt";
    settings.programPath = "/media/disk/launcher";
    Run({[](FakeThread& w) {
        testsupport::WriteFile(w.Job().extractFolder + "setup.sh", "#!/bin/sh\n");
        w.Done();
    }});
    ASSERT_EQ(setup->starts.size(), 1u);
    const SetupLaunchInfo& launch = setup->starts[0];
    EXPECT_EQ(launch.setupFile, settings.extractDir + "setup.sh");
    EXPECT_EQ(launch.extractDir, settings.extractDir);
    EXPECT_EQ(launch.programFile, fs::path("/media/disk/launcher"));
    EXPECT_TRUE(launch.notifyWindow);
    EXPECT_EQ(launch.parameters, settings.setupParams);
}

TEST_F(ProgressDialogTest, ANewFolderNameReachesTheSetupParameters) {
    // The drawn name is taken, so the dialog makes another one after composing.
    fs::create_directories(settings.extractDir);
    const std::string taken = settings.extractDir;
    settings.setupFile = "setup.sh";
    settings.setupParams = "/dir " + taken + "data";
    Run({[](FakeThread& w) { w.Done(); }});
    ASSERT_EQ(setup->starts.size(), 1u);
    const SetupLaunchInfo& launch = setup->starts[0];
    EXPECT_NE(launch.extractDir, taken);
    EXPECT_EQ(launch.parameters, "/dir " + launch.extractDir + "data");
    EXPECT_EQ(launch.setupFile, launch.extractDir + "product/setup.sh");
}

TEST_F(ProgressDialogTest, StopSignalsDuringTheSetupArePassedOnAndItsStatusStands) {
    using cptlib::platform::StopSignal;
    struct Case {
        StopSignal kind;
        bool fromTerminal;
    };
    for (const Case c : {Case{StopSignal::Terminate, false}, Case{StopSignal::Interrupt, true},
                         Case{StopSignal::Hangup, false}}) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        presenter->shown.clear();
        setupTemplate.waitForSignal = true;
        setupTemplate.exitCode = 143;
        Run({[&](FakeThread& w) {
            w.Done();
            cptlib::platform::StopSignalEvent event{c.kind, c.fromTerminal};
            w.Post(WM_SFX_STOP_REQUEST,
                   c.kind == StopSignal::Interrupt ? kStopInterrupt : kStopTerminate,
                   StopRequestDetail(event));
        }});
        ASSERT_EQ(setup->forwarded.size(), 1u);
        EXPECT_EQ(setup->forwarded[0].first, c.kind);
        EXPECT_EQ(setup->forwarded[0].second, c.fromTerminal);
        // Neither the cancel question nor the cancelled code: the setup decides.
        EXPECT_TRUE(presenter->shown.empty());
        EXPECT_EQ(exitCode, 143u);
    }
}

TEST_F(ProgressDialogTest, ASetupWorkerThatCannotStartEndsAsAFailedSetupAndRemovesTheFolder) {
    setupTemplate.failStart = true;
    EXPECT_EQ(Run({[](FakeThread& w) { w.Done(); }}), CSelfExtractingDlg::kResultDone);
    EXPECT_EQ(exitCode, kExitSetupFailed);
    EXPECT_TRUE(TempIsEmpty());
}

} // namespace
