#pragma once
// A shared object that the program carries as bytes, loaded without a file on disk: the bytes
// go into an anonymous memory file that the dynamic loader opens through /proc/self/fd.

#include "cptlib/platform/SharedLibrary.h"

#include <string>
#include <string_view>

namespace cptlib::platform {

class MemoryModule {
public:
    // Throws SystemError when the memory file cannot be made, RuntimeError with the loader's
    // text when the bytes are no loadable object or a library it needs is missing. `name` only
    // labels the memory file (seen in /proc/PID/maps).
    MemoryModule(std::string_view image, const std::string& name);
    MemoryModule(const MemoryModule&) = delete;
    MemoryModule& operator=(const MemoryModule&) = delete;
    MemoryModule(MemoryModule&& other) noexcept = default;
    MemoryModule& operator=(MemoryModule&& other) noexcept = default;

    // The address of an exported symbol; null when the module has none of that name.
    void* FindSymbol(const char* symbol) const;

private:
    SharedLibrary library_;
};

} // namespace cptlib::platform
