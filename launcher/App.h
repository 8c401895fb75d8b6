#pragma once
// The application object: the shared state of the start-up chain and the run.

#include "common/setup/InstallStringResources.h"
#include "cptlib/localization/CultureSelection.h"
#include "format/SettingsStore.h"
#include "launcher/StartupState.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sfx {

class GuiHost;
class IGuiModule;
class RunStopSignals;

class CApp {
public:
    static constexpr const char* kAppName = "Setup Self-Extractor";

    // `arguments` without the program name; `programPath` is the launcher file itself, the one
    // that is read; `startedAs` the name it was started under (empty: `programPath`), for the
    // file-name tag and folders relative to the program.
    CApp(std::vector<std::string> arguments, std::filesystem::path programPath,
         std::filesystem::path startedAs = {});
    virtual ~CApp();

    // The GUI module's bytes as the program carries them; they must outlive the object.
    // Without a module every window falls back to the terminal.
    void UseGuiModule(std::string_view image);
    // The windows linked into the program (Windows), through the module's entry.
    void UseGuiModule(IGuiModule* (*entry)(int interfaceVersion, std::string& whyNot));

    // The whole run; always false, as no message loop follows.
    bool InitInstance();
    // Start-up steps 1 to 6; false when one ended the run (exitCode is set).
    bool RunStartupSteps();
    std::uint32_t ExitInstance();
    // Ends the run as failed with the system's text for `error` (memory, descriptors, threads).
    void EndForLackOfResources(std::uint32_t error);
    virtual int DoMessageBox(const std::string& text, std::uint32_t type, unsigned helpId);

    // The start-up steps; each shows its own message before returning false.
    bool LoadStrings(const std::string& culture);
    bool ParseCommandLine();
    void ShowCommandLineHelp();
    void ShowVersion();
    bool LoadSettings();
    bool ChooseCulture();
    bool CheckOwnFile();
    bool ChooseExtractFolder();
    std::uint32_t RunSetupSequence();

    // The application's name: the caption of framework message boxes.
    void SetAppName(const std::string& name);
    std::string GetText(const std::string& id) const { return strings.GetText(id); }

    const std::filesystem::path& ProgramPath() const { return programPath; }
    const std::filesystem::path& StartedAs() const { return startedAs; }

    std::uint32_t exitCode = 0;
    // Filled by the command line and the configuration step.
    StartupState state;
    SettingsStore settings;
    zqmsi::InstallStringResources strings;

protected:
    // The language dialog step; the window comes with the dialog module.
    virtual int RunLanguageDialog(const cptlib::CultureOffer& offer, std::string& selected);

private:
    std::vector<std::string> arguments;
    std::filesystem::path programPath;
    std::filesystem::path startedAs;
    std::unique_ptr<GuiHost> gui;
    bool presenterInstalled = false;
    // The run's stop signals, from the first step on; null before InitInstance.
    std::unique_ptr<RunStopSignals> stops;
    // Whether a stop signal ended the start-up (exitCode is then set).
    bool StopRequested();
    void UseGuiHost(std::unique_ptr<GuiHost> host);
};

// Resolves a folder argument of the command line against the folder of `programPath`, the
// name the program was started under.
std::string ResolveFolderArgument(const std::string& value,
                                  const std::filesystem::path& programPath);

} // namespace sfx
