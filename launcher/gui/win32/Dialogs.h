#pragma once
// The launcher's small dialogs on Windows: the language choice, the password entry and the
// folder chooser.

#include "cptlib/localization/CultureSelection.h"
#include "cptlib/localization/StringResources.h"

#include <windows.h>

#include <string>

namespace sfx::win32 {

// The program's icon (resource 128) at the given size, or the system's application icon.
HICON ProgramIcon(int size);

// kIdOk (`selected` holds the choice), kIdCancel, or -1 when no window can be made.
int RunLanguageDialog(HWND parent, const cptlib::CultureMap& cultures, std::string& selected,
                      const cptlib::IStringResources& strings);

constexpr std::size_t kMaxPasswordBytes = 1023;
// kIdOk with `password` set, kIdCancel, or -1 when no window can be made.
int RunPasswordDialog(HWND parent, std::string& password);

// The chosen folder with a trailing backslash; empty when cancelled.
std::string ChooseFolder(HWND parent, const std::string& title, const std::string& initialFolder);

} // namespace sfx::win32
