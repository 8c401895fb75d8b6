#include "cptlib/platform/TargetFolder.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/NtFiles.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace cptlib::platform {

namespace {

// NtSetInformationFile's link request: the new name resolved in RootDirectory.
struct LinkRequest {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[1];
};
constexpr int kFileLinkInformation = 11;

HANDLE Native(FileHandle handle) {
    return static_cast<HANDLE>(handle);
}

std::uint32_t Duplicate(HANDLE handle, FileDescriptor& copy) {
    HANDLE made = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &made, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return GetLastError();
    copy.reset(made);
    return 0;
}

// Opens `name` in `folder` as itself and reads what it is; reparse points count as links.
std::uint32_t Inspect(HANDLE folder, const std::string& name, TargetEntry& entry) {
    entry = TargetEntry::None;
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(folder, name, FILE_READ_ATTRIBUTES, FILE_OPEN, 0, handle))
        return error;
    nt::Identity identity;
    const std::uint32_t error = nt::IdentityOf(handle, identity);
    CloseHandle(handle);
    if (error != 0)
        return error;
    entry = nt::IsReparse(identity)  ? TargetEntry::Link
            : nt::IsFolder(identity) ? TargetEntry::Folder
                                     : TargetEntry::File;
    return 0;
}

// Opens the folder `name` in `parent`, never through a reparse point.
std::uint32_t OpenSubfolder(HANDLE parent, const std::string& name, HANDLE& folder) {
    if (const auto error =
            nt::OpenAt(parent, name, nt::kFolderAccess, FILE_OPEN, FILE_DIRECTORY_FILE, folder))
        return error == kErrorDirectory ? kErrorPathNotFound : error;
    nt::Identity identity;
    const std::uint32_t error = nt::IdentityOf(folder, identity);
    if (error != 0 || nt::IsReparse(identity)) {
        CloseHandle(folder);
        folder = nullptr;
        return error != 0 ? error : kErrorStoppedOnSymlink;
    }
    return 0;
}

bool Missing(std::uint32_t error) {
    return error == kErrorFileNotFound || error == kErrorPathNotFound;
}

std::uint32_t CopyOpened(HANDLE source, HANDLE target) {
    std::vector<std::uint8_t> buffer(1 << 16);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr))
            return GetLastError();
        if (got == 0)
            return 0;
        DWORD written = 0;
        if (!WriteFile(target, buffer.data(), got, &written, nullptr) || written != got)
            return GetLastError();
    }
}

} // namespace

std::uint32_t TargetFolder::Open(const std::string& folder) {
    cachedParent_.clear();
    cached_.reset();
    root_.reset();
    HANDLE handle = nullptr;
    if (const auto error = nt::OpenAt(nullptr, folder, nt::kFolderAccess, FILE_OPEN,
                                      FILE_DIRECTORY_FILE, handle, true))
        return error;
    root_.reset(handle);
    return 0;
}

std::uint32_t TargetFolder::Open(const FolderHandle& folder) {
    cachedParent_.clear();
    cached_.reset();
    root_.reset();
    return Duplicate(Native(DescriptorOf(&folder)), root_);
}

std::uint32_t TargetFolder::Walk(NameParts folders, bool create, FileDescriptor& folder,
                                 FileHandle start) const {
    FileDescriptor current;
    if (const auto error = Duplicate(Native(IsValidHandle(start) ? start : root_.get()), current))
        return error;
    for (const std::string& part : folders) {
        HANDLE next = nullptr;
        std::uint32_t error = OpenSubfolder(Native(current.get()), part, next);
        if (Missing(error) && create) {
            error = nt::OpenAt(Native(current.get()), part, nt::kFolderAccess, FILE_CREATE,
                               FILE_DIRECTORY_FILE, next);
            if (error == kErrorAlreadyExists || error == kErrorFileExists)
                error = OpenSubfolder(Native(current.get()), part, next);
        }
        if (error != 0)
            return error;
        current.reset(next);
    }
    folder = std::move(current);
    return 0;
}

std::uint32_t TargetFolder::Lookup(NameParts name, TargetEntry& entry) {
    entry = TargetEntry::None;
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return Missing(error) ? 0 : error;
    const std::uint32_t error = Inspect(Native(folder), name.back(), entry);
    return Missing(error) ? 0 : error;
}

std::uint32_t TargetFolder::MakeFolder(NameParts name, std::uint32_t /*mode*/) {
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    HANDLE made = nullptr;
    // Modes have no Windows meaning: the new folder inherits the ACL of the one it is in.
    std::uint32_t error = nt::OpenAt(Native(folder), name.back(), FILE_READ_ATTRIBUTES, FILE_CREATE,
                                     FILE_DIRECTORY_FILE, made);
    if (error == 0) {
        CloseHandle(made);
        return 0;
    }
    if (error != kErrorAlreadyExists && error != kErrorFileExists)
        return error;
    TargetEntry entry = TargetEntry::None;
    if ((error = Inspect(Native(folder), name.back(), entry)) != 0)
        return error;
    if (entry == TargetEntry::Folder)
        return 0;
    return entry == TargetEntry::Link ? kErrorStoppedOnSymlink : kErrorAlreadyExists;
}

std::uint32_t TargetFolder::CreateNewFile(NameParts name, std::uint32_t /*mode*/,
                                          FileDescriptor& file) {
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    HANDLE handle = nullptr;
    // FILE_CREATE fails on any existing entry, a link included, so nothing is written through
    // one.
    const std::uint32_t error =
        nt::OpenAt(Native(folder), name.back(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_CREATE,
                   FILE_NON_DIRECTORY_FILE, handle);
    if (error != 0)
        return error == kErrorAlreadyExists ? kErrorFileExists : error;
    file.reset(handle);
    return 0;
}

std::uint32_t TargetFolder::Remove(NameParts name) {
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return error;
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(Native(folder), name.back(),
                       DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0, handle))
        return error;
    nt::Identity identity;
    std::uint32_t error = nt::IdentityOf(handle, identity);
    if (error == 0 && nt::IsFolder(identity) && !nt::IsReparse(identity))
        error = kErrorAccessDenied; // never a folder
    if (error == 0)
        error = nt::DeleteOpened(handle);
    CloseHandle(handle);
    return error;
}

std::uint32_t TargetFolder::OpenParentFolder(NameParts name, FileDescriptor& folder) {
    FileHandle parent = nullptr;
    if (const std::uint32_t error = OpenParent(name, false, parent))
        return error;
    return Duplicate(Native(parent), folder);
}

std::uint32_t TargetFolder::MakeSymlink(NameParts name, const std::string& target) {
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, true, folder))
        return error;
    // The link API takes a path: the parent's present name, which the walk has just opened
    // without passing any link.
    const std::string at = nt::PathOfHandle(Native(folder));
    if (at.empty())
        return GetLastError();
    std::wstring wideTarget = Widen(target);
    std::replace(wideTarget.begin(), wideTarget.end(), L'/', L'\\');
    const std::filesystem::path link = std::filesystem::path(Widen(at)) / Widen(name.back());
    DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE;
    std::error_code ec;
    const std::filesystem::path resolved = std::filesystem::path(wideTarget).is_absolute()
                                               ? std::filesystem::path(wideTarget)
                                               : link.parent_path() / wideTarget;
    if (std::filesystem::is_directory(resolved, ec))
        flags |= SYMBOLIC_LINK_FLAG_DIRECTORY;
    if (CreateSymbolicLinkW(link.c_str(), wideTarget.c_str(), flags))
        return 0;
    return GetLastError();
}

std::uint32_t TargetFolder::MakeHardLink(NameParts name, NameParts existing) {
    if (existing.empty())
        return kErrorInvalidParameter;
    FileDescriptor from;
    if (const std::uint32_t error = Walk(existing.first(existing.size() - 1), false, from))
        return error;
    FileHandle to = nullptr;
    if (const std::uint32_t error = OpenParent(name, true, to))
        return error;
    if (!nt::IsPlainName(name.back()))
        return kErrorInvalidName;
    HANDLE source = nullptr;
    if (const auto error =
            nt::OpenAt(Native(from.get()), existing.back(), GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                       FILE_OPEN, FILE_NON_DIRECTORY_FILE, source))
        return error;
    FileDescriptor sourceFile(source);
    nt::Identity identity;
    if (const auto error = nt::IdentityOf(source, identity))
        return error;
    if (nt::IsReparse(identity))
        return kErrorStoppedOnSymlink;
    const std::wstring wide = Widen(name.back());
    std::vector<unsigned char> buffer(sizeof(LinkRequest) + wide.size() * sizeof(wchar_t));
    auto* request = reinterpret_cast<LinkRequest*>(buffer.data());
    request->replaceIfExists = FALSE;
    request->rootDirectory = Native(to);
    request->fileNameLength = static_cast<ULONG>(wide.size() * sizeof(wchar_t));
    std::copy(wide.begin(), wide.end(), request->fileName);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status =
        NtSetInformationFile(source, &io, request, static_cast<ULONG>(buffer.size()),
                             static_cast<FILE_INFORMATION_CLASS>(kFileLinkInformation));
    if (status >= 0)
        return 0;
    const std::uint32_t error = nt::FromStatus(status);
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION &&
        error != ERROR_TOO_MANY_LINKS && error != ERROR_NOT_SAME_DEVICE &&
        error != ERROR_ACCESS_DENIED)
        return error;
    // A copy where the file system has no second names.
    FileDescriptor target;
    if (const auto failure = CreateNewFile(name, 0, target))
        return failure;
    if (const auto failure = CopyOpened(source, Native(target.get())))
        return failure;
    return FinishFile(target, std::nullopt);
}

std::uint32_t TargetFolder::SetFolderMode(NameParts name, std::uint32_t /*mode*/) {
    FileHandle parent = nullptr;
    if (const std::uint32_t error = OpenParent(name, false, parent))
        return error;
    // Folders keep the ACL they inherited; only the refusal of a link is left to do.
    HANDLE folder = nullptr;
    const std::uint32_t error = OpenSubfolder(Native(parent), name.back(), folder);
    if (folder != nullptr)
        CloseHandle(folder);
    return error;
}

std::uint32_t TargetFolder::TouchNow(NameParts name) {
    FileHandle folder = nullptr;
    if (const std::uint32_t error = OpenParent(name, false, folder))
        return error;
    HANDLE handle = nullptr;
    if (const auto error =
            nt::OpenAt(Native(folder), name.back(), FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0, handle))
        return error;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::uint32_t error = SetFileTime(handle, nullptr, nullptr, &now) ? 0 : GetLastError();
    CloseHandle(handle);
    return error;
}

std::uint32_t CreateFolderTree(const std::string& path) {
    std::wstring wide = Widen(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    const std::size_t rootLength = std::filesystem::path(wide).root_path().wstring().size();
    std::vector<std::size_t> ends;
    for (std::size_t i = rootLength; i < wide.size(); ++i) {
        if (wide[i] != L'\\' && (i + 1 == wide.size() || wide[i + 1] == L'\\'))
            ends.push_back(i + 1);
    }
    if (ends.empty())
        return kErrorPathNotFound;
    for (std::size_t k = 0; k < ends.size(); ++k) {
        const std::wstring prefix = wide.substr(0, ends[k]);
        if (CreateDirectoryW(prefix.c_str(), nullptr))
            continue;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED)
            return error;
        const DWORD attributes = GetFileAttributesW(prefix.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return error;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            return k + 1 == ends.size() ? kErrorFileExists : kErrorPathNotFound;
    }
    return 0;
}

std::uint32_t CurrentUmask() {
    // No creation mask on Windows: new entries take the ACL their folder hands down.
    return 0;
}

std::uint32_t WriteFully(const FileDescriptor& file, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(Native(file.get()), data, chunk, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return kErrorDiskFull;
        data += written;
        size -= written;
    }
    return 0;
}

std::uint32_t FinishFile(FileDescriptor& file, std::optional<std::uint32_t> mode) {
    const HANDLE handle = Native(file.get());
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    SetFileTime(handle, nullptr, nullptr, &now);
    // A mode without the owner's write bit is what the read-only attribute stands for.
    if (mode && (*mode & 0200) == 0) {
        FILE_BASIC_INFO basic{};
        if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic)) {
            const DWORD attributes =
                (basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_READONLY;
            basic = {}; // zero times: left as they are
            basic.FileAttributes = attributes;
            SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic);
        }
    }
    return CloseHandle(file.release()) ? 0 : GetLastError();
}

} // namespace cptlib::platform
