#include "launcher/ExtractFolder.h"

#include "cptlib/SystemError.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/XdgFolders.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/Format.h"
#include "launcher/Random.h"

#include <algorithm>
#include <cstdio>
#include <istream>
#include <ostream>

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

std::string FormatByteSize(std::uint64_t size, std::vector<std::string> units) {
    if (units.empty())
        units = {"KB", "MB", "GB", "TB"};
    units.resize(std::max<std::size_t>(units.size(), 4));
    const double v = static_cast<double>(size);
    const auto format = [](const char* pattern, double value, const std::string& unit) {
        char number[64];
        std::snprintf(number, sizeof number, pattern, value);
        return std::string(number) + " " + unit;
    };
    if (v / 1024 < 0.1)
        return "0 " + units[0];
    if (v < 1048576.0)
        return format("%.1f", v / 1024, units[0]);
    if (v < 1073741824.0)
        return format("%.1f", v / 1048576.0, units[1]);
    if (v < 1099511627776.0)
        return format("%.2f", v / 1073741824.0, units[2]);
    return format("%.2f", v / 1099511627776.0, units[3]);
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

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string Text(const FolderQuestion& question, const char* id) {
    return question.strings != nullptr ? question.strings->GetText(id) : std::string();
}

} // namespace

bool AskTargetFolder(const FolderQuestion& question, const std::string& initialFolder,
                     std::string& extractDir) {
    std::string title = Text(question, "SelectTargetDirAppTitle");
    if (title.empty())
        title = "[ProductName] - [SelectTargetDir]";
    title = ReplaceAll(title, "[ProductName]", question.productName);
    title = ReplaceAll(title, "[SelectTargetDir]", Text(question, "SelectTargetDir"));

    const std::string path =
        question.pickFolder ? question.pickFolder(initialFolder, title) : std::string();
    if (path.empty())
        return false;
    extractDir = question.extractOnly ? path : JoinPath(path, MakeRandomFolderName());
    return true;
}

bool ChooseFolderAfterDiskFull(const FolderQuestion& question, std::uint64_t requiredSize,
                               std::string& extractDir) {
    std::string initial;
    if (!FindRoomiestDrive(initial))
        initial = cptlib::ResolveFolderProperty("PersonalFolder", true);
    const std::vector<std::string> units = {Text(question, "KiB"), Text(question, "MiB"),
                                            Text(question, "GiB"), Text(question, "TiB")};
    const std::string message =
        FormatText(Text(question, "ChooseTempDir"), FormatByteSize(requiredSize, units));
    if (cptlib::ShowMessageBox(message, cptlib::MB_OK, 0, question.uiLevel, question.strings) !=
        cptlib::IDOK)
        return false;
    return AskTargetFolder(question, initial, extractDir);
}

std::string PickFolderAtTerminal(std::istream* in, std::ostream& out,
                                 const std::string& initialFolder, const std::string& title) {
    if (in == nullptr)
        return {};
    out << "\n";
    if (!title.empty())
        out << "[" << title << "]\n";
    for (;;) {
        out << "Folder";
        if (!initialFolder.empty())
            out << " (for example " << initialFolder << ")";
        out << ", empty to cancel: ";
        out.flush();
        std::string line;
        if (!std::getline(*in, line)) {
            out << "\n";
            return {};
        }
        if (line.empty())
            return {};
        const std::string path =
            IsAbsolutePath(line) ? line : JoinPath(cptlib::platform::GetCurrentDirectory(), line);
        if (cptlib::platform::IsDirectory(path))
            return AddTrailingSlash(path);
        out << "Not a folder: " << path << "\n";
    }
}

} // namespace sfx
