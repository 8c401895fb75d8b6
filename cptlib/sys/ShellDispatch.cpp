#include "cptlib/sys/ShellDispatch.h"

#include "cptlib/Exceptions.h"
#include "cptlib/Log.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/DesktopOpener.h"

#include <cstring>
#include <string>

namespace cptlib {

void ShellExecuteFromExplorer(const char* file, const char* parameters, const char* directory,
                              const char* operation, int /*showCommand*/,
                              ShellExecuteFromExplorerFlags /*flags*/) {
    try {
        if (file == nullptr)
            CPT_THROW(SystemError(std::make_error_code(std::errc::invalid_argument),
                                  "The pszFile parameter must not be nullptr"));
        const std::size_t length = std::strlen(file);
        if (length > 0 && file[length - 1] == '/') {
            ShellOpenFolderFromExplorer(file, ShellOpenFolderFromExplorerFlags::None);
            return;
        }
        if (operation != nullptr && *operation != '\0' && std::strcmp(operation, "open") != 0)
            CPT_THROW(SystemError(MakeWin32Error(kErrorNoAssociation),
                                  std::string("The desktop opener has no operation \"") +
                                      operation + "\""));
        if (parameters != nullptr && *parameters != '\0')
            SETUP_LOG(Severity::Warning)
                << "ShellExecuteFromExplorer: the desktop opener takes no parameters; not passed "
                   "to '"
                << file << "': " << parameters;
        platform::OpenWithDesktop(file, directory != nullptr ? directory : "");
    } catch (...) {
        auto error = NestedError<RuntimeError>("The file could not be opened on the desktop");
        if (file != nullptr)
            error << tag_errinfo_path(PathFromUtf8(file));
        CPT_THROW(error);
    }
}

void ShellOpenFolderFromExplorer(const char* folder, ShellOpenFolderFromExplorerFlags /*flags*/) {
    try {
        if (folder == nullptr)
            CPT_THROW(SystemError(std::make_error_code(std::errc::invalid_argument),
                                  "The pszFolder parameter must not be nullptr"));
        platform::OpenWithDesktop(folder, "");
    } catch (...) {
        auto error = NestedError<RuntimeError>("The folder could not be opened on the desktop");
        if (folder != nullptr)
            error << tag_errinfo_path(PathFromUtf8(folder));
        CPT_THROW(error);
    }
}

} // namespace cptlib
