#include "format/ReadTap.h"

#include "cptlib/platform/FileIo.h"

#include <atomic>

namespace sfx {

namespace {

std::atomic<IReadListener*> listener{nullptr};

} // namespace

std::uint32_t TappedReadAt(const cptlib::platform::FileDescriptor& file, std::uint64_t offset,
                           void* buffer, std::size_t length, std::size_t& done) {
    const std::uint32_t error = cptlib::platform::ReadFileAt(file, offset, buffer, length, done);
    if (IReadListener* current = listener.load(std::memory_order_acquire);
        current != nullptr && error == 0 && done != 0)
        current->BytesRead(offset, static_cast<const std::uint8_t*>(buffer), done);
    return error;
}

ScopedReadListener::ScopedReadListener(IReadListener* l) {
    listener.store(l, std::memory_order_release);
}

ScopedReadListener::~ScopedReadListener() {
    listener.store(nullptr, std::memory_order_release);
}

} // namespace sfx
