#include "launcher/SetupThread.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/DesktopOpener.h"
#include "cptlib/sys/ShellDispatch.h"
#include "launcher/ExitStatus.h"
#include "launcher/ExtractFolder.h"
#include "launcher/Forwarding.h"
#include "launcher/SfxMessages.h"
#include "launcher/TemporaryFolder.h"
#include "launcher/Utils.h"

#include <chrono>
#include <iostream>
#include <thread>

namespace sfx {

namespace {

using cptlib::Severity;

constexpr std::uint32_t kErrorCancelled = 1223;

} // namespace

bool LaunchProcess(cptlib::InboxHandle /*owner*/, const std::string& file,
                   const std::string* parameters, cptlib::platform::ChildProcess* processInfo,
                   const std::string* directory, std::int32_t /*showCommand*/,
                   std::uint32_t /*flags*/, std::uint32_t& lastError) {
    // Windows, run-as and console choices have no counterpart: the program shares the
    // launcher's terminal and rights.
    std::string folder;
    if (directory != nullptr)
        folder = *directory;
    else if (IsAbsolutePath(file))
        folder = file.substr(0, LastPathSeparator(file) + 1);
    cptlib::platform::ChildProcess unawaited;
    cptlib::platform::ChildProcess& process = processInfo != nullptr ? *processInfo : unawaited;
    lastError =
        process.StartCommand(file, parameters != nullptr ? *parameters : std::string(), folder);
    return lastError == 0;
}

CSetupThread::~CSetupThread() {
    CancelAndWait();
}

bool CSetupThread::Start(const SetupLaunchInfo& info) {
    if (IsRunning())
        return false;
    info_ = info;
    storedException_ = nullptr;
    // A signal passed on before the start stays with a program not yet started.
    if (process_->Started())
        process_ = std::make_unique<cptlib::platform::ChildProcess>();
    SetNotifyInbox(info_.notifyWindow);
    return CMfcWorkerThread::Start(0);
}

void CSetupThread::ForwardStopSignal(cptlib::platform::StopSignal kind, bool toGroup) {
    process_->ForwardStopSignal(kind, toGroup);
}

namespace {

// The part of `path` below the folder, when the path lies inside it; else empty.
std::string InsideFolder(const std::string& folder, const std::string& path) {
    const std::string prefix = AddTrailingSlash(folder);
    if (folder.empty() || path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix))
        return {};
    return path.substr(prefix.size());
}

} // namespace

RunProcessResult CSetupThread::RunProcess() {
    RunProcessResult result;
    bool awaited = false;
    // A setup inside the run's own folder is reached through its descriptor, not its name.
    // Where nobody else can move the folder its name is as good, and the setup sees its full
    // name as it would be started by hand.
    std::string folderName = info_.extractDir;
    while (folderName.size() > 1 && IsPathSeparator(folderName.back()))
        folderName.pop_back();
    const bool byName = !info_.folder || cptlib::platform::NameIsStable(folderName, *info_.folder);
    const std::string inside =
        byName ? std::string() : InsideFolder(info_.extractDir, info_.setupFile);
    const std::string examined =
        inside.empty() ? info_.setupFile : cptlib::platform::PathThrough(*info_.folder, inside);
    // A file that cannot be examined (a folder on its path closed to this user) is started
    // like a program too: the start reports why it cannot be reached.
    std::error_code unexamined;
    if (cptlib::platform::IsProgramFile(examined) ||
        !std::filesystem::exists(std::filesystem::path(examined), unexamined)) {
        std::uint32_t error = 0;
        bool started = false;
        if (inside.empty()) {
            started = LaunchProcess(info_.notifyWindow, info_.setupFile, &info_.parameters,
                                    process_.get(), nullptr, info_.showCommand, 0, error);
        } else {
            // Its working folder is its own folder, as for a program started by name.
            const auto slash = LastPathSeparator(inside);
            const std::string directory =
                slash == std::string::npos ? std::string() : inside.substr(0, slash + 1);
            // The program is looked up once its working folder is entered.
            const std::string program =
                "./" + (slash == std::string::npos ? inside : inside.substr(slash + 1));
            error = process_->StartCommandIn(*info_.folder, program, info_.parameters, directory);
            started = error == 0;
        }
        if (!started) {
            if (error == kErrorCancelled) {
                result.userCancelled = true;
                return result;
            }
            cptlib::SystemError failure(cptlib::MakeWin32Error(error),
                                        "The file could not be started");
            failure << cptlib::tag_errinfo_path(cptlib::PathFromUtf8(info_.setupFile));
            CPT_THROW(failure);
        }
        awaited = true;
    } else {
        // Under sudo or pkexec the file goes to the user's desktop, which cannot enter the
        // private folder otherwise; a refusal is reported by the opener's own check.
        if (!info_.extractDir.empty())
            if (const auto error =
                    cptlib::platform::ShareWithDelegatingUser(info_.extractDir, info_.setupFile))
                SETUP_LOG(Severity::Warning)
                    << "The setup file could not be shared with the desktop user: "
                    << cptlib::SystemErrorText(error);
        cptlib::ShellExecuteFromExplorer(
            info_.setupFile.c_str(), info_.parameters.empty() ? nullptr : info_.parameters.c_str(),
            nullptr, nullptr, 1);
        result.startedThroughShell = true;
    }
    if (info_.notifyWindow)
        info_.notifyWindow.Post(WM_SFX_HIDE);
    if (awaited) {
        result.exitCode = 0xFFFFFFFF;
        if (const auto status = process_->Wait())
            result.exitCode = ExitCodeFromWaitStatus(*status);
        // Gives the setup's own helpers a moment to let go of the folder's files.
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    }
    return result;
}

std::uint32_t CSetupThread::Run() {
    std::uint32_t exitCode = 0;
    cptlib::LParam status = kSetupFailed;
    bool startedThroughShell = false;
    try {
        if (!info_.valuesFile.empty()) {
            const std::string inside =
                info_.folder ? InsideFolder(info_.extractDir, info_.valuesFile) : std::string();
            WriteSetupValues(
                ForwardingInput{info_.programFile, info_.startedAs, info_.programImage.get()},
                std::filesystem::path(inside.empty()
                                          ? info_.valuesFile
                                          : cptlib::platform::PathThrough(*info_.folder, inside)));
        }
        const RunProcessResult result = RunProcess();
        exitCode = result.exitCode;
        status = result.userCancelled ? kSetupCancelled : kSetupFinished;
        startedThroughShell = result.startedThroughShell;
    } catch (const cptlib::FileException& error) {
        storedException_ = FileExceptionToSystemError(error);
    } catch (...) {
        storedException_ = std::current_exception();
    }
    // The setup's own status stands when only the clean-up fails (a helper it left behind may
    // still use the folder): the install is what the caller asked about.
    if (!info_.extractDir.empty() && !startedThroughShell &&
        !RemoveTemporaryFolder(info_.extractDir, info_.folder.get())) {
        SETUP_LOG(Severity::Warning)
            << "The temporary folder '" << info_.extractDir
            << "' could not be removed; the setup's status " << exitCode << " is kept.";
        std::cerr << "Warning: the temporary folder '" << info_.extractDir
                  << "' could not be removed." << std::endl;
    }
    if (info_.notifyWindow)
        info_.notifyWindow.Post(WM_SFX_SETUP_DONE, exitCode, status);
    return 0;
}

} // namespace sfx
