#pragma once
// Opening entries relative to an open folder, the Windows form of openat: NtCreateFile with a
// RootDirectory resolves one name inside that folder, whatever its path is called meanwhile,
// and FILE_OPEN_REPARSE_POINT opens a junction or symbolic link itself instead of its target.
// Chosen over checking paths with CreateFileW because a check of a path and its use are two
// lookups that a swap of a folder on the way can split.

#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>

namespace cptlib::platform::nt {

// Access for a folder that anchors relative opens and is listed.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE;
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

inline std::uint32_t FromStatus(NTSTATUS status) {
    return static_cast<std::uint32_t>(RtlNtStatusToDosError(status));
}

// One entry name: a second part, a stream or a drive would reach past the folder.
inline bool IsPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("\\/:") == std::string::npos;
}

// A path in the kernel's form ("\??\C:\x"), made whole the way the Win32 calls make it (either
// separator, "." and "..", repeated separators, relative to the current folder); empty when it
// cannot be.
inline std::wstring NtPathOf(const std::string& path) {
    const std::wstring wide = Widen(path);
    if (wide.empty())
        return {};
    if (wide.rfind(L"\\\\?\\", 0) == 0 || wide.rfind(L"\\??\\", 0) == 0)
        return L"\\??\\" + wide.substr(4);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0)
            return {};
        if (n < full.size()) {
            full.resize(n);
            break;
        }
        full.resize(n);
    }
    // The kernel takes no trailing separator but the one of a drive's root.
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\??\\UNC\\" + full.substr(2);
    return L"\\??\\" + full;
}

// Opens `name` in `root` ("." for `root` itself), or the absolute path `name` when `root` is
// null. A synchronous handle; reparse points are opened themselves unless `follow`.
inline std::uint32_t OpenAt(HANDLE root, const std::string& name, ACCESS_MASK access,
                            ULONG disposition, ULONG options, HANDLE& handle, bool follow = false,
                            PSECURITY_DESCRIPTOR descriptor = nullptr) {
    handle = nullptr;
    std::wstring wide;
    if (root != nullptr) {
        // "." is the folder itself, as the POSIX calls take it: an empty name opens the root.
        if (name != "." && !IsPlainName(name))
            return kErrorInvalidName;
        if (name != ".")
            wide = Widen(name);
    } else {
        wide = NtPathOf(name);
        if (wide.empty())
            return kErrorInvalidName;
    }
    UNICODE_STRING text;
    text.Buffer = wide.data();
    text.Length = static_cast<USHORT>(wide.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr,
                     FILE_ATTRIBUTE_NORMAL, kShareAll, disposition,
                     options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT |
                         (follow ? 0 : FILE_OPEN_REPARSE_POINT),
                     nullptr, 0);
    if (status < 0) {
        handle = nullptr;
        return FromStatus(status);
    }
    return 0;
}

struct Identity {
    DWORD volume = 0;
    std::uint64_t index = 0;
    DWORD attributes = 0;
    DWORD links = 0;
    // The volume only where both know it: Wine reports 0 for a handle whose name has moved.
    bool operator==(const Identity& other) const {
        return index == other.index && (volume == other.volume || volume == 0 || other.volume == 0);
    }
};

inline std::uint32_t IdentityOf(HANDLE handle, Identity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info))
        return GetLastError();
    identity.volume = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.attributes = info.dwFileAttributes;
    identity.links = info.nNumberOfLinks;
    return 0;
}

inline bool IsReparse(const Identity& identity) {
    return (identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
inline bool IsFolder(const Identity& identity) {
    return (identity.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Deletes the open entry; a read-only file loses the attribute first, as unlink ignores modes.
inline std::uint32_t DeleteOpened(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition))
        return 0;
    const DWORD error = GetLastError();
    FILE_BASIC_INFO basic{};
    if (error != ERROR_ACCESS_DENIED ||
        !GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) == 0)
        return error;
    const DWORD before = basic.FileAttributes;
    basic = {};
    basic.FileAttributes = (before & ~DWORD(FILE_ATTRIBUTE_READONLY)) | FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic))
        return error;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)
               ? 0
               : GetLastError();
}

// The path an open handle has now, without the "\\?\" prefix where a drive path remains.
inline std::string PathOfHandle(HANDLE handle) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            return {};
        if (n < buffer.size()) {
            buffer.resize(n);
            break;
        }
        buffer.resize(n + 1);
    }
    if (buffer.rfind(L"\\\\?\\UNC\\", 0) == 0)
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.rfind(L"\\\\?\\", 0) == 0 && buffer.size() >= 6 && buffer[5] == L':')
        buffer = buffer.substr(4);
    return Narrow(buffer);
}

} // namespace cptlib::platform::nt
