#pragma once
// The temporary extract folder of a normal run, its whole life: chosen at start-up, made for
// this run alone, moved elsewhere after a disk-full failure, removed with what is in it once it
// is no longer needed.

#include "cptlib/platform/FolderLock.h"
#include "cptlib/platform/FolderTree.h"
#include "launcher/ExtractFolder.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sfx {

// "vrn" and 8 characters drawn from the start-up-seeded generator.
std::string MakeRandomFolderName();

// No candidate folder allows programs to be started from it (all mounted noexec or full).
constexpr std::uint32_t kErrorNoExecutableTempFolder = 0xE0000001;

// Whether a folder can take an extract folder whose setup is started from it.
using FolderSuitability = std::function<bool(const std::string& folder)>;

// The places for a setup that must be started from its extract folder, in order: the system's
// temporary folder, $XDG_RUNTIME_DIR, the user's cache folder ($XDG_CACHE_HOME or ~/.cache),
// /var/tmp; absolute paths only, each with a trailing "/", without repeats.
std::vector<std::string> ExecutableTempFolderCandidates();

// The first candidate that is suitable; empty when none is.
std::string FirstSuitableFolder(const std::vector<std::string>& candidates,
                                const FolderSuitability& suitable);

// A folder that exists, can be written, lies on a file system that allows execution and has at
// least `requiredBytes` free (at least one byte when 0).
bool IsExecutableTempFolder(const std::string& folder, std::uint64_t requiredBytes);

// Chooses the folder: a random name in the system's temporary folder. With `mustExecute` the
// parent is the first of ExecutableTempFolderCandidates() that IsExecutableTempFolder accepts,
// so that a noexec temporary folder is passed over before anything is extracted. Returns a Win32
// error number or kErrorNoExecutableTempFolder, 0 on success (`extractDir` set).
std::uint32_t ChooseTemporaryFolder(std::string& extractDir, bool mustExecute = false,
                                    std::uint64_t requiredBytes = 0);

// The message for kErrorNoExecutableTempFolder, naming the temporary folder in use.
std::string NoExecutableTempFolderText();

// Creates the normal run's extract folder for this run alone (mode 0700, never an existing
// one): on a name clash a new random name is drawn in the same parent folder and `folder`
// changes. Returns a Win32 error number, 0 on success.
std::uint32_t CreateExtractFolder(std::string& folder);
// The same, keeping the folder open in `handle` (checked to be this user's new folder): every
// later use goes through it, so that a swap of the name cannot redirect anything. With `lock`,
// the folders that earlier runs of this user left in a temporary parent are removed first, and
// the new folder is locked for as long as `lock` lives.
std::uint32_t CreateExtractFolder(std::string& folder, cptlib::platform::FolderHandle& handle,
                                  cptlib::platform::FolderLock* lock = nullptr);

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

// After a disk-full failure: names the required size, then asks for another location. False
// when the message was not confirmed (suppressed below the normal level) or the picker was
// cancelled.
bool ChooseFolderAfterDiskFull(const FolderQuestion& question, std::uint64_t requiredSize,
                               std::string& extractDir);

enum DeleteTreeMode : std::uint32_t {
    kDeleteRemoveRoot = 1,    // remove the given folder itself at the end
    kDeleteRecurse = 2,       // descend into subfolders; without it they are left alone
    kDeleteForce = 4,         // make read-only files and folders writable, then delete them
    kDeleteStopOnFailure = 8, // give up at the first item that cannot be deleted
};

// What the workers use for the temporary extract folder: everything, going on after failures.
constexpr std::uint32_t kDeleteTempFolder = kDeleteRemoveRoot | kDeleteRecurse | kDeleteForce;

// Deletes the contents of an absolute folder path, depth first, and with kDeleteRemoveRoot the
// folder itself. Symbolic links are removed as links, never followed. A file or folder without
// the owner's write permission is read-only. True when everything asked for was deleted;
// `lastError` (when given) receives the Win32 code of the first failure, or 0. A relative path,
// or one that names the root folder, is refused with kErrorInvalidParameter and nothing is
// touched.
bool DeleteFolderTree(const std::string& folder, std::uint32_t mode,
                      std::uint32_t* lastError = nullptr);

// Removes a temporary extract folder with everything in it; one already gone counts as removed.
// With an open `handle` the contents are reached through it, and the name is removed only while
// it is still that folder. False, and logged, when something stayed.
bool RemoveTemporaryFolder(const std::string& folder,
                           const cptlib::platform::FolderHandle* handle = nullptr);

} // namespace sfx
