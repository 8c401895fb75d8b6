#include "cptlib/platform/FolderEntries.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/win32/NtFiles.h"
#include "cptlib/platform/win32/Security.h"

#include <vector>

namespace cptlib::platform {

namespace {

// The mark: a lock on one byte far past any file's end, which the system drops with the
// handle, also when the writer is killed.
constexpr DWORD kMarkOffsetHigh = 0x7fffffff;

bool LockMark(HANDLE file) {
    OVERLAPPED at{};
    at.OffsetHigh = kMarkOffsetHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) !=
           FALSE;
}

// 100-ns units since 1601 of the present moment.
std::int64_t NowTicks() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<std::int64_t>((std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// The change time: set by the system on every change, never by SetFileTime.
bool ChangedBefore(HANDLE handle, std::int64_t seconds) {
    FILE_BASIC_INFO basic{};
    return GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
           basic.ChangeTime.QuadPart + seconds * 10000000 < NowTicks();
}

bool OwnedByThisUser(HANDLE handle) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                        nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    const std::vector<BYTE> self = security::CurrentUserSid();
    const bool own = owner != nullptr && !self.empty() &&
                     EqualSid(owner, const_cast<BYTE*>(self.data())) != FALSE;
    LocalFree(descriptor);
    return own;
}

} // namespace

std::uint32_t RenameInFolder(FileHandle folder, const std::string& from, const std::string& to) {
    if (!nt::IsPlainName(to))
        return kErrorInvalidName;
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(static_cast<HANDLE>(folder), from, DELETE, FILE_OPEN, 0, handle))
        return error;
    // The new name is resolved in the same folder handle, so a renamed or swapped folder
    // path cannot send the file elsewhere.
    const std::wstring name = Widen(to);
    struct RenameRequest {
        BOOLEAN replaceIfExists;
        HANDLE rootDirectory;
        ULONG fileNameLength;
        WCHAR fileName[1];
    };
    constexpr int kFileRenameInformation = 10;
    std::vector<unsigned char> buffer(sizeof(RenameRequest) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<RenameRequest*>(buffer.data());
    info->replaceIfExists = TRUE;
    info->rootDirectory = static_cast<HANDLE>(folder);
    info->fileNameLength = static_cast<ULONG>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->fileName);
    const auto rename = [&] {
        IO_STATUS_BLOCK io{};
        const NTSTATUS status =
            NtSetInformationFile(handle, &io, info, static_cast<ULONG>(buffer.size()),
                                 static_cast<FILE_INFORMATION_CLASS>(kFileRenameInformation));
        return status >= 0 ? 0u : nt::FromStatus(status);
    };
    std::uint32_t error = rename();
    if (error == kErrorAccessDenied) {
        // A read-only file is replaced as a rename over it replaces it elsewhere; it keeps the
        // attribute when it stays.
        HANDLE target = nullptr;
        FILE_BASIC_INFO basic{};
        if (nt::OpenAt(static_cast<HANDLE>(folder), to,
                       FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN,
                       FILE_NON_DIRECTORY_FILE, target) == 0 &&
            GetFileInformationByHandleEx(target, FileBasicInfo, &basic, sizeof basic) &&
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            (basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            FILE_BASIC_INFO change{};
            change.FileAttributes =
                (basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
            if (SetFileInformationByHandle(target, FileBasicInfo, &change, sizeof change)) {
                CloseHandle(target);
                target = nullptr;
                error = rename();
                if (error != 0 && nt::OpenAt(static_cast<HANDLE>(folder), to, FILE_WRITE_ATTRIBUTES,
                                             FILE_OPEN, FILE_NON_DIRECTORY_FILE, target) == 0) {
                    change.FileAttributes = basic.FileAttributes;
                    SetFileInformationByHandle(target, FileBasicInfo, &change, sizeof change);
                }
            }
        }
        if (target != nullptr)
            CloseHandle(target);
    }
    CloseHandle(handle);
    return error;
}

void RemoveFileInFolder(FileHandle folder, const std::string& name) {
    HANDLE handle = nullptr;
    if (nt::OpenAt(static_cast<HANDLE>(folder), name, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN,
                   FILE_NON_DIRECTORY_FILE, handle) != 0)
        return;
    nt::DeleteOpened(handle);
    CloseHandle(handle);
}

void MarkBeingWritten(FileHandle file) {
    LockMark(static_cast<HANDLE>(file));
}

void RemoveAbandonedFiles(FileHandle folder, const std::function<bool(const std::string&)>& matches,
                          std::int64_t seconds) {
    HANDLE listing = nullptr;
    // A handle of its own: the listing position of the caller's handle stays where it was.
    if (nt::OpenAt(nullptr, nt::PathOfHandle(static_cast<HANDLE>(folder)), nt::kFolderAccess,
                   FILE_OPEN, FILE_DIRECTORY_FILE, listing, true) != 0)
        return;
    std::vector<std::string> names;
    {
        alignas(8) unsigned char buffer[16384];
        auto kind = FileIdBothDirectoryRestartInfo;
        while (GetFileInformationByHandleEx(listing, kind, buffer, sizeof buffer)) {
            kind = FileIdBothDirectoryInfo;
            for (std::size_t at = 0;;) {
                const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
                const std::string name = Narrow(
                    std::wstring_view(entry->FileName, entry->FileNameLength / sizeof(wchar_t)));
                if (matches(name))
                    names.push_back(name);
                if (entry->NextEntryOffset == 0)
                    break;
                at += entry->NextEntryOffset;
            }
        }
    }
    CloseHandle(listing);
    for (const std::string& name : names) {
        HANDLE handle = nullptr;
        // Opened as itself (a link is not followed), with the right to delete it through this
        // very handle: what is checked is what goes.
        if (nt::OpenAt(static_cast<HANDLE>(folder), name,
                       DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | READ_CONTROL,
                       FILE_OPEN, FILE_NON_DIRECTORY_FILE, handle) != 0)
            continue;
        nt::Identity identity;
        if (nt::IdentityOf(handle, identity) == 0 && !nt::IsReparse(identity) &&
            identity.links == 1 && OwnedByThisUser(handle) && ChangedBefore(handle, seconds) &&
            LockMark(handle)) // a live writer holds the mark
            nt::DeleteOpened(handle);
        CloseHandle(handle);
    }
}

std::string UserNameOf(UserId uid) {
    // Windows names accounts by SID, which a number cannot carry; the number is what the
    // refusal has.
    return std::to_string(uid);
}

bool ChangedLongerAgoThan(const std::string& path, std::int64_t seconds) {
    HANDLE handle = nullptr;
    if (nt::OpenAt(nullptr, path, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, handle) != 0)
        return false;
    const bool old = ChangedBefore(handle, seconds);
    CloseHandle(handle);
    return old;
}

} // namespace cptlib::platform
