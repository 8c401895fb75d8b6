// The Windows launcher's entry: the command line as UTF-8 arguments, the windows linked in,
// and the run's 32-bit code as the process's exit code.

#include "cptlib/platform/win32/Wide.h"
#include "launcher/App.h"
#include "launcher/LauncherMain.h"
#include "launcher/gui/LinkedModule.h"

#include <windows.h>

#include <shellapi.h>

namespace {

// Split by the system's own rules, the ones every C runtime follows.
std::vector<std::string> Arguments(std::string& startedAs) {
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    if (words == nullptr)
        return arguments;
    for (int i = 0; i < count; ++i) {
        if (i == 0)
            startedAs = cptlib::platform::Narrow(words[i]);
        else
            arguments.push_back(cptlib::platform::Narrow(words[i]));
    }
    LocalFree(words);
    return arguments;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    sfx::LauncherEntry entry;
    entry.args = Arguments(entry.startedAs);
    entry.useWindows = [](sfx::CApp& app) { app.UseGuiModule(&SfxCreateGuiModule); };
    // Every code as it is: the process's exit code has the full 32 bits.
    entry.exitStatus = [](std::uint32_t code) { return static_cast<int>(code); };
    return sfx::RunLauncher(entry);
}
