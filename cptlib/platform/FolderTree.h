#pragma once
// Folder-tree primitives for deleting a tree without path races: every call works relative to an
// open folder and never follows a symbolic link in the name it is given. Results are Win32 error
// numbers (0 on success).

#include "cptlib/platform/Handles.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cptlib::platform {

enum class EntryKind { Folder, Link, Other };

struct FolderRefusal;

struct EntryStatus {
    std::uint64_t device = 0, inode = 0; // which entry it is
    EntryKind kind = EntryKind::Other;
    bool readOnly = false;        // the owner may not write it (never set for a link)
    bool ownerRestricted = false; // a folder the owner may not list, enter or change
};

// An open folder that anchors the calls below.
class FolderHandle {
public:
    FolderHandle() = default;
    ~FolderHandle();
    FolderHandle(FolderHandle&& other) noexcept;
    FolderHandle& operator=(FolderHandle&& other) noexcept;
    FolderHandle(const FolderHandle&) = delete;
    FolderHandle& operator=(const FolderHandle&) = delete;

    bool IsOpen() const { return IsValidHandle(fd_); }
    void Close() noexcept;

private:
    friend FileHandle DescriptorOf(const FolderHandle* folder);
    friend std::uint32_t OpenParentOf(const std::string& path, FolderHandle& parent,
                                      std::string& name);
    friend std::uint32_t CreateOwnFolder(const std::string& path, FolderHandle& folder);
    friend std::uint32_t DuplicateFolder(const FolderHandle& folder, FolderHandle& copy);
    friend std::uint32_t RemoveFolderIfSame(const std::string& path, const FolderHandle& folder);
    friend std::uint32_t OpenFolder(const FolderHandle* parent, const std::string& name,
                                    FolderHandle& folder);
    friend bool OpenFolderSafely(const std::string& path, FolderHandle& folder,
                                 FolderRefusal& refusal);
    FileHandle fd_ = FileHandle(-1);
};

// The descriptor of an open folder (AT_FDCWD for null; on Windows a null handle).
FileHandle DescriptorOf(const FolderHandle* folder);

// Makes a new folder (mode 0700) at an absolute path and opens it, checked to be a folder of
// this user, so that later work cannot be redirected by a change of the name.
// kErrorAlreadyExists when the name is taken, or when the new folder was gone before it could
// be opened (another process took the name meanwhile).
std::uint32_t CreateOwnFolder(const std::string& path, FolderHandle& folder);
// Renames an entry between absolute paths, never over an existing entry: kErrorAlreadyExists
// when `to` is taken.
std::uint32_t RenameNoReplace(const std::string& from, const std::string& to);
// A second handle on the same folder.
std::uint32_t DuplicateFolder(const FolderHandle& folder, FolderHandle& copy);
// Removes the empty folder at an absolute path only while it is still `folder`;
// kErrorFileNotFound when it is gone, kErrorAccessDenied when another entry has its name.
std::uint32_t RemoveFolderIfSame(const std::string& path, const FolderHandle& folder);
// A path to `name` in the folder that resolves through the open descriptor, whatever the
// folder is called meanwhile; valid while the handle stays open.
std::string PathThrough(const FolderHandle& folder, const std::string& name);

// Whether the absolute `path` still names `folder` and no other user can rename it or a folder
// above it (each is this user's or root's, and others may not write it unless it is sticky), so
// that the name can safely stand for the descriptor.
bool NameIsStable(const std::string& path, const FolderHandle& folder);

// In each call `parent` null means `name` is an absolute path.
std::uint32_t GetEntryStatus(const FolderHandle* parent, const std::string& name,
                             EntryStatus& status);
std::uint32_t OpenFolder(const FolderHandle* parent, const std::string& name, FolderHandle& folder);
// The entries' names without "." and "..".
std::uint32_t ListFolder(const FolderHandle& folder, std::vector<std::string>& names);
// Gives the owner write access to a file, and full access to a folder.
std::uint32_t MakeWritable(const FolderHandle* parent, const std::string& name);
// Removes a file or a link (the link itself).
std::uint32_t DeleteEntry(const FolderHandle* parent, const std::string& name);
// Removes an empty folder.
std::uint32_t RemoveFolder(const FolderHandle* parent, const std::string& name);

} // namespace cptlib::platform
