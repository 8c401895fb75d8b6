#pragma once
// The folder an archive is extracted into. Names are relative to it and given as their parts
// (no empty part, no "." or ".."). No symbolic link below the folder is ever followed, neither
// on the way to a name nor at the name itself, so nothing can land outside. Results are Win32
// error numbers (0 on success).

#include "cptlib/platform/File.h"
#include "cptlib/platform/FolderTree.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cptlib::platform {

// A symbolic link stands where a folder is needed.
constexpr std::uint32_t kErrorStoppedOnSymlink = 681;

enum class TargetEntry { None, Folder, File, Link, Other };

using NameParts = std::span<const std::string>;

class TargetFolder {
public:
    TargetFolder() = default;
    TargetFolder(const TargetFolder&) = delete;
    TargetFolder& operator=(const TargetFolder&) = delete;

    // Opens an existing folder (symbolic links in its own path are followed).
    std::uint32_t Open(const std::string& folder);
    // Works in the folder that the handle holds open, wherever its name has gone.
    std::uint32_t Open(const FolderHandle& folder);

    // What stands at the name; None when it, or a folder on its way, is missing.
    std::uint32_t Lookup(NameParts name, TargetEntry& entry);

    // Creates the folder and the missing ones on its way; an existing folder is fine, anything
    // else in its place is kErrorAlreadyExists (a link: kErrorStoppedOnSymlink).
    std::uint32_t MakeFolder(NameParts name, std::uint32_t mode);

    // Creates a new file for writing, and the folders on its way; kErrorFileExists when
    // something has the name already.
    std::uint32_t CreateNewFile(NameParts name, std::uint32_t mode, FileDescriptor& file);

    // Removes a file or a link, never a folder.
    std::uint32_t Remove(NameParts name);

    // A descriptor of the folder that holds the name, for work on the name later on.
    std::uint32_t OpenParentFolder(NameParts name, FileDescriptor& folder);

    std::uint32_t MakeSymlink(NameParts name, const std::string& target);

    // A second name for an existing file; a copy of it where the file system refuses the link.
    std::uint32_t MakeHardLink(NameParts name, NameParts existing);

    // The permissions of a folder (a link is refused, not followed).
    std::uint32_t SetFolderMode(NameParts name, std::uint32_t mode);

    // Sets the last-write time to now; of a link itself, not of its target.
    std::uint32_t TouchNow(NameParts name);

private:
    // From `start` (an open folder below the root), else from the root.
    std::uint32_t Walk(NameParts folders, bool create, FileDescriptor& folder,
                       FileHandle start = FileHandle(-1)) const;
    // The folder that holds the name, kept open for the next name in the same folder.
    std::uint32_t OpenParent(NameParts name, bool create, FileHandle& folder);

    FileDescriptor root_;
    std::vector<std::string> cachedParent_;
    FileDescriptor cached_;
};

// Creates a folder and the missing ones above it, with the permissions of the umask; the Win32
// number of the failure (kErrorFileExists when a file has the folder's name).
std::uint32_t CreateFolderTree(const std::string& path);

// The process's file-mode creation mask, read without changing it.
std::uint32_t CurrentUmask();

std::uint32_t WriteFully(const FileDescriptor& file, const std::uint8_t* data, std::size_t size);

// Gives a written file its permissions (when given; failures ignored) and the current time as
// its last-write time, then closes it; a failing close (delayed write errors) is returned.
std::uint32_t FinishFile(FileDescriptor& file, std::optional<std::uint32_t> mode);

} // namespace cptlib::platform
