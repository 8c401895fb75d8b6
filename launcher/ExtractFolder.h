#pragma once
// Where the archive goes: path rules, the extract-only folder and the folder question. The
// temporary folder of a normal run lives in TemporaryFolder.h.

#include "cptlib/localization/StringResources.h"
#include "launcher/StartupState.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace sfx {

// The system's folder separator; Windows takes "/" as well, so both count as one there.
inline constexpr char kPathSeparator =
    static_cast<char>(std::filesystem::path::preferred_separator);
inline bool IsPathSeparator(char c) {
    return c == '/' || c == kPathSeparator;
}
// Where the last separator is, or npos.
std::size_t LastPathSeparator(const std::string& path);

bool IsAbsolutePath(const std::string& path);
// Appends the separator to a non-empty path that does not end with one.
std::string AddTrailingSlash(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// The text after the last "/", or between the last two when the path ends with one.
std::string LastPathComponent(const std::string& path);
// The text before the last "." of the last component.
std::string WithoutExtension(const std::string& name);

// The folder name of /x without a folder when the program's name without its extension is
// empty (a program named ".hidden").
inline constexpr const char* kExtractOnlyFallbackName = "extracted";

// The extract-only folder: empty -> the current folder joined with the program's base name
// (or kExtractOnlyFallbackName); relative -> below the current folder; absolute -> as given.
std::string CompleteExtractOnlyFolder(const std::string& extractDir,
                                      const std::filesystem::path& programPath);

// "0 KB", "1023.0 KB", "1.0 MB", "3.00 GB" under the C runtime's current locale, with
// `decimalSeparator` in place of its own where one is given (the process keeps reading numbers
// the C way). No units: "KB", "MB", "GB", "TB"; a shorter list is filled up with empty texts.
std::string FormatByteSize(std::uint64_t size, std::vector<std::string> units = {},
                           const std::string& decimalSeparator = {});

// Shows a folder chooser starting at `initialFolder`; the chosen folder with a trailing "/", or
// empty when the user cancelled.
using FolderPicker =
    std::function<std::string(const std::string& initialFolder, const std::string& title)>;

// What the folder questions need from the run.
struct FolderQuestion {
    const cptlib::IStringResources* strings = nullptr;
    std::string productName;
    bool extractOnly = false;
    int uiLevel = UiNormal;
    FolderPicker pickFolder;
};

// The target-folder question. False when cancelled (`extractDir` unchanged). In extract-only
// mode the picked folder becomes `extractDir`; in the normal run a new random folder inside it.
bool AskTargetFolder(const FolderQuestion& question, const std::string& initialFolder,
                     std::string& extractDir);

// The folder chooser of a terminal: asks for a path on `out` until it names a folder. An empty
// line takes `initialFolder`, made when it is missing (cancels when there is none); a typed
// folder that is missing is made once the user agrees. "q", the end of input (Ctrl+C, Ctrl+D)
// and a null `in` (nobody can answer) cancel. Relative paths are taken from the current
// folder. `strings` (may be null: English) words the prompt; texts are wrapped at `columns`
// (0: not wrapped).
std::string PickFolderAtTerminal(std::istream* in, std::ostream& out,
                                 const std::string& initialFolder, const std::string& title,
                                 const cptlib::IStringResources* strings = nullptr,
                                 int columns = 0);

} // namespace sfx
