#include "launcher/TemporaryFolder.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/SystemError.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/Locale.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/XdgFolders.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/Format.h"
#include "launcher/Random.h"

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

    // `parent` null: `name` is the absolute path of the given folder (depth 0).
    bool DeleteFolder(const FolderHandle* parent, const std::string& name,
                      const EntryStatus& status, int depth);
    void Fail(std::uint32_t code) {
        if (firstError_ == 0)
            firstError_ = code;
    }
    std::uint32_t FirstError() const { return firstError_; }
    bool Has(std::uint32_t bit) const { return (mode_ & bit) != 0; }

private:
    bool DeleteEntry(const FolderHandle& folder, const std::string& name, int depth);

    std::uint32_t mode_;
    std::uint32_t firstError_ = 0;
};

bool TreeDeleter::DeleteFolder(const FolderHandle* parent, const std::string& name,
                               const EntryStatus& status, int depth) {
    namespace platform = cptlib::platform;
    if (status.readOnly || status.ownerRestricted) {
        if (Has(kDeleteForce)) {
            if (const auto code = platform::MakeWritable(parent, name)) {
                Fail(code);
                return false;
            }
        } else if (status.readOnly) {
            Fail(cptlib::ERROR_ACCESS_DENIED);
            return false;
        }
    }

    bool result = true;
    FolderHandle folder;
    std::vector<std::string> names;
    auto code = platform::OpenFolder(parent, name, folder);
    if (code == 0)
        code = platform::ListFolder(folder, names);
    if (code != 0) {
        // Contents that cannot be listed are contents left behind.
        Fail(code);
        if (Has(kDeleteStopOnFailure))
            return false;
        result = false;
    }
    for (const auto& child : names) {
        if (!DeleteEntry(folder, child, depth)) {
            if (Has(kDeleteStopOnFailure))
                return false;
            result = false;
        }
    }
    folder.Close();

    if (depth > 0 || Has(kDeleteRemoveRoot)) {
        if (const auto removed = platform::RemoveFolder(parent, name)) {
            Fail(removed);
            result = false;
        }
    }
    return result;
}

bool TreeDeleter::DeleteEntry(const FolderHandle& folder, const std::string& name, int depth) {
    namespace platform = cptlib::platform;
    EntryStatus status;
    if (const auto code = platform::GetEntryStatus(&folder, name, status)) {
        if (code == cptlib::ERROR_FILE_NOT_FOUND)
            return true; // gone meanwhile
        Fail(code);
        return false;
    }
    if (status.kind == EntryKind::Folder)
        return !Has(kDeleteRecurse) || DeleteFolder(&folder, name, status, depth + 1);

    if (status.readOnly) {
        if (!Has(kDeleteForce)) {
            Fail(cptlib::ERROR_ACCESS_DENIED);
            return false;
        }
        if (const auto code = platform::MakeWritable(&folder, name)) {
            Fail(code);
            return false;
        }
    }
    if (const auto code = platform::DeleteEntry(&folder, name)) {
        Fail(code);
        return false;
    }
    return true;
}

// The absolute path with "." and ".." resolved by name and no trailing separator; empty for a
// relative path or the root folder.
std::string NormalisedFolder(const std::string& folder) {
    if (folder.empty() || folder.front() != '/')
        return {};
    std::string normal = std::filesystem::path(folder).lexically_normal().string();
    while (!normal.empty() && normal.back() == '/')
        normal.pop_back();
    return normal;
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
        deleter.Fail(cptlib::ERROR_INVALID_PARAMETER);
        return finish(false);
    }

    EntryStatus status;
    auto code = cptlib::platform::GetEntryStatus(nullptr, path, status);
    if (code == 0 && status.kind != EntryKind::Folder)
        code = cptlib::ERROR_DIRECTORY;
    if (code != 0) {
        // A missing folder has no contents left; it only fails when it was to be removed.
        const bool missing =
            code == cptlib::ERROR_FILE_NOT_FOUND || code == cptlib::ERROR_PATH_NOT_FOUND;
        if (missing && !deleter.Has(kDeleteRemoveRoot))
            return finish(true);
        deleter.Fail(code);
        return finish(false);
    }
    return finish(deleter.DeleteFolder(nullptr, path, status, 0));
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
        if (folder.empty() || folder.front() != '/')
            return;
        const std::string withSlash = AddTrailingSlash(folder);
        if (std::find(candidates.begin(), candidates.end(), withSlash) == candidates.end())
            candidates.push_back(withSlash);
    };
    std::string temp;
    if (cptlib::platform::GetTempPath(temp) == 0)
        add(temp);
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"))
        add(runtime);
    add(cptlib::platform::GetXdgBaseDirectory("XDG_CACHE_HOME", ".cache"));
    add("/var/tmp");
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
    const std::uint32_t error = cptlib::platform::GetTempPath(tempPath);
    if (error != 0)
        return error;
    if (mustExecute) {
        const std::string parent =
            FirstSuitableFolder(ExecutableTempFolderCandidates(), [&](const std::string& folder) {
                return IsExecutableTempFolder(folder, requiredBytes);
            });
        if (parent.empty())
            return kErrorNoExecutableTempFolder;
        if (parent != tempPath)
            SETUP_LOG(cptlib::Severity::Normal)
                << "The temporary folder '" << tempPath
                << "' cannot start the setup (mounted noexec, full or not writable); using '"
                << parent << "'.";
        tempPath = parent;
    }
    extractDir = JoinPath(tempPath, MakeRandomFolderName());
    return 0;
}

std::string NoExecutableTempFolderText() {
    std::string temp;
    cptlib::platform::GetTempPath(temp);
    return "The setup cannot be started from the temporary folder '" + temp +
           "': its file system is mounted with the option noexec (or it is full or not "
           "writable), and neither $XDG_RUNTIME_DIR, the cache folder ($XDG_CACHE_HOME or "
           "~/.cache) nor /var/tmp can be used instead. Set TMPDIR to a folder on a file system "
           "that allows programs to run.";
}

std::uint32_t CreateExtractFolder(std::string& folder) {
    const bool slash = !folder.empty() && folder.back() == '/';
    std::string path = slash ? folder.substr(0, folder.size() - 1) : folder;
    const auto cut = path.rfind('/');
    const std::string parent = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    // Another user's entry of that name in a shared folder must never become ours.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::uint32_t error = cptlib::platform::CreatePrivateFolder(path);
        if (error != cptlib::ERROR_ALREADY_EXISTS) {
            if (error == 0)
                folder = slash ? path + '/' : path;
            return error;
        }
        path = parent + MakeRandomFolderName();
    }
    return cptlib::ERROR_ALREADY_EXISTS;
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
    if (cptlib::platform::GetTempPath(temp) == 0)
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
    if (cptlib::ShowMessageBox(message, cptlib::MB_OK, 0, question.uiLevel, question.strings) !=
        cptlib::IDOK)
        return false;
    return AskTargetFolder(question, initial, extractDir);
}

bool RemoveTemporaryFolder(const std::string& folder) {
    std::uint32_t error = 0;
    if (!DeleteFolderTree(folder, kDeleteTempFolder, &error) &&
        error != cptlib::ERROR_FILE_NOT_FOUND && error != cptlib::ERROR_PATH_NOT_FOUND) {
        SETUP_LOG(cptlib::Severity::Error)
            << "Could not delete the folder '" << folder << "': " << error;
        return false;
    }
    return true;
}

} // namespace sfx
