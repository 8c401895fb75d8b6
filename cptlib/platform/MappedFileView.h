#pragma once
// A view of part of a file. A read-only view is a copy read with pread: a read error then comes
// back as an error, where a mapping would kill the process with SIGBUS when the page is touched.
// Writable and copy-on-write views are mappings.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace cptlib::platform {

enum class PageProtection : std::uint32_t { ReadOnly = 0x02, ReadWrite = 0x04, WriteCopy = 0x08 };
enum class ViewAccess : std::uint32_t { Copy = 0x01, Write = 0x02, Read = 0x04 };

class MappedFileView {
public:
    MappedFileView() = default;
    ~MappedFileView() { Release(); }
    MappedFileView(const MappedFileView&) = delete;
    MappedFileView& operator=(const MappedFileView&) = delete;
    MappedFileView(MappedFileView&& other) noexcept;
    MappedFileView& operator=(MappedFileView&& other) noexcept;

    // Maps `requestedSize` bytes at `offset`; a requested size of 0 maps from the offset to the
    // end of the file (low 32 bits of both). A writable mapping grows a shorter file to the
    // requested size; a read-only one refuses it (kErrorHandleEof), since touching bytes past
    // the end of a file would kill the process. Any offset is accepted. Releases a previous view.
    HRESULT Map(const FileDescriptor& file, std::uint32_t requestedSize, std::uint64_t offset = 0,
                PageProtection protection = PageProtection::ReadOnly,
                ViewAccess access = ViewAccess::Read);

    // Unmaps or frees; failures are ignored.
    void Release() noexcept;

    bool IsMapped() const noexcept { return view_ != nullptr; }
    const std::uint8_t* data() const noexcept { return view_; }
    std::uint8_t* data() noexcept { return view_; }
    std::uint32_t size() const noexcept { return viewSize_; }
    std::uint64_t offset() const noexcept { return offset_; }
    ViewAccess access() const noexcept { return access_; }
    std::span<const std::uint8_t> bytes() const noexcept { return {view_, viewSize_}; }

private:
    HRESULT ReadCopy(const FileDescriptor& file, std::uint32_t viewSize, std::uint64_t offset);

    std::uint8_t* view_ = nullptr;
    std::uint32_t viewSize_ = 0;
    std::unique_ptr<std::uint8_t[]> copy_; // a read-only view's bytes
    void* mapping_ = nullptr;              // page-aligned start of the mapping
    std::size_t mappingSize_ = 0;
    std::uint64_t offset_ = 0;
    ViewAccess access_ = ViewAccess::Read;
};

} // namespace cptlib::platform
