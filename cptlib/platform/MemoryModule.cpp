#include "cptlib/platform/MemoryModule.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <dlfcn.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace cptlib::platform {

namespace {

void WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            CPT_THROW(SystemError(ErrnoToWin32Error(n < 0 ? errno : ENOSPC),
                                  "Could not write the module into memory"));
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

} // namespace

MemoryModule::MemoryModule(std::string_view image, const std::string& name) {
    FileDescriptor fd(::memfd_create(name.c_str(), MFD_CLOEXEC));
    if (!fd)
        CPT_THROW(SystemError(ErrnoToWin32Error(errno), "memfd_create"));
    WriteAll(fd.get(), image);
    const std::string path = "/proc/self/fd/" + std::to_string(fd.get());
    // RTLD_NODELETE: Qt keeps process-wide state (atexit handlers, thread-local data) that
    // would point into unmapped code if the module and its libraries went away before exit.
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (handle_ == nullptr) {
        const char* error = ::dlerror();
        CPT_THROW(RuntimeError(error != nullptr ? error : "dlopen failed"));
    }
    // The descriptor stays open as long as the code it holds, i.e. until the process ends: the
    // loader knows the object by its path, and a later module given the same descriptor number
    // would be taken for this one.
    static_cast<void>(fd.release());
}

MemoryModule::~MemoryModule() {
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

MemoryModule::MemoryModule(MemoryModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

MemoryModule& MemoryModule::operator=(MemoryModule&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr)
            ::dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

void* MemoryModule::FindSymbol(const char* symbol) const {
    return ::dlsym(handle_, symbol);
}

} // namespace cptlib::platform
