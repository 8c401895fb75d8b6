// The launcher: a program file that carries its configuration and archive behind its image.

#include "launcher/App.h"
#include "launcher/ExitStatus.h"
#include "launcher/LauncherMain.h"

#include <string_view>

#ifdef SFX_GUI_MODULE
// The GUI module's bytes, linked in at build time.
extern "C" const char sfx_gui_module_begin[];
extern "C" const char sfx_gui_module_end[];
#endif

int main(int argc, char** argv) {
    sfx::LauncherEntry entry;
    entry.args.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    entry.startedAs = argc > 0 ? argv[0] : "";
#ifdef SFX_GUI_MODULE
    entry.useWindows = [](sfx::CApp& app) {
        app.UseGuiModule(
            std::string_view(sfx_gui_module_begin,
                             static_cast<std::size_t>(sfx_gui_module_end - sfx_gui_module_begin)));
    };
#endif
    entry.exitStatus = &sfx::ProcessExitStatus;
    return sfx::RunLauncher(entry);
}
