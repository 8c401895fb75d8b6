#include "launcher/SetupThread.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "cptlib/sys/ShellDispatch.h"
#include "launcher/Cleanup.h"
#include "launcher/ExitStatus.h"
#include "launcher/ExtractFolder.h"
#include "launcher/Forwarding.h"
#include "launcher/ProgressDialogSettings.h"
#include "launcher/SfxMessages.h"
#include "launcher/Utils.h"

#include <chrono>
#include <thread>

namespace sfx {

namespace {

using cptlib::Severity;

constexpr std::uint32_t kErrorCancelled = 1223;

std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// The extension of the last path component with its dot, lower case; empty without one.
std::string Extension(const std::string& path) {
    const std::string name = LastPathComponent(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : LowerAscii(name.substr(dot));
}

bool IsFolderOrMissing(const std::string& path) {
    bool isFolder = false;
    return cptlib::platform::QueryIsFolder(path, isFolder) != cptlib::ERROR_SUCCESS || isFolder;
}

// The program that installs installer databases; its bare name when none is installed, so
// the start fails with "file not found".
std::string InstallerProgram() {
    std::string program = cptlib::platform::FindProgramOnPath("msiexec");
    if (program.empty())
        program = cptlib::platform::FindProgramOnPath("msiexec.exe");
    return program.empty() ? std::string("msiexec") : program;
}

} // namespace

std::string ResolveSetupFile(const std::string& extractDir, const std::string& setupFile) {
    if (IsAbsolutePath(setupFile))
        return setupFile;
    const std::string direct = JoinPath(extractDir, setupFile);
    if (!IsFolderOrMissing(direct))
        return direct;
    return JoinPath(extractDir, "product/" + setupFile);
}

void AppendSwitch(std::string& switches, const std::string& item) {
    if (!switches.empty())
        switches += ' ';
    if (item.empty()) {
        switches += "\"\"";
        return;
    }
    // Backslashes right before a quote are doubled as well, so the setup reads back the same
    // text; the bare rule would lose them.
    std::string quoted;
    std::size_t backslashes = 0;
    for (const char c : item) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') {
                quoted.append(backslashes, '\\');
                quoted += '\\';
            }
            backslashes = 0;
        }
        quoted += c;
    }
    if (item.find_first_of(" \t\r\n") != std::string::npos) {
        if (quoted.back() == '\\')
            quoted.append(backslashes, '\\');
        quoted = '"' + quoted + '"';
    }
    switches += quoted;
}

SetupLaunchInfo ComposeSetupLaunch(const ProgressDialogSettings& settings,
                                   const std::filesystem::path& programFile) {
    SetupLaunchInfo info;
    info.extractDir = settings.extractDir;
    info.showCommand = settings.showCommand;
    info.programFile = programFile;

    std::string file = ResolveSetupFile(settings.extractDir, settings.setupFile);
    std::string switches;
    const std::string extension = Extension(file);
    if (extension == ".msi" || extension == ".ms_") {
        AppendSwitch(switches, "/i");
        AppendSwitch(switches, file);
        file = InstallerProgram();
    } else if (settings.forwardResourceData) {
        if (!settings.ownValuesFile) {
            info.valuesFile = JoinPath(settings.extractDir, "SetupValues.dat");
            AppendSwitch(switches, "-m");
            AppendSwitch(switches, info.valuesFile);
        }
        if (settings.cultureChosen && settings.showLanguageDialog) {
            AppendSwitch(switches, "/l");
            AppendSwitch(switches, settings.culture);
        }
    }
    if (!settings.setupParams.empty()) {
        if (!switches.empty())
            switches += ' ';
        switches += settings.setupParams;
    }
    info.parameters = std::move(switches);
    info.setupFile = std::move(file);
    return info;
}

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
        folder = file.substr(0, file.rfind('/') + 1);
    const std::vector<std::string> arguments =
        parameters != nullptr ? cptlib::SplitCommandLine(*parameters) : std::vector<std::string>{};
    cptlib::platform::ChildProcess unawaited;
    cptlib::platform::ChildProcess& process = processInfo != nullptr ? *processInfo : unawaited;
    lastError = process.Start(file, arguments, folder);
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

RunProcessResult CSetupThread::RunProcess() {
    RunProcessResult result;
    bool awaited = false;
    if (cptlib::platform::IsProgramFile(info_.setupFile) ||
        !std::filesystem::exists(std::filesystem::path(info_.setupFile))) {
        std::uint32_t error = 0;
        if (!LaunchProcess(info_.notifyWindow, info_.setupFile, &info_.parameters, process_.get(),
                           nullptr, info_.showCommand, 0, error)) {
            if (error == kErrorCancelled) {
                result.userCancelled = true;
                return result;
            }
            cptlib::SystemError failure(cptlib::MakeWin32Error(error), "ShellExecuteEx failed");
            failure << cptlib::tag_errinfo_path(cptlib::PathFromUtf8(info_.setupFile));
            CPT_THROW(failure);
        }
        awaited = true;
    } else {
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
        if (!info_.valuesFile.empty())
            WriteSetupValues(ForwardingInput{info_.programFile},
                             std::filesystem::path(info_.valuesFile));
        const RunProcessResult result = RunProcess();
        exitCode = result.exitCode;
        status = result.userCancelled ? kSetupCancelled : kSetupFinished;
        startedThroughShell = result.startedThroughShell;
    } catch (const cptlib::FileException& error) {
        storedException_ = FileExceptionToSystemError(error);
    } catch (...) {
        storedException_ = std::current_exception();
    }
    if (!info_.extractDir.empty() && !startedThroughShell) {
        std::uint32_t error = 0;
        if (!DeleteFolderTree(info_.extractDir, kDeleteTempFolder, &error))
            SETUP_LOG(Severity::Error)
                << "Could not delete the folder '" << info_.extractDir << "': " << error;
    }
    if (info_.notifyWindow)
        info_.notifyWindow.Post(WM_SFX_SETUP_DONE, exitCode, status);
    return 0;
}

} // namespace sfx
