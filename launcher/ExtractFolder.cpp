#include "launcher/ExtractFolder.h"

#include "cptlib/platform/Process.h"
#include "launcher/Random.h"

namespace sfx {

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path.front() == '/';
}

std::string AddTrailingSlash(const std::string& path) {
    if (path.empty() || path.back() == '/')
        return path;
    return path + '/';
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return AddTrailingSlash(folder) + name;
}

std::string LastPathComponent(const std::string& path) {
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.back() == '/')
        trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string MakeRandomFolderName() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = "vrn";
    for (int i = 0; i < 8; ++i)
        name += kAlphabet[NextRandom() % 36];
    return name;
}

std::string CompleteExtractOnlyFolder(const std::string& extractDir,
                                      const std::filesystem::path& programPath) {
    if (extractDir.empty()) {
        const std::string fileName = LastPathComponent(programPath.string());
        std::string folderName = WithoutExtension(fileName);
        // Linux programs rarely have an extension: the folder must not take the program's own
        // name, or creating it next to the program would fail.
        if (folderName == fileName)
            folderName += "-files";
        return JoinPath(cptlib::platform::GetCurrentDirectory(), folderName);
    }
    if (!IsAbsolutePath(extractDir))
        return JoinPath(cptlib::platform::GetCurrentDirectory(), extractDir);
    return extractDir;
}

} // namespace sfx
