#include "launcher/App.h"

#include "cptlib/Exceptions.h"
#include "cptlib/Utf.h"

#include <algorithm>
#include <iterator>

namespace sfx {

namespace {

// Named values of the preset overwrite answer, in the order of OverwriteAnswer.
bool ParseOverwriteAnswer(const std::string& text, int& answer) {
    static const char* const kNames[] = {"Yes", "YesToAll", "No", "NoToAll", "Cancel"};
    static_assert(std::size(kNames) == kOverwriteCancel + 1);
    for (int i = kOverwriteYes; i <= kOverwriteCancel; ++i) {
        if (cptlib::EqualsNoCase(text, kNames[i])) {
            answer = i;
            return true;
        }
    }
    return false;
}

// The switch name of an argument that begins with "-" or "/", lower case; empty otherwise.
std::string SwitchName(const std::string& argument) {
    if (argument.empty() || (argument[0] != '-' && argument[0] != '/'))
        return {};
    return cptlib::ToLowerUtf8(argument.substr(1));
}

// On Linux "/q" is also an absolute path; a switch the launcher knows is never taken as the
// folder of /x, so that "/x /q" cannot extract into a folder at the root.
// The Linux spellings of help and version: only with a dash ("/h" is the setup's).
bool IsHelpSwitch(const std::string& argument) {
    const std::string name = SwitchName(argument);
    return name == "?" || (argument[0] == '-' && (name == "h" || name == "-help"));
}

bool IsVersionSwitch(const std::string& argument) {
    return argument[0] == '-' && SwitchName(argument) == "-version";
}

bool IsKnownSwitch(const std::string& argument) {
    static const char* const kNames[] = {
        "x",           "q",           "qb",        "qm", "qx", "l", "e", "overwriteanswer",
        "dlmaddondir", "dlvaddondir", "dlmforward"};
    const std::string name = SwitchName(argument);
    if (name.empty())
        return false;
    if (name.starts_with("m=") || IsHelpSwitch(argument) || IsVersionSwitch(argument))
        return true;
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

} // namespace

std::string ResolveFolderArgument(const std::string& value,
                                  const std::filesystem::path& programPath) {
    if (!value.empty() && cptlib::PathFromUtf8(value).is_absolute())
        return value;
    std::string folder = cptlib::Utf8FromPath(programPath.parent_path());
    const auto separator = static_cast<char>(std::filesystem::path::preferred_separator);
    if (folder.empty() || (folder.back() != '/' && folder.back() != separator))
        folder += separator;
    return folder + value;
}

bool CApp::ParseCommandLine() {
    bool packing = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (packing) {
            state.packedArguments.push_back(argument);
            continue;
        }
        if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) {
            state.forwardedArguments.push_back(argument);
            continue;
        }
        const std::string name = SwitchName(argument);
        const bool hasValue = i + 1 < arguments.size();
        // The help and version switches of Linux programs answer before anything is extracted.
        if (IsHelpSwitch(argument)) {
            return false;
        } else if (IsVersionSwitch(argument)) {
            state.showVersion = true;
            return false;
        } else if (name == "x") {
            state.extractOnly = true;
            if (hasValue && !IsKnownSwitch(arguments[i + 1]))
                state.extractDir = arguments[++i];
        } else if (name == "q") {
            state.UiLevel = UiSilent;
            state.forwardedArguments.push_back(argument);
        } else if (name == "qb") {
            state.UiLevel = UiBasic;
            state.forwardedArguments.push_back(argument);
        } else if (name == "qm") {
            state.UiLevel = UiHidden;
            state.forwardedArguments.push_back(argument);
        } else if (name == "qx") {
            state.UiLevel = UiBasicExtra;
            state.forwardedArguments.push_back(argument);
        } else if (name == "l") {
            if (hasValue) {
                state.requestedCulture = arguments[++i];
                state.forwardedArguments.push_back(argument);
                state.forwardedArguments.push_back(state.requestedCulture);
            }
        } else if (name.starts_with("m=")) {
            state.ownValuesFile = true;
            state.forwardedArguments.push_back(argument);
        } else if (name == "e") {
            if (hasValue)
                state.archivePath = arguments[++i];
        } else if (name == "overwriteanswer") {
            if (hasValue)
                state.overwriteAnswerGiven =
                    ParseOverwriteAnswer(arguments[++i], state.overwriteAnswer) ||
                    state.overwriteAnswerGiven;
        } else if (name == "dlmaddondir") {
            if (hasValue)
                state.addonDirPacked = ResolveFolderArgument(arguments[++i], startedAs);
        } else if (name == "dlvaddondir") {
            if (hasValue)
                state.addonDir = ResolveFolderArgument(arguments[++i], startedAs);
        } else if (name == "dlmforward") {
            packing = true;
        } else {
            state.forwardedArguments.push_back(argument);
        }
    }
    return true;
}

} // namespace sfx
