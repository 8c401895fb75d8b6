#include "launcher/StaleFolders.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/FolderTree.h"
#include "launcher/TemporaryFolder.h"

#include <algorithm>
#include <ctime>

namespace sfx {

bool IsRunFolderName(std::string_view name) {
    if (name.size() != 11 || name.substr(0, 3) != "vrn")
        return false;
    return std::all_of(name.begin() + 3, name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

bool IsPendingFolderName(std::string_view name) {
    return name.size() > kPendingFolderSuffix.size() && name.ends_with(kPendingFolderSuffix) &&
           IsRunFolderName(name.substr(0, name.size() - kPendingFolderSuffix.size()));
}

namespace {

bool OldEnough(const std::string& path) {
    return cptlib::platform::ChangedLongerAgoThan(path, kPendingFolderAgeSeconds);
}

} // namespace

std::vector<std::string> RemoveStaleFolders(const std::string& parent) {
    namespace platform = cptlib::platform;
    std::vector<std::string> removed;
    std::vector<std::string> names;
    {
        platform::FolderHandle folder;
        if (platform::OpenFolder(nullptr, parent, folder) != 0 ||
            platform::ListFolder(folder, names) != 0)
            return removed;
    }
    for (const auto& name : names) {
        const bool pending = IsPendingFolderName(name);
        if (!pending && !IsRunFolderName(name))
            continue;
        const std::string path = JoinPath(parent, name);
        if (pending && !OldEnough(path))
            continue;
        platform::FolderLock lock;
        if (!platform::LockStaleFolder(path, lock))
            continue;
        std::uint32_t error = 0;
        if (DeleteFolderTree(path, kDeleteTempFolder, &error)) {
            SETUP_LOG(cptlib::Severity::Normal)
                << "Removed the folder '" << path << "' that an earlier run left behind.";
            removed.push_back(name);
        } else {
            SETUP_LOG(cptlib::Severity::Warning) << "Could not remove the folder '" << path
                                                 << "' that an earlier run left behind: " << error;
        }
    }
    return removed;
}

} // namespace sfx
