#include "cptlib/platform/MappedFileView.h"

#include "cptlib/platform/FileIo.h"

#include <windows.h>

#include <algorithm>
#include <new>
#include <utility>

// A read-only view is a copy here too: a read error in a mapped page would raise an exception
// where the caller expects an error.
namespace cptlib::platform {

MappedFileView::MappedFileView(MappedFileView&& other) noexcept
    : view_(std::exchange(other.view_, nullptr)), viewSize_(std::exchange(other.viewSize_, 0)),
      copy_(std::move(other.copy_)), mapping_(std::exchange(other.mapping_, nullptr)),
      mappingSize_(std::exchange(other.mappingSize_, 0)), offset_(other.offset_),
      access_(other.access_) {}

MappedFileView& MappedFileView::operator=(MappedFileView&& other) noexcept {
    if (this != &other) {
        Release();
        view_ = std::exchange(other.view_, nullptr);
        viewSize_ = std::exchange(other.viewSize_, 0);
        copy_ = std::move(other.copy_);
        mapping_ = std::exchange(other.mapping_, nullptr);
        mappingSize_ = std::exchange(other.mappingSize_, 0);
        offset_ = other.offset_;
        access_ = other.access_;
    }
    return *this;
}

void MappedFileView::Release() noexcept {
    if (mapping_ != nullptr)
        UnmapViewOfFile(mapping_);
    mapping_ = nullptr;
    mappingSize_ = 0;
    copy_.reset();
    view_ = nullptr;
    viewSize_ = 0;
}

HRESULT MappedFileView::Map(const FileDescriptor& file, std::uint32_t requestedSize,
                            std::uint64_t offset, PageProtection protection, ViewAccess access) {
    Release();
    const auto handle = static_cast<HANDLE>(file.get());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size))
        return HResultFromWin32(GetLastError());
    auto fileSize = static_cast<std::uint64_t>(size.QuadPart);

    const bool writable = protection == PageProtection::ReadWrite;
    if (fileSize < requestedSize && !writable)
        return HResultFromWin32(kErrorHandleEof);
    const std::uint32_t viewSize = requestedSize != 0 ? requestedSize
                                                      : static_cast<std::uint32_t>(fileSize) -
                                                            static_cast<std::uint32_t>(offset);
    if (fileSize >= requestedSize &&
        (viewSize == 0 || offset > fileSize || fileSize - offset < viewSize))
        return HResultFromWin32(kErrorHandleEof);

    if (access == ViewAccess::Read && !writable)
        return ReadCopy(file, viewSize, offset);
    if (access == ViewAccess::Write && !writable)
        return HResultFromWin32(kErrorAccessDenied);

    // A writable mapping of a shorter file grows it, as the system does for a larger mapping.
    const std::uint64_t mappingEnd = std::max<std::uint64_t>(fileSize, offset + viewSize);
    const DWORD pageProtection =
        writable ? PAGE_READWRITE : (access == ViewAccess::Copy ? PAGE_WRITECOPY : PAGE_READONLY);
    const HANDLE section =
        CreateFileMappingW(handle, nullptr, pageProtection, static_cast<DWORD>(mappingEnd >> 32),
                           static_cast<DWORD>(mappingEnd), nullptr);
    if (section == nullptr)
        return HResultFromWin32(GetLastError());

    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const std::uint64_t granularity = info.dwAllocationGranularity;
    const std::uint64_t alignedOffset = offset - offset % granularity;
    const auto lead = static_cast<std::size_t>(offset - alignedOffset);
    const std::size_t length = lead + viewSize;
    const DWORD desired = access == ViewAccess::Copy    ? FILE_MAP_COPY
                          : access == ViewAccess::Write ? FILE_MAP_WRITE
                                                        : FILE_MAP_READ;
    void* mapping = MapViewOfFile(section, desired, static_cast<DWORD>(alignedOffset >> 32),
                                  static_cast<DWORD>(alignedOffset), length);
    const DWORD error = GetLastError();
    CloseHandle(section); // the view keeps the section
    if (mapping == nullptr)
        return HResultFromWin32(error);

    mapping_ = mapping;
    mappingSize_ = length;
    view_ = static_cast<std::uint8_t*>(mapping) + lead;
    viewSize_ = viewSize;
    offset_ = offset;
    access_ = access;
    return kHrOk;
}

HRESULT MappedFileView::ReadCopy(const FileDescriptor& file, std::uint32_t viewSize,
                                 std::uint64_t offset) {
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[viewSize]);
    if (!copy)
        return kHrOutOfMemory;
    std::size_t read = 0;
    if (const std::uint32_t error = ReadFileAt(file, offset, copy.get(), viewSize, read);
        error != kErrorSuccess)
        return HResultFromWin32(error);
    if (read != viewSize)
        return HResultFromWin32(kErrorHandleEof); // shortened meanwhile
    copy_ = std::move(copy);
    view_ = copy_.get();
    viewSize_ = viewSize;
    offset_ = offset;
    access_ = ViewAccess::Read;
    return kHrOk;
}

} // namespace cptlib::platform
