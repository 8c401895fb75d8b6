#include "cptlib/platform/MemoryModule.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

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
    std::string error;
    library_ = SharedLibrary::Load(path, error);
    if (!library_)
        CPT_THROW(RuntimeError(error));
    // The descriptor stays open as long as the code it holds, i.e. until the process ends: the
    // loader knows the object by its path, and a later module given the same descriptor number
    // would be taken for this one.
    static_cast<void>(fd.release());
}

void* MemoryModule::FindSymbol(const char* symbol) const {
    return library_.FindSymbol(symbol);
}

} // namespace cptlib::platform
