#include "launcher/TemporaryFolder.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/FolderSafety.h"
#include "cptlib/platform/FolderSources.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/Locale.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/XdgFolders.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/Format.h"
#include "launcher/Random.h"
#include "launcher/StaleFolders.h"

#include <algorithm>
#include <cstdlib>

#include <filesystem>
#include <vector>

namespace sfx {

namespace {

using cptlib::platform::EntryKind;
using cptlib::platform::EntryStatus;
using cptlib::platform::FolderHandle;

class TreeDeleter {
public:
    explicit TreeDeleter(std::uint32_t mode) : mode_(mode) {}

    // Deletes what is in the open folder, depth first. Whatever the depth, no more than two
    // descriptors beyond `root` are held: the way back up goes through "..", checked against
    // the folder noted on the way down.
    bool DeleteContents(const FolderHandle& root);
    // Prepares an entry that is read-only or closed to its owner for deletion.
    bool Unlock(const FolderHandle* parent, const std::string& name, const EntryStatus& status);
    void Fail(std::uint32_t code) {
        if (firstError_ == 0)
            firstError_ = code;
    }
    std::uint32_t FirstError() const { return firstError_; }
    bool Has(std::uint32_t bit) const { return (mode_ & bit) != 0; }

private:
    struct Level {
        std::string name; // in the level above
        std::uint64_t device = 0, inode = 0;
        std::vector<std::string> pending;
    };

    // Opens and lists a folder; contents that cannot be listed are contents left behind.
    bool Enter(const FolderHandle* parent, const std::string& name, FolderHandle& folder,
               std::vector<std::string>& names);

    std::uint32_t mode_;
    std::uint32_t firstError_ = 0;
};

bool TreeDeleter::Unlock(const FolderHandle* parent, const std::string& name,
                         const EntryStatus& status) {
    if (!status.readOnly && !status.ownerRestricted)
        return true;
    if (Has(kDeleteForce)) {
        if (const auto code = cptlib::platform::MakeWritable(parent, name)) {
            Fail(code);
            return false;
        }
        return true;
    }
    if (status.readOnly) {
        Fail(cptlib::kErrorAccessDenied);
        return false;
    }
    return true;
}

bool TreeDeleter::Enter(const FolderHandle* parent, const std::string& name, FolderHandle& folder,
                        std::vector<std::string>& names) {
    namespace platform = cptlib::platform;
    names.clear();
    auto code = platform::OpenFolder(parent, name, folder);
    if (code == 0)
        code = platform::ListFolder(folder, names);
    if (code != 0)
        Fail(code);
    // Taken from the back: in listing order.
    std::reverse(names.begin(), names.end());
    return code == 0;
}

bool TreeDeleter::DeleteContents(const FolderHandle& root) {
    namespace platform = cptlib::platform;
    // The top level works on `root` itself, so that a flat folder needs no descriptor more:
    // a run that failed for want of descriptors can still remove its folder.
    FolderHandle below;
    const FolderHandle* current = &root;
    std::vector<Level> levels(1);
    EntryStatus rootStatus;
    auto listed = platform::GetEntryStatus(current, ".", rootStatus);
    // A folder made read-only or closed under the run keeps its entries until it is opened up.
    if (listed == 0 && Has(kDeleteForce) && !Unlock(current, ".", rootStatus))
        return false;
    if (listed == 0)
        listed = platform::ListFolder(*current, levels.back().pending);
    if (listed != 0) {
        Fail(listed);
        return false;
    }
    std::reverse(levels.back().pending.begin(), levels.back().pending.end());
    levels.back().device = rootStatus.device;
    levels.back().inode = rootStatus.inode;
    bool result = true;
    const auto failed = [&] {
        result = false;
        return Has(kDeleteStopOnFailure);
    };
    for (;;) {
        Level& level = levels.back();
        if (!level.pending.empty()) {
            const std::string name = std::move(level.pending.back());
            level.pending.pop_back();
            EntryStatus status;
            if (const auto code = platform::GetEntryStatus(current, name, status)) {
                if (code == cptlib::kErrorFileNotFound)
                    continue; // gone meanwhile
                Fail(code);
                if (failed())
                    return false;
                continue;
            }
            if (status.kind == EntryKind::Folder) {
                if (!Has(kDeleteRecurse))
                    continue;
                Level next{name, status.device, status.inode, {}};
                FolderHandle child;
                if (!Unlock(current, name, status) || !Enter(current, name, child, next.pending)) {
                    if (failed())
                        return false;
                    // What could not be listed may still be removable when empty.
                    if (!child.IsOpen())
                        continue;
                }
                below = std::move(child);
                current = &below;
                levels.push_back(std::move(next));
                continue;
            }
            bool ok = Unlock(current, name, status);
            if (ok) {
                if (const auto code = platform::DeleteEntry(current, name)) {
                    Fail(code);
                    ok = false;
                }
            }
            if (!ok && failed())
                return false;
            continue;
        }
        if (levels.size() == 1)
            return result;
        const Level done = std::move(levels.back());
        levels.pop_back();
        if (levels.size() == 1) {
            below.Close();
            current = &root;
        } else {
            FolderHandle parent;
            EntryStatus parentStatus;
            auto code = platform::OpenFolder(current, "..", parent);
            if (code == 0)
                code = platform::GetEntryStatus(&parent, ".", parentStatus);
            if (code == 0 && (parentStatus.device != levels.back().device ||
                              parentStatus.inode != levels.back().inode))
                code = cptlib::kErrorAccessDenied; // the folder was moved meanwhile
            if (code != 0) {
                Fail(code);
                return false;
            }
            below = std::move(parent);
        }
        if (const auto removed = platform::RemoveFolder(current, done.name)) {
            Fail(removed);
            if (failed())
                return false;
        }
    }
}

// The absolute path with "." and ".." resolved by name and no trailing separator; empty for a
// relative path or the root folder.
std::string NormalisedFolder(const std::string& folder) {
    if (!IsAbsolutePath(folder))
        return {};
    const std::filesystem::path normal = cptlib::PathFromUtf8(folder).lexically_normal();
    if (!normal.has_relative_path())
        return {};
    std::string text = cptlib::Utf8FromPath(normal);
    while (!text.empty() && IsPathSeparator(text.back()))
        text.pop_back();
    return text;
}

} // namespace

bool DeleteFolderTree(const std::string& folder, std::uint32_t mode, std::uint32_t* lastError) {
    TreeDeleter deleter(mode);
    const auto finish = [&](bool result) {
        if (lastError)
            *lastError = deleter.FirstError();
        return result;
    };

    const std::string path = NormalisedFolder(folder);
    if (path.empty()) {
        deleter.Fail(cptlib::kErrorInvalidParameter);
        return finish(false);
    }

    EntryStatus status;
    auto code = cptlib::platform::GetEntryStatus(nullptr, path, status);
    if (code == 0 && status.kind != EntryKind::Folder)
        code = cptlib::kErrorDirectory;
    if (code != 0) {
        // A missing folder has no contents left; it only fails when it was to be removed.
        const bool missing =
            code == cptlib::kErrorFileNotFound || code == cptlib::kErrorPathNotFound;
        if (missing && !deleter.Has(kDeleteRemoveRoot))
            return finish(true);
        deleter.Fail(code);
        return finish(false);
    }
    if (!deleter.Unlock(nullptr, path, status))
        return finish(false);
    FolderHandle root;
    if (const auto opened = cptlib::platform::OpenFolder(nullptr, path, root)) {
        deleter.Fail(opened);
        return finish(false);
    }
    bool result = deleter.DeleteContents(root);
    if (!result && deleter.Has(kDeleteStopOnFailure))
        return finish(false);
    if (deleter.Has(kDeleteRemoveRoot)) {
        if (const auto removed = cptlib::platform::RemoveFolderIfSame(path, root)) {
            deleter.Fail(removed);
            result = false;
        }
    }
    return finish(result);
}

std::string MakeRandomFolderName() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = "vrn";
    for (int i = 0; i < 8; ++i)
        name += kAlphabet[NextRandom() % 36];
    return name;
}

std::vector<std::string> ExecutableTempFolderCandidates() {
    std::vector<std::string> candidates;
    const auto add = [&](const std::string& folder) {
        if (folder.empty() || !cptlib::PathFromUtf8(folder).is_absolute())
            return;
        const std::string withSlash = AddTrailingSlash(folder);
        if (std::find(candidates.begin(), candidates.end(), withSlash) == candidates.end())
            candidates.push_back(withSlash);
    };
    std::string temp;
    if (cptlib::platform::TempFolderPath(temp) == 0)
        add(temp);
    for (const std::string& folder : cptlib::platform::FallbackTempFolders())
        add(folder);
    return candidates;
}

std::string FirstSuitableFolder(const std::vector<std::string>& candidates,
                                const FolderSuitability& suitable) {
    for (const auto& candidate : candidates)
        if (suitable(candidate))
            return candidate;
    return {};
}

bool IsExecutableTempFolder(const std::string& folder, std::uint64_t requiredBytes) {
    namespace platform = cptlib::platform;
    bool allowed = false;
    std::uint64_t free = 0;
    return platform::IsDirectory(folder) && platform::CanWriteFolder(folder) &&
           platform::QueryAllowsExecution(folder, allowed) == 0 && allowed &&
           platform::GetFreeBytes(folder, free) == 0 &&
           free >= std::max<std::uint64_t>(requiredBytes, 1);
}

std::uint32_t ChooseTemporaryFolder(std::string& extractDir, bool mustExecute,
                                    std::uint64_t requiredBytes) {
    std::string tempPath;
    const std::uint32_t error = cptlib::platform::TempFolderPath(tempPath);
    if (error != 0)
        return error;
    // Another user who may rename entries of the parent could swap the folder for their own.
    const bool shared = cptlib::platform::OthersMayReplaceEntries(tempPath);
    if (mustExecute || shared) {
        const std::string parent =
            FirstSuitableFolder(ExecutableTempFolderCandidates(), [&](const std::string& folder) {
                if (cptlib::platform::OthersMayReplaceEntries(folder))
                    return false;
                return mustExecute ? IsExecutableTempFolder(folder, requiredBytes)
                                   : cptlib::platform::IsDirectory(folder) &&
                                         cptlib::platform::CanWriteFolder(folder);
            });
        if (parent.empty())
            return kErrorNoExecutableTempFolder;
        if (parent != tempPath)
            SETUP_LOG(cptlib::Severity::Normal)
                << "The temporary folder '" << tempPath
                << (shared ? "' may be changed by other users (writable by others without the "
                             "sticky bit, or owned by another user); using '"
                           : "' cannot start the setup (mounted noexec, full or not writable); "
                             "using '")
                << parent << "'.";
        tempPath = parent;
    }
    extractDir = JoinPath(tempPath, MakeRandomFolderName());
    return 0;
}

std::string NoExecutableTempFolderText() {
    std::string temp;
    cptlib::platform::TempFolderPath(temp);
    return "The setup cannot be started from the temporary folder '" + temp +
           "': its file system is mounted with the option noexec (or it is full, not writable, "
           "or writable by other users without the sticky bit), and neither $XDG_RUNTIME_DIR, "
           "the cache folder ($XDG_CACHE_HOME or ~/.cache) nor /var/tmp can be used instead. Set "
           "TMPDIR to a folder of your own on a file system that allows programs to run.";
}

namespace {

// Stale folders are looked for only where runs make theirs, never in a folder a user chose.
bool IsTemporaryParent(const std::string& parent) {
    const auto candidates = ExecutableTempFolderCandidates();
    return std::find(candidates.begin(), candidates.end(), parent) != candidates.end();
}

} // namespace

std::uint32_t CreateExtractFolder(std::string& folder) {
    FolderHandle unused;
    return CreateExtractFolder(folder, unused);
}

namespace {

// Wine goes on reporting the name a folder was opened under once it has been renamed, and
// whatever later takes the handle's path (free space, the sweep of abandoned files) would look
// in the wrong place: the folder is opened again under its new name, through its parent, a
// temporary folder in which nobody else may replace entries (or it would not have been chosen).
void OpenUnderPresentName([[maybe_unused]] const std::string& parent,
                          [[maybe_unused]] const std::string& name,
                          [[maybe_unused]] FolderHandle& handle) {
#ifdef _WIN32
    FolderHandle above, present;
    if (cptlib::platform::OpenFolder(nullptr, parent, above) == 0 &&
        cptlib::platform::OpenFolder(&above, name, present) == 0)
        handle = std::move(present);
#endif
}

} // namespace

std::uint32_t CreateExtractFolder(std::string& folder, FolderHandle& handle,
                                  cptlib::platform::FolderLock* lock) {
    const bool slash = !folder.empty() && IsPathSeparator(folder.back());
    const char separator = slash ? folder.back() : kPathSeparator;
    std::string path = slash ? folder.substr(0, folder.size() - 1) : folder;
    const auto cut = LastPathSeparator(path);
    const std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    if (lock != nullptr && IsTemporaryParent(parent))
        RemoveStaleFolders(parent);
    // Another user's entry of that name in a shared folder must never become ours.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (lock == nullptr) {
            const std::uint32_t error = cptlib::platform::CreateOwnFolder(path, handle);
            if (error != cptlib::kErrorAlreadyExists) {
                if (error == 0)
                    folder = slash ? path + separator : path;
                return error;
            }
        } else {
            // Made and locked under a name the sweep leaves alone, and only then given the name
            // of a run's folder: no run's sweep can take a folder that a live run is opening.
            const std::string pending = path + std::string(kPendingFolderSuffix);
            std::uint32_t error = cptlib::platform::CreateOwnFolder(pending, handle);
            if (error == 0 &&
                cptlib::platform::LockOwnFolder(pending, *lock) == cptlib::kErrorFileNotFound)
                error = cptlib::kErrorAlreadyExists;
            if (error == 0) {
                error = cptlib::platform::RenameNoReplace(pending, path);
                if (error == 0)
                    OpenUnderPresentName(parent, path.substr(parent.size()), handle);
                if (error != 0) {
                    cptlib::platform::RemoveFolderIfSame(pending, handle);
                    handle.Close();
                    lock->Release();
                }
            }
            if (error != cptlib::kErrorAlreadyExists) {
                if (error == 0)
                    folder = slash ? path + separator : path;
                return error;
            }
        }
        path = parent + MakeRandomFolderName();
    }
    return cptlib::kErrorAlreadyExists;
}

bool FindRoomiestFolder(const std::vector<std::string>& candidates, const FreeSpaceQuery& query,
                        std::string& best) {
    std::uint64_t bestFree = 0;
    std::string found;
    for (const auto& candidate : candidates) {
        std::uint64_t free = 0;
        if (query(candidate, free) != 0)
            continue;
        if (free > bestFree) {
            bestFree = free;
            found = candidate;
        }
    }
    if (bestFree == 0)
        return false;
    best = found;
    return true;
}

std::vector<std::string> RoomiestDriveCandidates() {
    std::vector<std::string> candidates;
    const auto add = [&](const std::string& folder) {
        if (folder.empty() || !cptlib::platform::CanWriteFolder(folder))
            return;
        const std::string withSlash = AddTrailingSlash(folder);
        if (std::find(candidates.begin(), candidates.end(), withSlash) == candidates.end())
            candidates.push_back(withSlash);
    };
    add(cptlib::platform::GetHomeDirectory());
    std::string temp;
    if (cptlib::platform::TempFolderPath(temp) == 0)
        add(temp);
    for (const auto& point : cptlib::platform::LocalWritableMountPoints())
        add(point);
    return candidates;
}

bool FindRoomiestDrive(std::string& root) {
    return FindRoomiestFolder(RoomiestDriveCandidates(), cptlib::platform::GetFreeBytes, root);
}

namespace {

std::string Text(const FolderQuestion& question, const char* id) {
    return question.strings != nullptr ? question.strings->GetText(id) : std::string();
}

} // namespace

bool ChooseFolderAfterDiskFull(const FolderQuestion& question, std::uint64_t requiredSize,
                               std::string& extractDir) {
    std::string initial;
    if (!FindRoomiestDrive(initial))
        initial = cptlib::ResolveFolderProperty("PersonalFolder", true);
    const std::vector<std::string> units = {Text(question, "KiB"), Text(question, "MiB"),
                                            Text(question, "GiB"), Text(question, "TiB")};
    const std::string message =
        FormatText(Text(question, "ChooseTempDir"),
                   FormatByteSize(requiredSize, units, cptlib::platform::UserDecimalSeparator()));
    if (cptlib::ShowMessageBox(message, cptlib::kMbOk, 0, question.uiLevel, question.strings) !=
        cptlib::kIdOk)
        return false;
    return AskTargetFolder(question, initial, extractDir);
}

bool RemoveTemporaryFolder(const std::string& folder, const FolderHandle* handle) {
    std::uint32_t error = 0;
    if (handle == nullptr || !handle->IsOpen()) {
        if (DeleteFolderTree(folder, kDeleteTempFolder, &error) ||
            error == cptlib::kErrorFileNotFound || error == cptlib::kErrorPathNotFound)
            return true;
    } else {
        // Through the descriptor: another user's entry put in its place is never touched.
        TreeDeleter deleter(kDeleteTempFolder);
        const bool emptied = deleter.DeleteContents(*handle);
        error = deleter.FirstError();
        if (emptied) {
            if (!folder.empty() && IsPathSeparator(folder.back()))
                error = cptlib::platform::RemoveFolderIfSame(folder.substr(0, folder.size() - 1),
                                                             *handle);
            else
                error = cptlib::platform::RemoveFolderIfSame(folder, *handle);
            if (error == 0 || error == cptlib::kErrorFileNotFound)
                return true;
        }
    }
    // Short of descriptors, the last step goes by name and may find the folder gone already:
    // that is the removal we wanted, not a failure.
    if (error == cptlib::kErrorFileNotFound || error == cptlib::kErrorPathNotFound) {
        std::error_code ec;
        if (std::filesystem::symlink_status(cptlib::PathFromUtf8(folder), ec).type() ==
            std::filesystem::file_type::not_found)
            return true;
    }
    SETUP_LOG(cptlib::Severity::Error)
        << "Could not delete the folder '" << folder << "': " << cptlib::SystemErrorText(error);
    return false;
}

} // namespace sfx
