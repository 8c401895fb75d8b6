// The starts inside an open folder, apart from the rest of ChildProcess so that a program that
// starts nothing in a folder does not need the folder seams.
#include "cptlib/platform/ChildProcess.h"

#include "cptlib/platform/FolderTree.h"
#include "cptlib/sys/CommandLineSplit.h"

namespace cptlib::platform {

std::uint32_t ChildProcess::StartIn(const FolderHandle& folder, const std::string& file,
                                    const std::vector<std::string>& arguments,
                                    const std::string& directory) {
    std::string parameters;
    for (const std::string& argument : arguments) {
        if (!parameters.empty())
            parameters += ' ';
        parameters += QuoteArgument(argument);
    }
    return StartCommandIn(folder, file, parameters, directory);
}

// Windows starts no program through a folder handle: the open handle keeps the folder from
// being renamed or replaced, so its path names it for as long as the handle is held.
std::uint32_t ChildProcess::StartCommandIn(const FolderHandle& folder, const std::string& file,
                                           const std::string& parameters,
                                           const std::string& directory) {
    const std::string workingFolder =
        directory.empty() ? PathThrough(folder, ".") : PathThrough(folder, directory);
    std::string name = file;
    if (name.rfind("./", 0) == 0 || name.rfind(".\\", 0) == 0)
        name.erase(0, 2);
    const std::string program =
        PathThrough(folder, directory.empty() ? name : directory + "/" + name);
    return StartCommandLine(program, parameters, workingFolder);
}

} // namespace cptlib::platform
