#pragma once
// File handles of the platform: an owning descriptor, opening with the retries the launcher
// expects of a file that another process may hold, and size queries.

#include "cptlib/SystemError.h"
#include "cptlib/platform/Handles.h"

#include <cstdint>
#include <filesystem>
#include <functional>

namespace cptlib::platform {

// Owns a file handle of the system (a descriptor on POSIX); -1 means none.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(FileHandle fd) noexcept : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    FileHandle get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return IsValidHandle(fd_); }
    FileHandle release() noexcept {
        const FileHandle fd = fd_;
        fd_ = FileHandle(-1);
        return fd;
    }
    // Closes the current descriptor (errors ignored) and takes `fd`.
    void reset(FileHandle fd = FileHandle(-1)) noexcept;

private:
    FileHandle fd_ = FileHandle(-1);
};

enum class FileAccess : std::uint32_t { Read = 1, Write = 2, ReadWrite = 3 };

// Accepted for the contract's sake; POSIX has no mandatory share modes.
enum class FileShare : std::uint32_t { None = 0, Read = 1, Write = 2, Delete = 4 };

enum class CreationDisposition {
    CreateNew,        // fails when the file exists
    CreateAlways,     // creates or truncates
    OpenExisting,     // fails when the file does not exist
    OpenAlways,       // opens or creates
    TruncateExisting, // opens and truncates an existing file
};

// Opens `path`. Up to five attempts with 250 ms between them; only a sharing violation
// (0x80070020) is retried, any other failure is returned at once. A folder is refused with
// access denied, as the system does for a file open.
HRESULT OpenFileForRead(FileDescriptor& file, const std::filesystem::path& path,
                        FileAccess access = FileAccess::Read, FileShare share = FileShare::Read,
                        CreationDisposition disposition = CreationDisposition::OpenExisting);

// Opens `path` for reading as a data file: without waiting for a writer (a FIFO would block
// the open), then refused unless it is a regular file; a folder with access denied, anything
// else with kErrorInvalidData.
HRESULT OpenRegularFileForRead(FileDescriptor& file, const std::filesystem::path& path);

// The longest symbolic link target the system can follow, in bytes.
std::uint64_t MaxLinkTargetSize();

// The retry rule of OpenFileForRead: calls `attempt` until it succeeds, fails with something
// other than a sharing violation, or has run five times; `pause` runs between attempts.
HRESULT RetryOnSharingViolation(const std::function<HRESULT()>& attempt,
                                const std::function<void()>& pause);

// Size of an open file.
HRESULT QueryFileSize(const FileDescriptor& file, std::uint64_t& size);
// Size of the file a path names, following links.
HRESULT QueryFileSize(const std::filesystem::path& path, std::uint64_t& size);

// Whether `path` names a folder, following links. Returns a Win32 error number, 0 on success;
// a path that names nothing fails with kErrorFileNotFound or kErrorPathNotFound.
std::uint32_t QueryIsFolder(const std::filesystem::path& path, bool& isFolder);

} // namespace cptlib::platform
