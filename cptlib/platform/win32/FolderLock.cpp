#include "cptlib/platform/FolderLock.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/NtFiles.h"
#include "cptlib/platform/win32/Security.h"

#include <chrono>
#include <thread>

namespace cptlib::platform {

// The lock is a named event that one folder's identity names: it exists while any handle of it
// is open, in this process or an inheriting child, and goes when the last holder ends in any
// way. A handle on the folder without share-delete would do the same, but would also stop the
// run from renaming its folder and the sweep from removing the folder it holds; a lock file
// would add an entry to the extracted tree.

namespace {

// Opens the folder as itself and checks that it is this user's own folder.
std::uint32_t OpenOwnFolder(const std::string& path, nt::Identity& identity) {
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(nullptr, path, FILE_READ_ATTRIBUTES | READ_CONTROL, FILE_OPEN,
                                      FILE_DIRECTORY_FILE, handle))
        return error == kErrorPathNotFound ? kErrorFileNotFound : error;
    std::uint32_t error = nt::IdentityOf(handle, identity);
    if (error == 0 && nt::IsReparse(identity))
        error = kErrorAccessDenied;
    if (error == 0) {
        PSID owner = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                            nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
            error = kErrorAccessDenied;
        else {
            const auto self = security::CurrentUserSid();
            if (owner == nullptr || self.empty() ||
                !EqualSid(owner, const_cast<BYTE*>(self.data())))
                error = kErrorAccessDenied;
            LocalFree(descriptor);
        }
    }
    CloseHandle(handle);
    return error;
}

std::wstring LockName(const nt::Identity& identity) {
    wchar_t name[96];
    swprintf(name, 96, L"Local\\cptlib-folder-lock-%08lx-%016llx",
             static_cast<unsigned long>(identity.volume),
             static_cast<unsigned long long>(identity.index));
    return name;
}

// The lock's handle when this call made the event, else null (held elsewhere, or failed).
HANDLE TryLock(const nt::Identity& identity, std::uint32_t& error) {
    error = 0;
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, LockName(identity).c_str());
    if (event == nullptr) {
        error = GetLastError();
        return nullptr;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        error = kErrorSharingViolation;
        return nullptr;
    }
    return event;
}

bool StillNamed(const std::string& path, const nt::Identity& opened) {
    nt::Identity named;
    return OpenOwnFolder(path, named) == 0 && named == opened;
}

} // namespace

std::uint32_t FolderLock::PassToChildren() noexcept {
    if (!folder_)
        return kErrorInvalidHandle;
    return SetHandleInformation(static_cast<HANDLE>(folder_.get()), HANDLE_FLAG_INHERIT,
                                HANDLE_FLAG_INHERIT)
               ? 0
               : GetLastError();
}

std::uint32_t LockOwnFolder(const std::string& path, FolderLock& lock) {
    lock.Release();
    nt::Identity opened;
    if (const auto error = OpenOwnFolder(path, opened))
        return error == kErrorFileNotFound ? error : kErrorAccessDenied;
    // A run sweeping the folder as left over holds it only until it is gone.
    HANDLE event = nullptr;
    for (;;) {
        std::uint32_t error = 0;
        event = TryLock(opened, error);
        if (event != nullptr)
            break;
        if (error != kErrorSharingViolation)
            return error;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FileDescriptor held(event);
    if (!StillNamed(path, opened))
        return kErrorFileNotFound;
    lock.folder_ = std::move(held);
    return 0;
}

bool LockStaleFolder(const std::string& path, FolderLock& lock) {
    lock.Release();
    nt::Identity opened;
    if (OpenOwnFolder(path, opened) != 0)
        return false;
    std::uint32_t error = 0;
    FileDescriptor held(TryLock(opened, error));
    if (!held || !StillNamed(path, opened))
        return false;
    lock.folder_ = std::move(held);
    return true;
}

} // namespace cptlib::platform
