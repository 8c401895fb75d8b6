#include "sfxbuild/Build.h"

#include "cptlib/platform/ItemTime.h"

#include <cstring>

namespace sfxbuild {

void StageFolder(const std::filesystem::path& folder, const std::filesystem::path& copy,
                 std::optional<std::int64_t> latestTime, const std::vector<std::string>& followed) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::is_directory(folder, ec))
        throw BuildError("folder " + Quoted(folder) + " does not exist or is not a folder");
    fs::copy(folder, copy, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec)
        throw BuildError("cannot copy folder " + Quoted(folder) +
                         " to clamp its times: " + ec.message());
    for (const std::string& name : followed) {
        const fs::path link = copy / fs::path(name);
        fs::remove(link, ec);
        if (!ec)
            fs::copy(folder / fs::path(name), link, fs::copy_options::recursive, ec);
        if (ec)
            throw BuildError("cannot copy what link " + Quoted(folder / fs::path(name)) +
                             " points at: " + ec.message());
    }
    if (!latestTime)
        return;
    std::vector<fs::path> items;
    for (fs::recursive_directory_iterator it(copy, ec), end; !ec && it != end; it.increment(ec))
        items.push_back(it->path());
    if (ec)
        throw BuildError("cannot list the copy of folder " + Quoted(folder) + ": " + ec.message());
    for (const auto& item : items) {
        const fs::path source = folder / item.lexically_relative(copy);
        if (const int error = cptlib::platform::CopyItemTime(source, item, *latestTime))
            throw BuildError("cannot set the time of " + Quoted(item) + ": " +
                             std::strerror(error));
    }
}

} // namespace sfxbuild
