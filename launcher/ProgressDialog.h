#pragma once
// The progress dialog's logic: runs the extraction worker, answers its questions, turns its
// outcome into messages and the exit code. It draws nothing itself; a view does, or nobody at
// the silent levels.

#include "cptlib/localization/StringResources.h"
#include "cptlib/platform/FolderLock.h"
#include "cptlib/sys/MessageInbox.h"
#include "launcher/ExtractFolder.h"
#include "launcher/Extraction.h"
#include "launcher/ProgressDialogSettings.h"
#include "launcher/ProgressView.h"
#include "launcher/RunStopSignals.h"
#include "launcher/SetupThread.h"
#include "launcher/SfxMessages.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sfx {

// Posted to the dialog when the process is asked to stop (wParam: kStopInterrupt for Ctrl+C,
// kStopTerminate for SIGTERM and SIGHUP).
constexpr cptlib::MessageId WM_SFX_STOP_REQUEST = kWmApp + 0x40;
constexpr cptlib::WParam kStopInterrupt = 0;
constexpr cptlib::WParam kStopTerminate = 1;

// The extraction worker as the dialog drives it.
class IExtractionWorker {
public:
    virtual ~IExtractionWorker() = default;
    // False when a run is still in progress or no thread could be made.
    virtual bool Start(const ExtractionJob& job) = 0;
    virtual void RequestCancel(bool wait) = 0;
    // On the dialog's thread, sent messages are handled while waiting.
    virtual void Wait() = 0;
    virtual bool IsRunning() const = 0;
    // Every item extracted so far, folders with a trailing "/".
    virtual const std::vector<std::string>& ExtractedNames() const = 0;
};

// Drives a worker thread class with Start(job), RequestCancel, Wait, IsRunning and
// ExtractedNames, reporting to the job's inbox.
template <class Thread> class ExtractionWorker final : public IExtractionWorker {
public:
    bool Start(const ExtractionJob& job) override {
        thread_.SetNotifyInbox(job.notifyWindow);
        return thread_.Start(job);
    }
    void RequestCancel(bool wait) override { thread_.RequestCancel(wait); }
    void Wait() override { thread_.Wait(); }
    bool IsRunning() const override { return thread_.IsRunning(); }
    const std::vector<std::string>& ExtractedNames() const override {
        return thread_.ExtractedNames();
    }
    Thread& Get() { return thread_; }

private:
    Thread thread_;
};

// The setup worker as the dialog drives it.
class ISetupWorker {
public:
    virtual ~ISetupWorker() = default;
    // False when no thread could be made.
    virtual bool Start(const SetupLaunchInfo& info) = 0;
    virtual void Wait() = 0;
    virtual std::exception_ptr StoredException() const = 0;
    virtual void ForwardStopSignal(cptlib::platform::StopSignal kind, bool toGroup) = 0;
};

class SetupWorker final : public ISetupWorker {
public:
    bool Start(const SetupLaunchInfo& info) override { return thread_.Start(info); }
    void Wait() override { thread_.Wait(); }
    std::exception_ptr StoredException() const override { return thread_.StoredException(); }
    void ForwardStopSignal(cptlib::platform::StopSignal kind, bool toGroup) override {
        thread_.ForwardStopSignal(kind, toGroup);
    }

private:
    CSetupThread thread_;
};

// lParam of WM_SFX_STOP_REQUEST: the signal as the platform names it, and whether the terminal
// sent it to the whole process group.
constexpr cptlib::LParam kStopFromTerminal = 0x100;
cptlib::LParam StopRequestDetail(const cptlib::platform::StopSignalEvent& event);

// The failure texts of an extract-only run that nobody can answer: the overwrite question for
// `existingPath` could not be asked; `count` files were kept in `folder`, which nobody chose.
std::string UnansweredOverwriteText(const std::string& existingPath,
                                    const cptlib::IStringResources& strings);
std::string KeptFilesText(std::size_t count, const std::string& folder,
                          const cptlib::IStringResources& strings);

// The text of the failure box for a failure record.
std::string ExtractionFailureText(const ExtractionError& error,
                                  const cptlib::IStringResources& strings);

class CSelfExtractingDlg {
public:
    static constexpr int kResultDone = 1;    // extraction (and what followed) completed
    static constexpr int kResultStopped = 2; // cancelled, failed or the folder question declined

    CSelfExtractingDlg(ProgressDialogSettings settings, const cptlib::IStringResources& strings,
                       IProgressView& view, std::unique_ptr<IExtractionWorker> worker,
                       std::unique_ptr<ISetupWorker> setupWorker = nullptr);
    // Cancels and joins a worker still running, and removes a temporary folder left behind.
    ~CSelfExtractingDlg();
    CSelfExtractingDlg(const CSelfExtractingDlg&) = delete;
    CSelfExtractingDlg& operator=(const CSelfExtractingDlg&) = delete;

    // Shows the view (above the silent levels), starts the extraction and handles the messages
    // until the dialog ends. Returns kResultDone or kResultStopped, 0 when the view could not
    // be made (the run then ends as a failed extraction).
    int DoModal();

    std::uint32_t ExitCode() const { return exitCode_; }
    // The extract folder, changed by the folder questions and by a name clash at creation.
    const std::string& ExtractDir() const { return settings_.extractDir; }
    // Where workers and the signal watch report.
    cptlib::InboxHandle Inbox() const { return inbox_.Handle(); }

    // A stop signal while a cancelled worker does not end ends the process through `stops`.
    void UseStopSignals(RunStopSignals& stops) { stops_ = &stops; }

    // The Cancel button: asks for confirmation, then cancels a running extraction.
    void OnCancel();

    // Posted to itself when the folder question was declined: a stop signal that closed the
    // question is handled first.
    static constexpr cptlib::MessageId kTargetDeclined = kWmApp + 0x41;

private:
    cptlib::LResult OnMessage(const cptlib::Message& message);
    void OnStartExtract();
    void OnProgress(cptlib::LParam permille);
    cptlib::LResult OnAskOverwrite(const char* existingName);
    cptlib::LResult OnAskPassword(char* buffer, std::size_t capacity);
    void OnExtractError(const ExtractionError& error);
    void OnExtractFailed();
    void OnExtractCancelled();
    void OnExtractDone();
    void OnStopRequest(cptlib::WParam kind, cptlib::LParam detail);
    // The cancel confirmation; false when nobody could be asked.
    bool AskCancel();
    // Closes the cancel confirmation when it is open: the run has gone past it.
    void CloseMootQuestion();
    void OnSetupDone(cptlib::WParam exitCode, cptlib::LParam status);

    void SetProgress(int permille);
    void SetProgressBarState(ProgressBarState state);
    // Creates the normal run's folder and starts the worker; a failure ends the dialog as a
    // failed extraction.
    void StartExtraction();
    // After asking the worker to stop: a later stop signal ends the run if it does not.
    void ArmForcedEnd();
    // The step after a successful normal run: the setup worker starts the setup program.
    void StartSetup();
    // The error box (written to the log only at the silent level).
    void ShowError(const std::string& text);
    void RemoveTemporaryFolder();
    void EndAsCancelled();
    void EndDialog(int result);
    FolderQuestion MakeFolderQuestion();
    std::string Text(const char* id) const;

    ProgressDialogSettings settings_;
    const cptlib::IStringResources& strings_;
    IProgressView& view_;
    std::uint32_t exitCode_ = 0;
    ExtractionJob job_;
    bool startPosted_ = false;
    bool retry_ = false;
    bool ended_ = false;
    int result_ = 0;
    // A stop signal asked for the end: no worker starts any more, no setup follows.
    bool forced_ = false;
    int interrupts_ = 0;
    // Somebody picked the extract-only folder: by /x or at the folder question.
    bool folderChosen_ = true;
    // Existing files kept because nobody chose the folder or could be asked.
    std::size_t keptFiles_ = 0;
    // The file whose overwrite question nobody could answer; the run fails rather than cancels.
    std::string unansweredOverwrite_;
    // The cancel confirmation is open (a window's box runs the dialog's messages meanwhile).
    bool confirming_ = false;
    // A question of the dialog's own is open (folder, overwrite, password).
    bool asking_ = false;
    // The extraction worker has been started and its last message not yet handled.
    bool extracting_ = false;
    bool destroying_ = false;
    RunStopSignals* stops_ = nullptr;
    // The normal run's folder that this dialog made and that has not been removed yet; the
    // setup worker takes it over.
    std::string ownedFolder_;
    // Tells later runs that the folder is in use.
    cptlib::platform::FolderLock folderLock_;
    // ownedFolder_ as it was made; every use of the folder goes through it.
    std::shared_ptr<cptlib::platform::FolderHandle> ownedHandle_;
    // The folder the setup parameters were composed with.
    std::string composedExtractDir_;
    bool setupRunning_ = false;
    cptlib::MessageInbox inbox_;
    // Last, so they are joined while everything their messages touch still exists.
    std::unique_ptr<IExtractionWorker> worker_;
    std::unique_ptr<ISetupWorker> setupWorker_;
};

// Runs the dialog with the process's stop signals (Ctrl+C, SIGTERM, SIGHUP) posted to it, and
// returns its exit code once its worker has been joined and its folder cleaned up. `stops`: the
// run's watch, whose earlier signal ends the dialog at once; null: a watch of its own.
std::uint32_t RunProgressDialog(const ProgressDialogSettings& settings,
                                const cptlib::IStringResources& strings, IProgressView& view,
                                std::unique_ptr<IExtractionWorker> worker,
                                std::unique_ptr<ISetupWorker> setupWorker = nullptr,
                                RunStopSignals* stops = nullptr);

} // namespace sfx
