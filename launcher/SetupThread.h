#pragma once
// Starting the product's setup after the extraction: which program with which parameters, and
// the worker that starts it, waits for it and removes the extract folder.

#include "cptlib/platform/ChildProcess.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/sys/MessageInbox.h"
#include "cptlib/sys/MfcWorkerThread.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

namespace sfx {

struct ProgressDialogSettings;

// What the dialog hands to the setup worker; the worker keeps its own copy.
struct SetupLaunchInfo {
    cptlib::InboxHandle notifyWindow; // null: nobody is told
    std::string extractDir;           // deleted after the setup ended, unless empty
    std::string valuesFile;           // SetupValues.dat to write; empty: none
    std::string setupFile;            // the program to start, full path
    std::string parameters;           // its whole parameter string
    std::int32_t showCommand = 1;
    // The launcher file whose values are forwarded.
    std::filesystem::path programFile;
};

struct RunProcessResult {
    bool userCancelled = false;
    bool startedThroughShell = false;
    std::uint32_t exitCode = 0;
};

// The setup file with its folder: a relative name below the extract folder, or below its
// "product/" folder when nothing (or a folder) has that name there; an absolute name as it is.
std::string ResolveSetupFile(const std::string& extractDir, const std::string& setupFile);

// Appends a generated switch or its value to `switches`, after a space when not empty. Quoted
// as the setup's command-line reader expects: "" for an empty item, inner quotes escaped, and
// double quotes around an item with white space (its final backslash doubled).
void AppendSwitch(std::string& switches, const std::string& item);

// The start-setup step's record from the dialog's settings: setup file resolved, installer
// databases started through msiexec, the -m and /l switches, then the configured parameters.
SetupLaunchInfo ComposeSetupLaunch(const ProgressDialogSettings& settings,
                                   const std::filesystem::path& programFile);

// LaunchProcess flags.
constexpr std::uint32_t kLaunchCreateProcess = 1;
constexpr std::uint32_t kLaunchShellBeforeVista = 2;
constexpr std::uint32_t kLaunchRunAs = 4;
constexpr std::uint32_t kLaunchNoConsole = 8;

// Starts `file` with `parameters` split into arguments by the command-line rules. Without a
// `directory` an absolute file starts in its own folder. False on failure, with `lastError`
// set to the Win32 error number.
bool LaunchProcess(cptlib::InboxHandle owner, const std::string& file,
                   const std::string* parameters, cptlib::platform::ChildProcess* processInfo,
                   const std::string* directory, std::int32_t showCommand, std::uint32_t flags,
                   std::uint32_t& lastError);

class CSetupThread : public cptlib::CMfcWorkerThread {
public:
    CSetupThread() : process_(std::make_unique<cptlib::platform::ChildProcess>()) {}
    // Waits for a setup still running: its folder is removed only after it ends.
    ~CSetupThread() override;

    bool Start(const SetupLaunchInfo& info);
    // Set by a failed run before WM_SFX_SETUP_DONE; read after Wait.
    std::exception_ptr StoredException() const { return storedException_; }
    // Passes a stop signal on to the setup program (kept until it starts).
    void ForwardStopSignal(cptlib::platform::StopSignal kind, bool toGroup);

    RunProcessResult RunProcess();

protected:
    std::uint32_t Run() override;

private:
    SetupLaunchInfo info_;
    std::exception_ptr storedException_;
    std::unique_ptr<cptlib::platform::ChildProcess> process_;
};

} // namespace sfx
