#include "launcher/App.h"

#include "cptlib/Utf.h"

namespace sfx {

namespace {

// Named values of the preset overwrite answer.
bool ParseOverwriteAnswer(const std::string& text, int& answer) {
    static const char* const kNames[] = {"Yes", "YesToAll", "No", "NoToAll", "Cancel"};
    for (int i = 0; i < 5; ++i) {
        if (cptlib::EqualsNoCase(text, kNames[i])) {
            answer = i;
            return true;
        }
    }
    return false;
}

} // namespace

std::string ResolveFolderArgument(const std::string& value,
                                  const std::filesystem::path& programPath) {
    if (!value.empty() && value.front() == '/')
        return value;
    std::string folder = programPath.parent_path().string();
    if (folder.empty() || folder.back() != '/')
        folder += '/';
    return folder + value;
}

bool CApp::ParseCommandLine() {
    bool packing = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (packing) {
            packedArguments.push_back(argument);
            continue;
        }
        if (argument.empty() || (argument[0] != '-' && argument[0] != '/')) {
            forwardedArguments.push_back(argument);
            continue;
        }
        const std::string name = cptlib::ToLowerUtf8(argument.substr(1));
        const bool hasValue = i + 1 < arguments.size();
        if (name == "?") {
            return false;
        } else if (name == "x") {
            extractOnly = true;
            if (hasValue)
                extractDir = arguments[++i];
        } else if (name == "q") {
            UiLevel = 0;
            forwardedArguments.push_back(argument);
        } else if (name == "qb") {
            UiLevel = 2;
            forwardedArguments.push_back(argument);
        } else if (name == "qm") {
            UiLevel = 1;
            forwardedArguments.push_back(argument);
        } else if (name == "qx") {
            UiLevel = 3;
            forwardedArguments.push_back(argument);
        } else if (name == "l") {
            if (hasValue) {
                requestedCulture = arguments[++i];
                forwardedArguments.push_back(argument);
                forwardedArguments.push_back(requestedCulture);
            }
        } else if (name.starts_with("m=")) {
            ownValuesFile = true;
            forwardedArguments.push_back(argument);
        } else if (name == "e") {
            if (hasValue)
                archivePath = arguments[++i];
        } else if (name == "overwriteanswer") {
            if (hasValue)
                ParseOverwriteAnswer(arguments[++i], overwriteAnswer);
        } else if (name == "dlmaddondir") {
            if (hasValue)
                addonDirPacked = ResolveFolderArgument(arguments[++i], programPath);
        } else if (name == "dlvaddondir") {
            if (hasValue)
                addonDir = ResolveFolderArgument(arguments[++i], programPath);
        } else if (name == "dlmforward") {
            packing = true;
        } else {
            forwardedArguments.push_back(argument);
        }
    }
    return true;
}

} // namespace sfx
