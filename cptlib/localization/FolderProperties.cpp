#include "cptlib/localization/FolderProperties.h"

#include "cptlib/platform/FolderSources.h"
#include "cptlib/platform/Machine.h"

namespace cptlib {

FolderSourceTable BuildFolderPropertyTable(bool is32BitOn64Bit) {
    return platform::BuildFolderSourceTable(is32BitOn64Bit);
}

const FolderSourceTable& FolderPropertyTable() {
    static const FolderSourceTable table =
        BuildFolderPropertyTable(platform::Is32BitProcessOn64BitKernel());
    return table;
}

std::string ResolveFolderSource(const FolderSource& source, bool create) {
    return platform::ResolveFolderSource(source, create, nullptr);
}

std::string ResolveFolderProperty(const std::string& name, bool create) {
    const auto& table = FolderPropertyTable();
    const auto it = table.find(name);
    return it == table.end() ? std::string()
                             : platform::ResolveFolderSource(it->second, create, nullptr);
}

PropertyMap GetFolderProperties() {
    const platform::FolderSnapshot snapshot = platform::ReadFolderSnapshot();
    PropertyMap properties;
    for (const auto& [name, source] : FolderPropertyTable())
        properties.emplace(name, platform::ResolveFolderSource(source, false, &snapshot));
    return properties;
}

std::string AddTrailingSlash(std::string path) {
    if (!path.empty() && path.back() != '/')
        path += '/';
    return path;
}

} // namespace cptlib
