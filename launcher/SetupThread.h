#pragma once
// Running the product's setup after the extraction: the worker that starts the composed
// command, waits for it and removes the extract folder.

#include "cptlib/platform/ChildProcess.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/sys/MessageInbox.h"
#include "cptlib/sys/MfcWorkerThread.h"
#include "launcher/SetupCommand.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

namespace sfx {

struct RunProcessResult {
    bool userCancelled = false;
    bool startedThroughShell = false;
    std::uint32_t exitCode = 0;
};

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
