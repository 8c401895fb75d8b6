// Until the Windows build has its terminal seam: this program shows every box in a window, so
// the terminal presenter that cptlib installs by default only needs to link.

#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"

#include <sstream>

namespace cptlib::platform {

bool StdinIsTerminal() {
    return false;
}
bool StderrIsTerminal() {
    return false;
}
int StderrColumns() {
    return 0;
}
bool LocaleIsUtf8() {
    return true;
}
int DisplayColumns(std::string_view text) {
    return static_cast<int>(text.size());
}
std::string FitToColumns(std::string_view text, int) {
    return std::string(text);
}
std::istream& TerminalIn() {
    static std::istringstream empty;
    return empty;
}

} // namespace cptlib::platform
