#include "cptlib/platform/DesktopOpener.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

#include <shellapi.h>

namespace cptlib::platform {

// An elevated process here runs as the same user, whose shell reaches the folder already: there
// is nothing to share.
std::uint32_t ShareWithDelegatingUser(const std::string& /*folder*/, const std::string& /*file*/) {
    return 0;
}

// The shell reports a failure to start the associated program itself, so nothing is awaited:
// `handOverTime` has no use here.
void OpenWithDesktop(const std::string& target, const std::string& workingDirectory,
                     std::chrono::milliseconds /*handOverTime*/) {
    const std::wstring file = Widen(target);
    const std::wstring folder = Widen(workingDirectory);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!ShellExecuteExW(&info))
        CPT_THROW(SystemError(MakeWin32Error(GetLastError()), "ShellExecuteEx failed"));
    // Not awaited: the program belongs to the user's session, not to this run.
    if (info.hProcess != nullptr)
        CloseHandle(info.hProcess);
}

} // namespace cptlib::platform
