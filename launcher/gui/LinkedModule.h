#pragma once
// The windows' entry where they are linked into the launcher (Windows) rather than carried as
// a module to load.

#include "launcher/GuiModule.h"

#include <string>

extern "C" sfx::IGuiModule* SfxCreateGuiModule(int interfaceVersion, std::string& whyNot);
