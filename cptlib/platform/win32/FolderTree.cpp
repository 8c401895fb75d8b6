#include "cptlib/platform/FolderTree.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/TargetFolder.h"
#include "cptlib/platform/win32/NtFiles.h"
#include "cptlib/platform/win32/Security.h"

#include <cerrno>

namespace cptlib::platform {

namespace {

HANDLE Native(const FolderHandle* folder) {
    return folder ? static_cast<HANDLE>(DescriptorOf(folder)) : nullptr;
}

std::uint32_t NotFoundAsFile(std::uint32_t error) {
    return error == kErrorPathNotFound ? kErrorFileNotFound : error;
}

// The cut between folder and name in an absolute path, either separator.
std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("\\/");
}

} // namespace

FileHandle DescriptorOf(const FolderHandle* folder) {
    return folder ? folder->fd_ : nullptr;
}

FolderHandle::~FolderHandle() {
    Close();
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : fd_(other.fd_) {
    other.fd_ = FileHandle(-1);
}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_;
        other.fd_ = FileHandle(-1);
    }
    return *this;
}

void FolderHandle::Close() noexcept {
    if (IsValidHandle(fd_))
        CloseHandle(static_cast<HANDLE>(fd_));
    fd_ = FileHandle(-1);
}

std::uint32_t GetEntryStatus(const FolderHandle* parent, const std::string& name,
                             EntryStatus& status) {
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(Native(parent), name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, handle))
        return error;
    nt::Identity identity;
    const std::uint32_t error = nt::IdentityOf(handle, identity);
    CloseHandle(handle);
    if (error != 0)
        return error;
    status = {};
    status.device = identity.volume;
    status.inode = identity.index;
    if (nt::IsReparse(identity)) {
        status.kind = EntryKind::Link;
        return 0;
    }
    status.kind = nt::IsFolder(identity) ? EntryKind::Folder : EntryKind::Other;
    // A folder's read-only attribute does not stop changes to it; what the ACL refuses shows
    // as access denied on the change itself.
    status.readOnly =
        status.kind != EntryKind::Folder && (identity.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    return 0;
}

std::uint32_t OpenFolder(const FolderHandle* parent, const std::string& name,
                         FolderHandle& folder) {
    folder.Close();
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(Native(parent), name, nt::kFolderAccess, FILE_OPEN,
                                      FILE_DIRECTORY_FILE, handle))
        return error;
    nt::Identity identity;
    if (const auto error = nt::IdentityOf(handle, identity)) {
        CloseHandle(handle);
        return error;
    }
    if (nt::IsReparse(identity)) {
        CloseHandle(handle);
        return kErrorStoppedOnSymlink;
    }
    folder.fd_ = handle;
    return 0;
}

std::uint32_t OpenParentOf(const std::string& path, FolderHandle& parent, std::string& name) {
    const auto cut = LastSeparator(path);
    if (cut == std::string::npos || cut + 1 == path.size())
        return kErrorInvalidParameter;
    name = path.substr(cut + 1);
    // "C:\x": the parent is the drive's root and keeps its separator.
    std::string above = path.substr(0, cut);
    if (above.size() == 2 && above[1] == ':')
        above += '\\';
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(nullptr, above, nt::kFolderAccess, FILE_OPEN,
                                      FILE_DIRECTORY_FILE, handle, true))
        return error;
    parent.fd_ = handle;
    return 0;
}

std::uint32_t CreateOwnFolder(const std::string& path, FolderHandle& folder) {
    folder.Close();
    std::string name;
    FolderHandle parent;
    if (const std::uint32_t error = OpenParentOf(path, parent, name); error != 0)
        return error;
    security::OwnerOnly descriptor;
    if (descriptor.Descriptor() == nullptr)
        return kErrorAccessDenied;
    // Made and opened in one call: no other user's folder can take the name in between, and
    // the protected DACL keeps everything the folder above would hand down out of it.
    HANDLE handle = nullptr;
    const std::uint32_t error =
        nt::OpenAt(Native(&parent), name, nt::kFolderAccess, FILE_CREATE, FILE_DIRECTORY_FILE,
                   handle, false, descriptor.Descriptor());
    if (error == kErrorFileExists)
        return kErrorAlreadyExists;
    if (error != 0)
        return error;
    folder.fd_ = handle;
    return 0;
}

std::uint32_t RenameNoReplace(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the system refuses a taken name in the same step.
    if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(), 0))
        return 0;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS ? kErrorAlreadyExists : error;
}

std::uint32_t DuplicateFolder(const FolderHandle& folder, FolderHandle& copy) {
    copy.Close();
    HANDLE handle = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(folder.fd_), GetCurrentProcess(),
                         &handle, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return GetLastError();
    copy.fd_ = handle;
    return 0;
}

std::uint32_t RemoveFolderIfSame(const std::string& path, const FolderHandle& folder) {
    nt::Identity own;
    if (const auto error = nt::IdentityOf(Native(&folder), own))
        return error;
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(nullptr, path, DELETE | FILE_READ_ATTRIBUTES, FILE_OPEN, 0, handle))
        return NotFoundAsFile(error);
    nt::Identity named;
    std::uint32_t error = nt::IdentityOf(handle, named);
    if (error == 0 && !(named == own))
        error = kErrorAccessDenied;
    if (error == 0)
        error = nt::DeleteOpened(handle);
    CloseHandle(handle);
    return error;
}

bool NameIsStable(const std::string& path, const FolderHandle& folder) {
    nt::Identity own;
    nt::Identity named;
    HANDLE handle = nullptr;
    if (nt::IdentityOf(Native(&folder), own) != 0 ||
        nt::OpenAt(nullptr, path, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, handle) != 0)
        return false;
    const bool same = nt::IdentityOf(handle, named) == 0 && named == own;
    CloseHandle(handle);
    if (!same)
        return false;
    std::string prefix = path;
    while (!prefix.empty() && (prefix.back() == '/' || prefix.back() == '\\'))
        prefix.pop_back();
    for (;;) {
        const auto cut = LastSeparator(prefix);
        if (cut == std::string::npos)
            return false;
        prefix.resize(cut);
        const bool root = prefix.size() == 2 && prefix[1] == ':';
        const std::string above = root ? prefix + '\\' : prefix;
        if (nt::OpenAt(nullptr, above, nt::kFolderAccess, FILE_OPEN, FILE_DIRECTORY_FILE, handle) !=
            0)
            return false;
        nt::Identity identity;
        const bool safe = nt::IdentityOf(handle, identity) == 0 && !nt::IsReparse(identity) &&
                          !security::OthersMayChange(handle, false);
        CloseHandle(handle);
        if (!safe)
            return false;
        if (root)
            return true;
    }
}

std::string PathThrough(const FolderHandle& folder, const std::string& name) {
    // No descriptor paths here: the folder's present name, which is as good while no other
    // user can rename it (its DACL is the run's own).
    std::string path = nt::PathOfHandle(Native(&folder));
    if (!name.empty())
        path += "\\" + name;
    return path;
}

std::uint32_t ListFolder(const FolderHandle& folder, std::vector<std::string>& names) {
    names.clear();
    alignas(8) unsigned char buffer[16384];
    auto kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(Native(&folder), kind, buffer, sizeof buffer)) {
            const DWORD error = GetLastError();
            return error == ERROR_NO_MORE_FILES ? 0 : error;
        }
        kind = FileIdBothDirectoryInfo;
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            const std::wstring_view wide(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (wide != L"." && wide != L"..")
                names.push_back(Narrow(wide));
            if (entry->NextEntryOffset == 0)
                break;
            at += entry->NextEntryOffset;
        }
    }
}

std::uint32_t MakeWritable(const FolderHandle* parent, const std::string& name) {
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(Native(parent), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_OPEN, 0, handle))
        return error;
    FILE_BASIC_INFO basic{};
    std::uint32_t error = 0;
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
        error = GetLastError();
    } else if ((basic.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        error = kErrorNotSupported; // a link is refused, not changed
    } else if ((basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        // The read-only attribute is what stands for a missing write bit; the owner keeps the
        // right to change the DACL in any case.
        const DWORD attributes = basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
        basic = {};
        basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
        if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic))
            error = GetLastError();
    }
    CloseHandle(handle);
    return error;
}

std::uint32_t DeleteEntry(const FolderHandle* parent, const std::string& name) {
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(Native(parent), name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                       FILE_OPEN, 0, handle))
        return error;
    nt::Identity identity;
    std::uint32_t error = nt::IdentityOf(handle, identity);
    if (error == 0 && nt::IsFolder(identity) && !nt::IsReparse(identity))
        error = Win32FromErrno(EISDIR);
    if (error == 0)
        error = nt::DeleteOpened(handle);
    CloseHandle(handle);
    return error;
}

std::uint32_t RemoveFolder(const FolderHandle* parent, const std::string& name) {
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(Native(parent), name, DELETE | FILE_READ_ATTRIBUTES,
                                      FILE_OPEN, FILE_DIRECTORY_FILE, handle))
        return error;
    nt::Identity identity;
    std::uint32_t error = nt::IdentityOf(handle, identity);
    if (error == 0 && nt::IsReparse(identity))
        error = Win32FromErrno(ENOTDIR);
    if (error == 0)
        error = nt::DeleteOpened(handle);
    CloseHandle(handle);
    return error;
}

} // namespace cptlib::platform
