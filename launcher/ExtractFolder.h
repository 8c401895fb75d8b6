#pragma once
// Where the archive goes: path rules, the random extract folder name, and the folder questions
// of the extract-only start and of a disk-full failure.

#include "cptlib/localization/StringResources.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace sfx {

bool IsAbsolutePath(const std::string& path);
// Appends "/" to a non-empty path that does not end with one.
std::string AddTrailingSlash(const std::string& path);
std::string JoinPath(const std::string& folder, const std::string& name);
// The text after the last "/", or between the last two when the path ends with one.
std::string LastPathComponent(const std::string& path);
// The text before the last "." of the last component.
std::string WithoutExtension(const std::string& name);

// "vrn" and 8 characters drawn from the start-up-seeded generator.
std::string MakeRandomFolderName();

// The extract-only folder: empty -> the current folder joined with the program's base name;
// relative -> below the current folder; absolute -> as given.
std::string CompleteExtractOnlyFolder(const std::string& extractDir,
                                      const std::filesystem::path& programPath);

// Creates the normal run's extract folder for this run alone (mode 0700, never an existing
// one): on a name clash a new random name is drawn in the same parent folder and `folder`
// changes. Returns a Win32 error number, 0 on success.
std::uint32_t CreateExtractFolder(std::string& folder);

// "0 KB", "1023.0 KB", "1.0 MB", "3.00 GB" under the C runtime's current locale (the decimal
// separator follows the user's settings). No units: "KB", "MB", "GB", "TB"; a shorter list is
// filled up with empty texts.
std::string FormatByteSize(std::uint64_t size, std::vector<std::string> units = {});

using FreeSpaceQuery = std::function<std::uint32_t(const std::string& path, std::uint64_t& free)>;

// The candidate with strictly the most free bytes, so the first of equal ones; failed queries
// are skipped. False when no candidate has any free bytes.
bool FindRoomiestFolder(const std::vector<std::string>& candidates, const FreeSpaceQuery& query,
                        std::string& best);

// The home folder, the temporary folder, then the mount points of local disks the user can
// write to; each with a trailing "/", without repeats.
std::vector<std::string> RoomiestDriveCandidates();

// The roomiest of RoomiestDriveCandidates(), with a trailing "/".
bool FindRoomiestDrive(std::string& root);

// Shows a folder chooser starting at `initialFolder`; the chosen folder with a trailing "/", or
// empty when the user cancelled.
using FolderPicker =
    std::function<std::string(const std::string& initialFolder, const std::string& title)>;

// What the folder questions need from the run.
struct FolderQuestion {
    const cptlib::IStringResources* strings = nullptr;
    std::string productName;
    bool extractOnly = false;
    int uiLevel = 4;
    FolderPicker pickFolder;
};

// The target-folder question. False when cancelled (`extractDir` unchanged). In extract-only
// mode the picked folder becomes `extractDir`; in the normal run a new random folder inside it.
bool AskTargetFolder(const FolderQuestion& question, const std::string& initialFolder,
                     std::string& extractDir);

// After a disk-full failure: names the required size, then asks for another location. False
// when the message was not confirmed (suppressed below the normal level) or the picker was
// cancelled.
bool ChooseFolderAfterDiskFull(const FolderQuestion& question, std::uint64_t requiredSize,
                               std::string& extractDir);

// The folder chooser of a terminal: asks for a path on `out` until it names an existing folder;
// an empty line or the end of input cancels, and so does a null `in` (nobody can answer).
// Relative paths are taken from the current folder.
std::string PickFolderAtTerminal(std::istream* in, std::ostream& out,
                                 const std::string& initialFolder, const std::string& title);

} // namespace sfx
