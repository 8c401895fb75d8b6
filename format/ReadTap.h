#pragma once
// The archive readers' reads of the launcher file, shown to one listener: the launcher checks
// its file's digest on the bytes that extraction reads anyway.

#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>

namespace sfx {

class IReadListener {
public:
    virtual ~IReadListener() = default;
    // `bytes` were read at file offset `offset`; called from any reading thread.
    virtual void BytesRead(std::uint64_t offset, const std::uint8_t* bytes, std::size_t size) = 0;
};

// cptlib::platform::ReadFileAt, and the bytes read to the listener, if any.
std::uint32_t TappedReadAt(const cptlib::platform::FileDescriptor& file, std::uint64_t offset,
                           void* buffer, std::size_t length, std::size_t& done);

// Installs `listener` (null: none) while it lives; one at a time.
class ScopedReadListener {
public:
    explicit ScopedReadListener(IReadListener* listener);
    ~ScopedReadListener();
    ScopedReadListener(const ScopedReadListener&) = delete;
    ScopedReadListener& operator=(const ScopedReadListener&) = delete;
};

} // namespace sfx
