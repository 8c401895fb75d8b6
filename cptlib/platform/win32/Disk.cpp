#include "cptlib/platform/Disk.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/Security.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

namespace cptlib::platform {

namespace {

// Whether the process's user may add entries to the folder, by the folder's ACL.
bool MayAddEntries(const std::wstring& path) {
    DWORD needed = 0;
    const SECURITY_INFORMATION what =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    GetFileSecurityW(path.c_str(), what, nullptr, 0, &needed);
    if (needed == 0)
        return false;
    std::vector<BYTE> descriptor(needed);
    if (!GetFileSecurityW(path.c_str(), what, descriptor.data(), needed, &needed))
        return false;
    HANDLE process = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE,
                          &process))
        return false;
    HANDLE token = nullptr;
    const BOOL duplicated = DuplicateToken(process, SecurityImpersonation, &token);
    CloseHandle(process);
    if (!duplicated)
        return false;
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    DWORD wanted = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE;
    MapGenericMask(&wanted, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    const BOOL checked = AccessCheck(descriptor.data(), token, wanted, &mapping, &privileges,
                                     &privilegesSize, &granted, &allowed);
    CloseHandle(token);
    return checked && allowed;
}

} // namespace

std::vector<std::string> LocalWritableMountPoints() {
    // Fixed drives take the place of local mount points; removable and network drives stay out.
    std::vector<std::string> points;
    wchar_t drives[512];
    const DWORD length = GetLogicalDriveStringsW(512, drives);
    if (length == 0 || length >= 512)
        return points;
    for (const wchar_t* drive = drives; *drive != L'\0'; drive += wcslen(drive) + 1) {
        if (GetDriveTypeW(drive) != DRIVE_FIXED)
            continue;
        DWORD flags = 0;
        if (!GetVolumeInformationW(drive, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) ||
            (flags & FILE_READ_ONLY_VOLUME) != 0)
            continue;
        const std::string point = Narrow(drive);
        if (CanWriteFolder(point))
            points.push_back(point);
    }
    return points;
}

std::uint32_t GetFreeBytes(const std::string& path, std::uint64_t& freeBytes) {
    freeBytes = 0;
    ULARGE_INTEGER available{};
    // The caller's share: quotas count, as f_bavail leaves out what only root may use.
    if (!GetDiskFreeSpaceExW(Widen(path).c_str(), &available, nullptr, nullptr))
        return GetLastError();
    freeBytes = available.QuadPart;
    return 0;
}

std::uint32_t QueryAllowsExecution(const std::string& path, bool& allowed) {
    allowed = false;
    // Volumes have no no-exec flag on Windows; the path only has to be there.
    if (GetFileAttributesW(Widen(path).c_str()) == INVALID_FILE_ATTRIBUTES)
        return GetLastError();
    allowed = true;
    return 0;
}

bool CanWriteFolder(const std::string& path) {
    const std::wstring wide = Widen(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           MayAddEntries(wide);
}

std::uint32_t CreatePrivateFolder(const std::string& path) {
    security::OwnerOnly descriptor;
    if (descriptor.Attributes() == nullptr)
        return kErrorAccessDenied;
    if (CreateDirectoryW(Widen(path).c_str(), descriptor.Attributes()))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS ? kErrorAlreadyExists : error;
}

} // namespace cptlib::platform
