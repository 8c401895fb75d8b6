// The windows' entry of a Windows launcher built before its native windows: none are offered,
// so every question and the progress go the way of a run without windows.

#include "launcher/gui/LinkedModule.h"

#include <string>

extern "C" sfx::IGuiModule* SfxCreateGuiModule(int interfaceVersion, std::string& whyNot) {
    (void)interfaceVersion;
    whyNot = "this build has no windows.";
    return nullptr;
}
