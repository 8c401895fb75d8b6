#include "launcher/App.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ErrorText.h"
#include "cptlib/SystemError.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/localization/Placeholders.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/platform/Machine.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/SystemRandom.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "format/ConfigBlock.h"
#include "launcher/ExitStatus.h"
#include "launcher/ExtractFolder.h"
#include "launcher/ExtractThread.h"
#include "launcher/GuiHost.h"
#include "launcher/LanguageChoice.h"
#include "launcher/ProgressDialog.h"
#include "launcher/Random.h"
#include "launcher/RunStopSignals.h"
#include "launcher/SelfCheck.h"
#include "launcher/SetupCommand.h"
#include "launcher/TemporaryFolder.h"
#include "launcher/TerminalProgressView.h"

#include <clocale>
#include <filesystem>
#include <iostream>
#include <optional>

namespace sfx {

CApp::CApp(std::vector<std::string> arguments_, std::filesystem::path programPath_,
           std::filesystem::path startedAs_)
    : arguments(std::move(arguments_)), programPath(std::move(programPath_)),
      startedAs(startedAs_.empty() ? programPath : std::move(startedAs_)),
      gui(std::make_unique<GuiHost>(std::string_view())) {
    SetAppName(kAppName);
    // Windows that are not handed the table (the password question) find it here.
    cptlib::SetUiStrings(&strings);
    // Boxes at the terminal speak the run's language too.
    cptlib::SetMessageBoxPresenter(std::make_shared<cptlib::TerminalMessageBox>(&strings));
    presenterInstalled = true;
}

CApp::~CApp() {
    stops.reset();
    cptlib::SetUiStrings(nullptr);
    // The presenter refers to the module, which goes with this object.
    if (presenterInstalled)
        cptlib::SetMessageBoxPresenter(nullptr);
}

void CApp::UseGuiModule(std::string_view image) {
    UseGuiHost(std::make_unique<GuiHost>(image));
}

void CApp::UseGuiModule(IGuiModule* (*entry)(int interfaceVersion, std::string& whyNot)) {
    UseGuiHost(std::make_unique<GuiHost>(entry));
}

void CApp::UseGuiHost(std::unique_ptr<GuiHost> host) {
    gui = std::move(host);
    cptlib::SetMessageBoxPresenter(std::make_shared<GuiMessageBoxPresenter>(
        *gui, [this] { return state.UiLevel; },
        std::make_shared<cptlib::TerminalMessageBox>(&strings)));
    presenterInstalled = true;
}

void CApp::SetAppName(const std::string& name) {
    cptlib::SetAppName(name);
}

int CApp::DoMessageBox(const std::string& text, std::uint32_t type, unsigned helpId) {
    return cptlib::ShowMessageBox(text, type, helpId, state.UiLevel, &strings);
}

bool CApp::InitInstance() {
    // Character handling and system messages follow the user; numbers and the rest stay "C",
    // which also spares loading every category of the locale.
    std::setlocale(LC_CTYPE, "");
#ifdef LC_MESSAGES // Windows' C runtime has no such category: its messages follow the user
    std::setlocale(LC_MESSAGES, "");
#endif
    // Time and process id would let another local user predict the folder names.
    SeedRandom(cptlib::platform::SystemRandomSeed());
    // Memory, descriptors or threads that run out anywhere end the run with the reason, never
    // with an exception that leaves the process.
    try {
        // From here a stop signal ends the run as cancelled, whatever step it comes in.
        stops = std::make_unique<RunStopSignals>();
        SETUP_LOG(cptlib::Severity::Normal)
            << "Start-up: a stop signal now ends the run as cancelled.";

        if (RunStartupSteps())
            exitCode = RunSetupSequence();
    } catch (const std::bad_alloc&) {
        EndForLackOfResources(cptlib::kErrorNotEnoughMemory);
    } catch (const std::system_error& e) {
        EndForLackOfResources(e.code().category() == cptlib::win32_category()
                                  ? static_cast<std::uint32_t>(e.code().value())
                                  : cptlib::Win32FromErrno(e.code().value()));
    }
    // At a terminal the run's last line says that it was cancelled, whatever step it was in.
    if (exitCode == kExitCancelled && state.UiLevel != UiSilent &&
        cptlib::platform::StderrIsTerminal())
        std::cerr << cptlib::TerminalText(&strings, "TerminalRunCancelled",
                                          "The run was cancelled.")
                  << std::endl;
    return false;
}

void CApp::EndForLackOfResources(std::uint32_t error) {
    exitCode = kExitBadArchive;
    try {
        SETUP_LOG(cptlib::Severity::Error)
            << "The run cannot go on: " << cptlib::SystemErrorText(error);
        DoMessageBox(cptlib::SystemErrorText(error), cptlib::kMbIconError, 0);
    } catch (...) {
        // Even the message could not be made: the status still says the run failed.
    }
}

bool CApp::StopRequested() {
    if (!stops || !stops->Requested())
        return false;
    SETUP_LOG(cptlib::Severity::Warning) << "Stop requested by a signal during the start-up.";
    exitCode = kExitCancelled;
    return true;
}

bool CApp::RunStartupSteps() {
    // A step that a stop signal interrupted may have failed for it: the stop decides.
    if (!LoadStrings({})) {
        if (!StopRequested())
            exitCode = kExitNoStringTables;
        return false;
    }
    if (!ParseCommandLine()) {
        if (StopRequested())
            return false;
        if (state.showVersion)
            ShowVersion();
        else
            ShowCommandLineHelp();
        exitCode = kExitSuccess;
        return false;
    }
    if (StopRequested())
        return false;
    if (!LoadSettings()) {
        if (!StopRequested())
            exitCode = kExitBadArchive;
        return false;
    }
    if (StopRequested())
        return false;
    if (!ChooseCulture()) {
        exitCode = kExitCancelled;
        return false;
    }
    if (StopRequested())
        return false;
    if (!CheckOwnFile()) {
        if (!StopRequested())
            exitCode = kExitBadArchive;
        return false;
    }
    if (StopRequested())
        return false;
    if (!ChooseExtractFolder()) {
        if (!StopRequested())
            exitCode = kExitBadArchive;
        return false;
    }
    return !StopRequested();
}

std::uint32_t CApp::ExitInstance() {
    return exitCode;
}

bool CApp::LoadStrings(const std::string& newCulture) {
    if (!strings.GetLoaders().empty() && newCulture == state.culture)
        return true;
    state.culture = newCulture;
    try {
        strings.RemoveLoaders();
        strings.AddLoader(std::make_shared<cptlib::XmlAppStringResourceLoader>());
        strings.Load(newCulture);
        if (!newCulture.empty()) {
            const std::string section = "LANG_" + newCulture;
            const std::string name = settings.GetString(section, "ProductName", "");
            if (!name.empty()) {
                state.productName = name;
                SetAppName(state.productName);
            }
            strings.properties["ProductName"] = state.productName;
            for (const char* id : {"ProgressTitle", "ProgressText", "StartSetup"}) {
                const std::string value = settings.GetString(section, id, "");
                if (value.empty())
                    continue;
                const std::string target = std::string(id) == "ProgressTitle"  ? "SfxProgressTitle"
                                           : std::string(id) == "ProgressText" ? "SfxProgressText"
                                                                               : "StartSetup";
                strings.SetText(target, value);
            }
        }
    } catch (const std::exception&) {
        DoMessageBox("Could not load string resources.\n" + cptlib::ErrorText(0),
                     cptlib::kMbIconError, 0);
        return false;
    }
    return true;
}

void CApp::ShowCommandLineHelp() {
    const std::string caption = GetText("SfxAppTitle");
    // The help names what the user typed and where /x would put the files.
    strings.properties["SfxProgramFile"] = startedAs.filename().string();
    strings.properties["SfxDefaultFolder"] = CompleteExtractOnlyFolder({}, programPath);
    const std::string help = GetText("SfxCommandLineHelp");
    strings.properties.erase("SfxProgramFile");
    strings.properties.erase("SfxDefaultFolder");
    cptlib::ShowBigMessageBox(&strings, &caption, nullptr, help,
                              cptlib::kMbOk | cptlib::kMbIconInformation, 0);
}

void CApp::ShowVersion() {
    std::cout << kAppName << " " << SFX_VERSION << std::endl;
}

bool CApp::LoadSettings() {
    std::string text;
    PayloadLayout layout;
    // The first read of the own file opens it for the whole run.
    cptlib::HRESULT hr =
        state.ownFile ? cptlib::kHrOk : cptlib::platform::OpenRunningImage(state.ownFile);
    if (cptlib::Succeeded(hr))
        hr = ReadConfigurationBlock(*state.ownFile, text, &layout);
    if (hr == cptlib::HRESULT_INVALID_DATA) {
        DoMessageBox(GetText("SfxErrorBadArchive"), cptlib::kMbIconError, 0);
        return false;
    }
    if (cptlib::Failed(hr)) {
        DoMessageBox(cptlib::SystemErrorText(static_cast<std::uint32_t>(hr)) + "\n\n" +
                         programPath.string(),
                     cptlib::kMbIconError, 0);
        return false;
    }
    settings.Parse(text);
    state.archiveOffset = layout.archiveOffset;

    state.productName = settings.GetString("main", "ProductName", "");
    SetAppName(state.productName);
    state.showLanguageDialog = settings.GetInt("main", "ShowUnzipLanguageDlg", 1) == 1;
    if (!state.extractOnly) {
        if (settings.GetInt("main", "ExtractOnly", 0) != 0) {
            state.extractOnly = true;
            state.askTarget = true;
        }
        if (state.extractDir.empty()) {
            const std::string folder = cptlib::ExpandPlaceholders(
                settings.GetString("main", "DefaultExtractDir", "[PersonalFolder]"),
                cptlib::GetFolderProperties(), cptlib::PlaceholderPattern(), true);
            std::error_code ec;
            if (!folder.empty() && std::filesystem::is_directory(folder, ec))
                state.extractDir = folder;
        }
    }
    if (!state.extractOnly && state.UiLevel == UiNormal &&
        settings.GetInt("main", "SfxProgressVisible", 1) == 0)
        state.UiLevel = UiHidden;
    return true;
}

bool CApp::CheckOwnFile() {
    if (!state.archivePath.empty())
        return true;
    const std::string message = state.ownFile ? VerifyOwnFileSize(*state.ownFile, strings)
                                              : VerifyOwnFileSize(programPath, strings);
    if (message.empty())
        return true;
    DoMessageBox(message, cptlib::kMbIconError, 0);
    return false;
}

bool CApp::ChooseExtractFolder() {
    if (state.extractOnly) {
        state.extractDir = CompleteExtractOnlyFolder(state.extractDir, programPath);
        return true;
    }
    // A setup started from the folder needs a file system that allows execution.
    const bool mustExecute = SetupRunsFromExtractFolder(
        SetupFileName(settings, state.culture, cptlib::platform::Is32BitProcessOn64BitKernel()));
    const std::uint32_t error = ChooseTemporaryFolder(state.extractDir, mustExecute);
    if (error == kErrorNoExecutableTempFolder) {
        DoMessageBox(NoExecutableTempFolderText(), cptlib::kMbIconError, 0);
        return false;
    }
    if (error != 0) {
        DoMessageBox(GetText("SfxErrorTempFolder") + "\n\n" + cptlib::SystemErrorText(error),
                     cptlib::kMbIconError, 0);
        return false;
    }
    return true;
}

std::uint32_t CApp::RunSetupSequence() {
    try {
        const auto view = MakeProgressView(
            *gui, state.UiLevel, TerminalProgressView::ForProcess(state.UiLevel, &strings));
        ProgressDialogSettings record = ComposeProgressDialogSettings(state, programPath, settings,
                                                                      CurrentSetupCommandSystem());
        record.startedAs = startedAs.string();
        return RunProgressDialog(record, strings, *view,
                                 std::make_unique<ExtractionWorker<CExtractThread>>(), nullptr,
                                 stops.get());
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        DoMessageBox(cptlib::ErrorText(), cptlib::kMbIconError, 0);
        return kExitBadArchive;
    }
}

} // namespace sfx

namespace sfx {

bool CApp::ChooseCulture() {
    const cptlib::CultureOffer offer =
        cptlib::FindCultures(settings.GetSectionNames(), state.requestedCulture);
    if (offer.found) {
        state.cultureChosen = true;
        LoadStrings(offer.selected);
        if (state.UiLevel == UiNormal && state.showLanguageDialog &&
            state.requestedCulture.empty()) {
            std::string selected;
            if (RunLanguageDialog(offer, selected) != cptlib::kIdOk)
                return false;
            LoadStrings(selected);
        }
    } else {
        LoadStrings(settings.GetString("main", "Culture", ""));
    }
    return true;
}

int CApp::RunLanguageDialog(const cptlib::CultureOffer& offer, std::string& selected) {
    selected = offer.selected;
    IGuiModule* module = gui->Get(state.UiLevel);
    // Any stop signal closes the question as cancelled: a terminal prompt ends (Ctrl+C typed at
    // it by itself), a window is closed here. The run then ends as cancelled.
    std::optional<RunStopSignals> own;
    RunStopSignals& signals = stops ? *stops : own.emplace();
    const auto route = signals.RouteTo([module](const cptlib::platform::StopSignalEvent&) {
        cptlib::platform::SignalWatch::EndPrompts();
        if (module != nullptr)
            module->CloseDialogs();
    });
    const int answer = module != nullptr
                           ? module->RunLanguageDialog(offer.cultures, selected, strings)
                           : sfx::RunLanguageDialog(offer.cultures, selected, strings);
    // A signal that came outside the prompt's read still stops the run.
    return signals.Requested() ? cptlib::kIdCancel : answer;
}

} // namespace sfx
