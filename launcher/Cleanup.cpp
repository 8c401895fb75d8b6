#include "launcher/Cleanup.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/FolderTree.h"

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

} // namespace sfx
