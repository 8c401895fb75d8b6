#include "launcher/ProgressDialog.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/DisplayText.h"
#include "cptlib/ErrorText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/ui/MessageBox.h"
#include "format/ArchiveReader.h"
#include "launcher/ExitStatus.h"
#include "launcher/ExtractOnly.h"
#include "launcher/Format.h"
#include "launcher/TemporaryFolder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

namespace sfx {

namespace {

std::string Hex08(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

} // namespace

std::string ExtractionFailureText(const ExtractionError& error,
                                  const cptlib::IStringResources& strings) {
    const std::string extract = strings.GetText("SfxErrorExtract");
    switch (error.kind) {
    case ExtractionErrorKind::CorruptArchive:
        // The item that is damaged or refused, where one is known.
        return strings.GetText(error.code == static_cast<std::uint32_t>(HRESULT_LINK_REFUSED)
                                   ? "SfxErrorLinkRefused"
                                   : "SfxErrorBadArchive") +
               (error.path.empty() ? std::string() : "\n\n" + cptlib::DisplayName(error.path));
    case ExtractionErrorKind::SystemError: {
        // Not a damaged download: the user can put these right.
        if (error.code == static_cast<std::uint32_t>(HRESULT_WRONG_PASSWORD))
            return strings.GetText("SfxErrorWrongPassword");
        if (error.code == static_cast<std::uint32_t>(HRESULT_HEADERS_ENCRYPTED))
            return extract + "\n\n" + strings.GetText("SfxErrorHeadersEncrypted");
        std::string text = extract + "\n\n" + cptlib::SystemErrorText(error.code);
        if (!error.path.empty())
            text += "\n\n" + cptlib::DisplayName(error.path);
        return text;
    }
    case ExtractionErrorKind::LibraryError: {
        std::string text = extract;
        if (!error.message.empty())
            text += "\n\n" + cptlib::DisplayText(error.message);
        if (error.code != 0)
            text += " (" + Hex08(error.code) + ")";
        return text;
    }
    }
    return extract + "\n\nError type: " + std::to_string(static_cast<std::int32_t>(error.kind)) +
           "\nError code: " + Hex08(error.code);
}

std::string UnansweredOverwriteText(const std::string& existingPath,
                                    const cptlib::IStringResources& strings) {
    return strings.GetText("OverwriteFileExists") + "\n\n\"" + cptlib::DisplayName(existingPath) +
           "\"\n\n" + strings.GetText("SfxOverwriteNobodyToAsk") + " " +
           strings.GetText("SfxOverwriteSwitches");
}

std::string KeptFilesText(std::size_t count, const std::string& folder,
                          const cptlib::IStringResources& strings) {
    const std::string kept =
        count == 1
            ? FormatText(strings.GetText("SfxFileKept"), cptlib::DisplayName(folder))
            : FormatText(strings.GetText("SfxFilesKept"), count, cptlib::DisplayName(folder));
    return kept + " " + strings.GetText("SfxOverwriteSwitches");
}

CSelfExtractingDlg::CSelfExtractingDlg(ProgressDialogSettings settings,
                                       const cptlib::IStringResources& strings, IProgressView& view,
                                       std::unique_ptr<IExtractionWorker> worker,
                                       std::unique_ptr<ISetupWorker> setupWorker)
    : settings_(std::move(settings)), strings_(strings), view_(view),
      composedExtractDir_(settings_.extractDir),
      inbox_([this](const cptlib::Message& message) { return OnMessage(message); }),
      worker_(std::move(worker)), setupWorker_(std::move(setupWorker)) {
    if (!worker_)
        CPT_THROW(cptlib::RuntimeError("The progress dialog needs an extraction worker"));
    if (!setupWorker_)
        setupWorker_ = std::make_unique<SetupWorker>();
}

cptlib::LParam StopRequestDetail(const cptlib::platform::StopSignalEvent& event) {
    return static_cast<cptlib::LParam>(event.kind) | (event.fromTerminal ? kStopFromTerminal : 0);
}

CSelfExtractingDlg::~CSelfExtractingDlg() {
    destroying_ = true;
    worker_->RequestCancel(true);
    RemoveTemporaryFolder();
}

std::string CSelfExtractingDlg::Text(const char* id) const {
    return strings_.GetText(id);
}

int CSelfExtractingDlg::DoModal() {
    ProgressViewLayout layout;
    layout.pretty = settings_.prettyProgress;
    layout.productName = settings_.productName;
    layout.onCancel = [this] { OnCancel(); };
    if (!view_.Create(layout)) {
        // Nothing was extracted: never report that as success.
        cptlib::ShowMessageBox("The progress window could not be created.", cptlib::kMbIconError, 0,
                               settings_.uiLevel, &strings_);
        exitCode_ = kExitBadArchive;
        return 0;
    }
    view_.SetCancelText(Text("Cancel"));
    // The confirmation is a question, which the basic levels never ask: Cancel cannot act.
    if (settings_.uiLevel == UiBasic || settings_.uiLevel == UiBasicExtra)
        view_.EnableCancel(false);
    view_.SetText(Text("SfxProgressText"));
    view_.SetTitle(FormatText(Text("SfxProgressTitle"), 0));
    if (settings_.uiLevel > UiHidden)
        view_.Show(true);
    if (!startPosted_) {
        startPosted_ = true;
        inbox_.Post(WM_SFX_START_EXTRACT);
    }
    view_.RunModalLoop(inbox_, [this] { return ended_; });
    view_.Show(false);
    worker_->Wait();
    return result_;
}

cptlib::LResult CSelfExtractingDlg::OnMessage(const cptlib::Message& message) {
    if (destroying_) {
        // Only a worker being joined still talks; it must end, not wait for answers.
        switch (message.id) {
        case WM_SFX_ASK_OVERWRITE:
            return kOverwriteCancel;
        case WM_SFX_ASK_PASSWORD:
            return kPasswordRefused;
        default:
            return 0;
        }
    }
    switch (message.id) {
    case WM_SFX_START_EXTRACT:
        OnStartExtract();
        break;
    case WM_SFX_PROGRESS:
        OnProgress(message.lParam);
        break;
    case WM_SFX_ASK_OVERWRITE:
        return OnAskOverwrite(reinterpret_cast<const char*>(message.lParam));
    case WM_SFX_ASK_PASSWORD:
        return OnAskPassword(reinterpret_cast<char*>(message.wParam),
                             static_cast<std::size_t>(message.lParam));
    case WM_SFX_DELETING:
        view_.SetText(Text("DeletingTempFiles"));
        break;
    case WM_SFX_EXTRACT_ERROR:
        if (message.wParam != 0)
            OnExtractError(*reinterpret_cast<const ExtractionError*>(message.wParam));
        break;
    case WM_SFX_EXTRACT_FAILED:
        OnExtractFailed();
        break;
    case WM_SFX_EXTRACT_CANCELLED:
        OnExtractCancelled();
        break;
    case WM_SFX_EXTRACT_DONE:
        OnExtractDone();
        break;
    case WM_SFX_HIDE:
        view_.Show(false);
        break;
    case WM_SFX_SETUP_DONE:
        OnSetupDone(message.wParam, message.lParam);
        break;
    case WM_SFX_STOP_REQUEST:
        OnStopRequest(message.wParam, message.lParam);
        break;
    case kTargetDeclined:
        // Declining the folder is cancelling the run, with the status of every cancel.
        if (!ended_) {
            exitCode_ = kExitCancelled;
            EndDialog(kResultStopped);
        }
        break;
    default:
        break;
    }
    return 0;
}

FolderQuestion CSelfExtractingDlg::MakeFolderQuestion() {
    FolderQuestion question;
    question.strings = &strings_;
    question.productName = settings_.productName;
    question.extractOnly = settings_.extractOnly;
    question.uiLevel = settings_.uiLevel;
    question.pickFolder = [this](const std::string& initial, const std::string& title) {
        return view_.PickFolder(initial, title);
    };
    return question;
}

void CSelfExtractingDlg::OnStartExtract() {
    if (forced_) {
        EndAsCancelled();
        return;
    }
    // A run with nobody to ask (silent, or neither window nor terminal) takes the proposed
    // folder rather than extracting nothing and reporting success.
    folderChosen_ = !settings_.askTarget;
    if (settings_.askTarget && settings_.uiLevel > UiSilent && view_.CanAsk()) {
        asking_ = true;
        const bool chosen =
            AskTargetFolder(MakeFolderQuestion(), settings_.extractDir, settings_.extractDir);
        asking_ = false;
        if (!chosen) {
            if (forced_)
                EndAsCancelled();
            else
                inbox_.Post(kTargetDeclined);
            return;
        }
        folderChosen_ = true;
        if (forced_) {
            EndAsCancelled();
            return;
        }
    } else if (settings_.askTarget) {
        SETUP_LOG(cptlib::Severity::Normal)
            << "Nobody can be asked for the folder; extracting into '" << settings_.extractDir
            << "'.";
    }
    job_.notifyWindow = inbox_.Handle();
    job_.archivePath = settings_.archivePath;
    job_.archiveIsLauncher = settings_.archiveIsLauncher;
    if (settings_.archiveIsLauncher)
        job_.archiveFile = settings_.ownFile;
    job_.archiveOffset = settings_.archiveOffset;
    job_.deleteOnFailure = !settings_.extractOnly;
    StartExtraction();
}

void CSelfExtractingDlg::StartExtraction() {
    std::shared_ptr<const cptlib::platform::FolderHandle> targetHandle;
    if (!settings_.extractOnly) {
        // The worker would also make a missing folder, but only a folder made here, new and
        // private, is safe to fill in a shared temporary folder.
        auto handle = std::make_shared<cptlib::platform::FolderHandle>();
        const std::uint32_t error =
            CreateExtractFolder(settings_.extractDir, *handle, &folderLock_);
        if (error != 0) {
            ExtractionError record;
            record.kind = ExtractionErrorKind::SystemError;
            record.code = error;
            record.path = settings_.extractDir;
            OnExtractError(record);
            OnExtractFailed();
            return;
        }
        ownedFolder_ = settings_.extractDir;
        ownedHandle_ = std::move(handle);
    } else if (const std::string refused = OpenTargetFolder(settings_.extractDir, targetHandle);
               !refused.empty()) {
        SETUP_LOG(cptlib::Severity::Error) << refused;
        ShowError(refused);
        exitCode_ = kExitBadArchive;
        EndDialog(kResultStopped);
        return;
    }
    job_.extractFolder = settings_.extractDir;
    job_.folder = ownedHandle_;
    if (targetHandle)
        job_.folder = std::move(targetHandle);
    extracting_ = worker_->Start(job_);
    if (!extracting_) {
        ShowError("The extraction worker could not be started.");
        RemoveTemporaryFolder();
        exitCode_ = kExitBadArchive;
        EndDialog(kResultStopped);
    }
}

void CSelfExtractingDlg::OnProgress(cptlib::LParam permille) {
    inbox_.ReplyMessage(0);
    SetProgress(static_cast<int>(std::clamp<cptlib::LParam>(permille, 0, 1000)));
}

void CSelfExtractingDlg::SetProgress(int permille) {
    view_.SetProgress(permille);
    view_.SetTitle(FormatText(Text("SfxProgressTitle"), permille / 10));
    view_.SetTaskbarProgress(permille);
}

void CSelfExtractingDlg::SetProgressBarState(ProgressBarState state) {
    view_.SetBarState(state);
    view_.SetTaskbarState(state);
}

cptlib::LResult CSelfExtractingDlg::OnAskOverwrite(const char* existingName) {
    // The normal run's folder is new: whatever is there came from this archive.
    if (!settings_.extractOnly)
        return kOverwriteNo;
    const std::string name = existingName != nullptr ? existingName : "";
    int button = 0;
    if (settings_.uiLevel > UiSilent && view_.CanAsk()) {
        SetProgressBarState(ProgressBarState::Paused);
        asking_ = true;
        button = view_.AskOverwrite(MakeOverwriteQuestion(name, strings_));
        asking_ = false;
        SetProgressBarState(ProgressBarState::Normal);
    } else if (settings_.uiLevel == UiSilent && folderChosen_) {
        return settings_.overwriteAnswer;
    }
    if (forced_)
        return kOverwriteCancel;
    if (button != 0)
        return button == cptlib::kIdOk ? kOverwriteYesToAll : kOverwriteCancel;
    // Nobody could be asked.
    if (settings_.overwriteAnswerGiven)
        return settings_.overwriteAnswer;
    if (!folderChosen_) {
        // Files in a folder that nobody chose belong to the user.
        SETUP_LOG(cptlib::Severity::Warning)
            << "Kept the existing file '" << cptlib::DisplayName(name) << "'.";
        ++keptFiles_;
        return kOverwriteNo;
    }
    unansweredOverwrite_ = name.empty() ? "?" : name;
    return kOverwriteCancel;
}

cptlib::LResult CSelfExtractingDlg::OnAskPassword(char* buffer, std::size_t capacity) {
    if (buffer == nullptr || capacity == 0)
        return kPasswordRefused;
    std::string password;
    asking_ = true;
    const bool entered = view_.AskPassword(password);
    asking_ = false;
    if (!entered || forced_)
        return kPasswordRefused;
    // A shortened password would only fail later as a damaged archive.
    if (password.size() >= capacity) {
        SETUP_LOG(cptlib::Severity::Warning)
            << "The password entered is longer than " << capacity - 1 << " bytes; refused.";
        return kPasswordRefused;
    }
    std::memcpy(buffer, password.c_str(), password.size() + 1);
    return kPasswordEntered;
}

void CSelfExtractingDlg::OnExtractError(const ExtractionError& error) {
    // The other folder is offered only where somebody can pick it; elsewhere disk full is a
    // failure like any other, with its message (logged at the silent level).
    if (!settings_.extractOnly && error.kind == ExtractionErrorKind::SystemError &&
        error.code == static_cast<std::uint32_t>(cptlib::HRESULT_DISK_FULL) &&
        settings_.uiLevel == UiNormal && view_.CanAsk()) {
        view_.EndStatusLine(true);
        asking_ = true;
        retry_ = ChooseFolderAfterDiskFull(MakeFolderQuestion(), error.requiredSize,
                                           settings_.extractDir);
        asking_ = false;
        return;
    }
    if (error.kind == ExtractionErrorKind::CorruptArchive && !error.path.empty())
        SETUP_LOG(cptlib::Severity::Warning)
            << "Damaged or refused item: '" << cptlib::DisplayName(error.path) << "'.";
    ShowError(ExtractionFailureText(error, strings_));
    if (settings_.uiLevel > UiSilent)
        SetProgress(0);
}

void CSelfExtractingDlg::OnExtractFailed() {
    extracting_ = false;
    if (stops_ != nullptr)
        stops_->DisarmForcedEnd();
    CloseMootQuestion();
    worker_->Wait();
    // The worker has removed its temporary folder; this makes sure of it.
    RemoveTemporaryFolder();
    if (forced_) {
        retry_ = false;
        EndAsCancelled();
        return;
    }
    if (!retry_) {
        exitCode_ = kExitBadArchive;
        EndDialog(kResultStopped);
        return;
    }
    retry_ = false;
    SetProgressBarState(ProgressBarState::Normal);
    SetProgress(0);
    view_.SetText(Text("SfxProgressText"));
    StartExtraction();
}

void CSelfExtractingDlg::OnExtractCancelled() {
    extracting_ = false;
    if (stops_ != nullptr)
        stops_->DisarmForcedEnd();
    CloseMootQuestion();
    worker_->Wait();
    RemoveTemporaryFolder();
    if (!unansweredOverwrite_.empty() && !forced_) {
        // Nobody cancelled: the question had nobody to answer it.
        ShowError(UnansweredOverwriteText(unansweredOverwrite_, strings_));
        exitCode_ = kExitBadArchive;
    } else {
        SETUP_LOG(cptlib::Severity::Normal) << "The extraction was cancelled.";
        exitCode_ = kExitCancelled;
    }
    EndDialog(kResultStopped);
}

void CSelfExtractingDlg::OnExtractDone() {
    extracting_ = false;
    if (stops_ != nullptr)
        stops_->DisarmForcedEnd();
    CloseMootQuestion();
    worker_->Wait();
    SetProgress(1000);
    if (settings_.extractOnly) {
        if (keptFiles_ > 0) {
            // Not everything asked for was extracted: no success to report.
            ShowError(KeptFilesText(keptFiles_, settings_.extractDir, strings_));
            exitCode_ = kExitBadArchive;
            EndDialog(kResultStopped);
            return;
        }
        FinishExtractOnly(settings_.uiLevel, settings_.extractDir, worker_->ExtractedNames(),
                          strings_, view_);
        EndDialog(kResultDone);
        return;
    }
    if (forced_) {
        EndAsCancelled();
        return;
    }
    StartSetup();
}

void CSelfExtractingDlg::StartSetup() {
    view_.SetText(Text("StartSetup"));
    // The setup's own output starts on a line of its own.
    view_.EndStatusLine(false);
    view_.EnableCancel(false);
    // The folder made for this run is reached through its handle, never its name.
    SetupLaunchInfo info = ComposeSetupLaunch(
        settings_, composedExtractDir_, settings_.programPath,
        !ownedFolder_.empty() && settings_.extractDir == ownedFolder_ ? ownedHandle_ : nullptr);
    info.notifyWindow = inbox_.Handle();
    SETUP_LOG(cptlib::Severity::Normal)
        << "Starting the setup '" << info.setupFile << "' with '" << info.parameters << "'.";
    // Killed before its setup, this process must not leave the folder to the next run's sweep.
    if (folderLock_.Held())
        if (const std::uint32_t error = folderLock_.PassToChildren())
            SETUP_LOG(cptlib::Severity::Warning)
                << "The setup cannot share the folder's lock: " << error;
    if (!setupWorker_->Start(info)) {
        ShowError("The setup worker could not be started.");
        RemoveTemporaryFolder();
        exitCode_ = kExitSetupFailed;
        EndDialog(kResultDone);
        return;
    }
    // From here the worker removes the folder once the setup has ended.
    ownedFolder_.clear();
    ownedHandle_.reset();
    setupRunning_ = true;
}

void CSelfExtractingDlg::OnSetupDone(cptlib::WParam exitCode, cptlib::LParam status) {
    setupWorker_->Wait();
    setupRunning_ = false;
    switch (status) {
    case kSetupFinished:
        exitCode_ = static_cast<std::uint32_t>(exitCode);
        break;
    case kSetupCancelled:
        exitCode_ = kExitCancelled;
        break;
    case kSetupFailed:
        // The user's language first; the details as the system gives them.
        if (const std::exception_ptr error = setupWorker_->StoredException())
            cptlib::ShowMessageBox(Text("SfxErrorStartSetup") + "\n\n" + cptlib::ErrorText(error),
                                   cptlib::kMbIconError, 0, settings_.uiLevel, &strings_);
        exitCode_ = kExitSetupFailed;
        break;
    default:
        break;
    }
    EndDialog(kResultDone);
}

void CSelfExtractingDlg::OnCancel() {
    if (ended_ || forced_ || confirming_)
        return;
    AskCancel();
}

bool CSelfExtractingDlg::AskCancel() {
    // The view shows the box: its prompt keeps the dialog's messages going.
    class ViewPresenter final : public cptlib::IMessageBoxPresenter {
    public:
        explicit ViewPresenter(IProgressView& view) : view_(view) {}
        int Show(const cptlib::MessageBoxContent& box) override { return view_.AskCancel(box); }
        bool MainWindowVisible() const override {
            return cptlib::GetMessageBoxPresenter().MainWindowVisible();
        }

    private:
        IProgressView& view_;
    } presenter(view_);
    confirming_ = true;
    int answer = 0;
    try {
        answer =
            cptlib::ShowMessageBox(Text("VerifyCancel"), cptlib::kMbYesNo | cptlib::kMbIconQuestion,
                                   0, settings_.uiLevel, &strings_, &presenter);
    } catch (...) {
        confirming_ = false;
        throw;
    }
    confirming_ = false;
    if (answer == 0)
        return false;
    // After "No" the next Ctrl+C asks again.
    if (answer != cptlib::kIdYes && !forced_)
        interrupts_ = 0;
    // A question closed because the run went on past it answers nothing.
    if (answer != cptlib::kIdYes || ended_ || forced_ || !extracting_)
        return true;
    worker_->RequestCancel(false);
    ArmForcedEnd();
    view_.EnableCancel(false);
    return true;
}

void CSelfExtractingDlg::ArmForcedEnd() {
    if (stops_ != nullptr && extracting_)
        stops_->ArmForcedEnd(ownedFolder_);
}

void CSelfExtractingDlg::CloseMootQuestion() {
    if (confirming_)
        view_.CloseQuestions();
}

void CSelfExtractingDlg::OnStopRequest(cptlib::WParam kind, cptlib::LParam detail) {
    if (ended_)
        return;
    if (setupRunning_) {
        // The setup decides how to stop; the launcher waits for it and passes its status on.
        setupWorker_->ForwardStopSignal(
            static_cast<cptlib::platform::StopSignal>(detail & ~kStopFromTerminal),
            (detail & kStopFromTerminal) != 0);
        return;
    }
    // Ctrl+C asks first, where somebody can be asked; a second one, or one that nobody can
    // confirm (the silent levels, no terminal and no display), cancels at once.
    if (kind == kStopInterrupt) {
        // The terminal echoed "^C" into the status line.
        view_.RedrawStatus();
        // At an open question it is that question's Escape.
        if (asking_) {
            view_.CloseQuestions();
            return;
        }
        if (extracting_ && interrupts_++ == 0 && !confirming_ && AskCancel())
            return;
    }
    if (forced_ || ended_)
        return;
    SETUP_LOG(cptlib::Severity::Warning) << "Stop requested by a signal; cancelling.";
    forced_ = true;
    view_.EnableCancel(false);
    // Every box the view has open, the error boxes too.
    view_.CloseQuestions();
    worker_->RequestCancel(false);
    ArmForcedEnd();
    // Nothing else will end the dialog when no worker runs and no question is open (the
    // question's own code ends it once closed).
    if (!extracting_ && !asking_ && !confirming_)
        EndAsCancelled();
}

void CSelfExtractingDlg::ShowError(const std::string& text) {
    if (settings_.uiLevel == UiSilent) {
        cptlib::ShowMessageBox(text, cptlib::kMbIconError, 0, settings_.uiLevel, &strings_);
        return;
    }
    SetProgressBarState(ProgressBarState::Error);
    // The report and what follows it (the folder's removal) are no progress.
    view_.EndStatusLine(false);
    view_.FlashIfNotForeground();
    cptlib::ShowMessageBox(text, cptlib::kMbIconError, 0, settings_.uiLevel, &strings_);
    SetProgressBarState(ProgressBarState::Normal);
}

void CSelfExtractingDlg::RemoveTemporaryFolder() {
    if (ownedFolder_.empty())
        return;
    if (sfx::RemoveTemporaryFolder(ownedFolder_, ownedHandle_.get())) {
        ownedFolder_.clear();
        ownedHandle_.reset();
    }
}

void CSelfExtractingDlg::EndAsCancelled() {
    RemoveTemporaryFolder();
    exitCode_ = kExitCancelled;
    EndDialog(kResultStopped);
}

void CSelfExtractingDlg::EndDialog(int result) {
    ended_ = true;
    result_ = result;
}

std::uint32_t RunProgressDialog(const ProgressDialogSettings& settings,
                                const cptlib::IStringResources& strings, IProgressView& view,
                                std::unique_ptr<IExtractionWorker> worker,
                                std::unique_ptr<ISetupWorker> setupWorker, RunStopSignals* stops) {
    std::optional<RunStopSignals> own;
    if (stops == nullptr)
        stops = &own.emplace();
    std::optional<CSelfExtractingDlg> dialog;
    dialog.emplace(settings, strings, view, std::move(worker), std::move(setupWorker));
    dialog->UseStopSignals(*stops);
    using cptlib::platform::StopSignal;
    using cptlib::platform::StopSignalEvent;
    const auto route = stops->RouteTo([inbox = dialog->Inbox()](const StopSignalEvent& event) {
        inbox.Post(WM_SFX_STOP_REQUEST,
                   event.kind == StopSignal::Interrupt ? kStopInterrupt : kStopTerminate,
                   StopRequestDetail(event));
    });
    // The dialog ends (joining its worker, removing its folder) while a stop signal still
    // cannot end the process half-way.
    try {
        dialog->DoModal();
    } catch (...) {
        dialog.reset();
        throw;
    }
    const std::uint32_t exitCode = dialog->ExitCode();
    dialog.reset();
    return exitCode;
}

} // namespace sfx
