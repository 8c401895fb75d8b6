#pragma once
// Starting files, addresses and folders through the desktop session rather than from this
// (possibly elevated) process: the session's opener starts them with the user's own rights.

#include <cstdint>

namespace cptlib {

enum class ShellExecuteFromExplorerFlags : std::uint32_t {
    None = 0,
    NoAllowSetForeground = 1, // do not let the started program take the foreground
};

enum class ShellOpenFolderFromExplorerFlags : std::uint32_t {
    None = 0,
    Explore = 1,              // a window with the folder tree
    NoAllowSetForeground = 2, // do not let the window take the foreground
};

// Has the desktop start `file` (a path or an address). A file ending in "/" names a folder and
// is opened as ShellOpenFolderFromExplorer does, without the caller's flags. The desktop opener
// takes the file alone: parameters are not passed on (and logged as such); `directory` is the
// opener's working folder; only the default operation ("open" or none) exists. The show command
// and the flags have no counterpart in a desktop session.
// Throws a RuntimeError "The file could not be opened on the desktop" with the file as path and the
// cause nested inside.
void ShellExecuteFromExplorer(
    const char* file, const char* parameters = nullptr, const char* directory = nullptr,
    const char* operation = nullptr, int showCommand = 1,
    ShellExecuteFromExplorerFlags flags = ShellExecuteFromExplorerFlags::None);

// Has the desktop open a window on `folder`. Throws a RuntimeError
// "The folder could not be opened on the desktop" with the folder as path and the cause nested
// inside.
void ShellOpenFolderFromExplorer(const char* folder, ShellOpenFolderFromExplorerFlags flags =
                                                         ShellOpenFolderFromExplorerFlags::None);

} // namespace cptlib
