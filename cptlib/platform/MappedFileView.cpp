#include "cptlib/platform/MappedFileView.h"

#include <cerrno>
#include <new>
#include <utility>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

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
        ::munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
    mappingSize_ = 0;
    copy_.reset();
    view_ = nullptr;
    viewSize_ = 0;
}

HRESULT MappedFileView::Map(const FileDescriptor& file, std::uint32_t requestedSize,
                            std::uint64_t offset, PageProtection protection, ViewAccess access) {
    Release();
    struct stat st {};
    if (::fstat(file.get(), &st) != 0)
        return HResultFromErrno(errno);
    std::uint64_t fileSize = static_cast<std::uint64_t>(st.st_size);

    const bool writable = protection == PageProtection::ReadWrite;
    if (fileSize < requestedSize) {
        if (!writable)
            return HResultFromWin32(kErrorHandleEof);
        if (::ftruncate(file.get(), static_cast<off_t>(requestedSize)) != 0)
            return HResultFromErrno(errno);
        fileSize = requestedSize;
    }

    const std::uint32_t viewSize = requestedSize != 0 ? requestedSize
                                                      : static_cast<std::uint32_t>(fileSize) -
                                                            static_cast<std::uint32_t>(offset);
    if (viewSize == 0 || offset > fileSize || fileSize - offset < viewSize)
        return HResultFromWin32(kErrorHandleEof);

    if (access == ViewAccess::Read && !writable)
        return ReadCopy(file, viewSize, offset);

    int prot = PROT_READ;
    int flags = MAP_SHARED;
    if (access == ViewAccess::Copy) {
        prot |= PROT_WRITE;
        flags = MAP_PRIVATE;
    } else if (access == ViewAccess::Write) {
        if (!writable)
            return HResultFromWin32(kErrorAccessDenied);
        prot |= PROT_WRITE;
    }

    const auto page = static_cast<std::uint64_t>(::sysconf(_SC_PAGESIZE));
    const std::uint64_t alignedOffset = offset - offset % page;
    const auto lead = static_cast<std::size_t>(offset - alignedOffset);
    const std::size_t length = lead + viewSize;
    void* mapping =
        ::mmap(nullptr, length, prot, flags, file.get(), static_cast<off_t>(alignedOffset));
    if (mapping == MAP_FAILED)
        return HResultFromErrno(errno);

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
    std::size_t done = 0;
    while (done < viewSize) {
        const ssize_t got = ::pread(file.get(), copy.get() + done, viewSize - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return HResultFromErrno(errno);
        if (got == 0)
            return HResultFromWin32(kErrorHandleEof); // shortened meanwhile
        done += static_cast<std::size_t>(got);
    }
    copy_ = std::move(copy);
    view_ = copy_.get();
    viewSize_ = viewSize;
    offset_ = offset;
    access_ = ViewAccess::Read;
    return kHrOk;
}

} // namespace cptlib::platform
