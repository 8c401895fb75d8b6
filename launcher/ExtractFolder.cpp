#include "launcher/ExtractFolder.h"

#include "cptlib/DisplayText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/XdgFolders.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "launcher/Format.h"
#include "launcher/TemporaryFolder.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <istream>
#include <ostream>

namespace sfx {

std::size_t LastPathSeparator(const std::string& path) {
    return kPathSeparator == '/' ? path.rfind('/') : path.find_last_of({'/', kPathSeparator});
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && cptlib::PathFromUtf8(path).is_absolute();
}

std::string AddTrailingSlash(const std::string& path) {
    if (path.empty() || IsPathSeparator(path.back()))
        return path;
    return path + kPathSeparator;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
    return AddTrailingSlash(folder) + name;
}

std::string LastPathComponent(const std::string& path) {
    std::string trimmed = path;
    if (!trimmed.empty() && IsPathSeparator(trimmed.back()))
        trimmed.pop_back();
    const auto slash = LastPathSeparator(trimmed);
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

std::string WithoutExtension(const std::string& name) {
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string CompleteExtractOnlyFolder(const std::string& extractDir,
                                      const std::filesystem::path& programPath) {
    if (extractDir.empty()) {
        const std::string fileName = LastPathComponent(cptlib::Utf8FromPath(programPath));
        std::string folderName = WithoutExtension(fileName);
        // Linux programs rarely have an extension: the folder must not take the program's own
        // name, or creating it next to the program would fail.
        if (folderName == fileName)
            folderName += "-files";
        // A name such as ".hidden" leaves nothing, "..x" only a dot; the current folder or its
        // parent is never the target.
        if (folderName.empty() || folderName == "." || folderName == "..")
            folderName = kExtractOnlyFallbackName;
        return JoinPath(cptlib::platform::CurrentFolderPath(), folderName);
    }
    if (!IsAbsolutePath(extractDir))
        return JoinPath(cptlib::platform::CurrentFolderPath(), extractDir);
    return extractDir;
}

std::string FormatByteSize(std::uint64_t size, std::vector<std::string> units,
                           const std::string& decimalSeparator) {
    if (units.empty())
        units = {"KB", "MB", "GB", "TB"};
    units.resize(std::max<std::size_t>(units.size(), 4));
    const double v = static_cast<double>(size);
    const auto format = [&decimalSeparator](const char* pattern, double value,
                                            const std::string& unit) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, pattern, value);
        std::string number(buffer);
        if (!decimalSeparator.empty()) {
            const std::lconv* conventions = std::localeconv();
            const std::string own = conventions != nullptr && conventions->decimal_point != nullptr
                                        ? conventions->decimal_point
                                        : ".";
            if (const auto at = number.find(own); !own.empty() && at != std::string::npos)
                number.replace(at, own.size(), decimalSeparator);
        }
        return number + " " + unit;
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

namespace {

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

namespace {

std::string TrimBlanks(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// Makes `path` with its missing parents; the reason in words when that fails.
bool MakeFolder(const std::string& path, std::string& reason) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    if (!ec && cptlib::platform::IsDirectory(path))
        return true;
    reason = ec ? ec.message() : std::string();
    return false;
}

} // namespace

std::string PickFolderAtTerminal(std::istream* in, std::ostream& out,
                                 const std::string& initialFolder, const std::string& title,
                                 const cptlib::IStringResources* strings, int columns) {
    if (in == nullptr)
        return {};
    out << "\n";
    if (!title.empty())
        out << "[" << cptlib::DisplayName(title) << "]\n";
    const auto cancelled = [&] {
        out << cptlib::TerminalText(strings, "TerminalCancelled", "Cancelled.") << "\n";
        return std::string();
    };
    out << cptlib::WrapToColumns(
               cptlib::TerminalText(strings, "TerminalFolderHint",
                                    "Press Enter to take the proposed folder, type another "
                                    "folder, or type q to cancel."),
               columns)
        << "\n";
    for (;;) {
        out << cptlib::TerminalText(strings, "TerminalFolder", "Folder:");
        // Enter takes the proposal, as with any suggested answer at a prompt.
        if (!initialFolder.empty())
            out << " [" << cptlib::DisplayName(initialFolder) << "]";
        out << " ";
        out.flush();
        std::string line;
        // A prompt that Ctrl+C ended before leaves the stream at its end.
        in->clear();
        if (!std::getline(*in, line)) {
            out << "\n";
            return cancelled();
        }
        line = TrimBlanks(line);
        // A folder named q is typed as ./q.
        if (line == "q" || line == "Q")
            return cancelled();
        const bool proposal = line.empty();
        if (proposal) {
            if (initialFolder.empty())
                return cancelled();
            line = initialFolder;
        }
        const std::string path =
            IsAbsolutePath(line) ? line : JoinPath(cptlib::platform::CurrentFolderPath(), line);
        if (cptlib::platform::IsDirectory(path))
            return AddTrailingSlash(path);
        std::error_code ec;
        if (std::filesystem::symlink_status(path, ec).type() !=
            std::filesystem::file_type::not_found) {
            out << cptlib::WrapToColumns(
                       cptlib::FillIn(
                           cptlib::TerminalText(strings, "TerminalNotAFolder", "Not a folder: %s"),
                           {cptlib::DisplayName(path)}),
                       columns)
                << "\n";
            continue;
        }
        // The proposal is made as a run without a terminal makes it; a typed folder that does
        // not exist may be a typing mistake, so it is made only when the user says so.
        if (!proposal) {
            cptlib::MessageBoxContent box;
            box.content =
                cptlib::FillIn(cptlib::TerminalText(strings, "TerminalCreateFolder",
                                                    "The folder %s does not exist. Create it?"),
                               {cptlib::DisplayName(path)});
            box.buttons = {{cptlib::kIdYes, true, cptlib::TerminalText(strings, "Yes", "&Yes")},
                           {cptlib::kIdNo, false, cptlib::TerminalText(strings, "No", "&No")}};
            box.flags = cptlib::MBF_NO_CLOSE;
            const int answer = cptlib::TerminalMessageBox(in, out, strings, [columns] {
                                   return columns;
                               }).Show(box);
            if (answer == 0)
                return cancelled();
            if (answer != cptlib::kIdYes)
                continue;
        }
        std::string reason;
        if (MakeFolder(path, reason))
            return AddTrailingSlash(path);
        out << cptlib::WrapToColumns(
                   cptlib::FillIn(cptlib::TerminalText(strings, "TerminalCannotCreateFolder",
                                                       "The folder %s could not be created: %s"),
                                  {cptlib::DisplayName(path), reason}),
                   columns)
            << "\n";
    }
}

} // namespace sfx
