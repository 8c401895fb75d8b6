// The launcher: a program file that carries its configuration and archive behind its image.

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/platform/Process.h"
#include "launcher/App.h"
#include "launcher/ExitStatus.h"

#include <boost/log/core.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/utility/setup/file.hpp>

#include <cstdlib>
#include <string_view>

#ifdef SFX_GUI_MODULE
// The GUI module's bytes, linked in at build time.
extern "C" const char sfx_gui_module_begin[];
extern "C" const char sfx_gui_module_end[];
#endif

namespace {

// Records go to the file named by SFX_LOG; without it they are dropped rather than mixed into
// the terminal output.
void SetUpLogging() {
    const char* file = std::getenv("SFX_LOG");
    if (file != nullptr && *file != '\0') {
        namespace expr = boost::log::expressions;
        boost::log::add_file_log(boost::log::keywords::file_name = file,
                                 boost::log::keywords::open_mode = std::ios_base::app,
                                 boost::log::keywords::auto_flush = true,
                                 boost::log::keywords::format =
                                     (expr::stream << "["
                                                   << expr::attr<cptlib::Severity>("Severity")
                                                          .or_default(cptlib::Severity::Normal)
                                                   << "] " << expr::smessage));
    } else {
        boost::log::core::get()->set_logging_enabled(false);
    }
}

} // namespace

int main(int argc, char** argv) {
    SetUpLogging();
    sfx::CApp app(std::vector<std::string>(argv + 1, argv + argc),
                  cptlib::platform::GetModulePath());
#ifdef SFX_GUI_MODULE
    app.UseGuiModule(std::string_view(
        sfx_gui_module_begin, static_cast<std::size_t>(sfx_gui_module_end - sfx_gui_module_begin)));
#endif
    app.InitInstance();
    const std::uint32_t exitCode = app.ExitInstance();
    SETUP_LOG(cptlib::Severity::Normal) << "Exit code: " << exitCode;
    return sfx::ProcessExitStatus(exitCode);
}
