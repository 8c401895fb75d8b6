#include "cptlib/platform/SharedLibrary.h"

#include <dlfcn.h>

#include <utility>

namespace cptlib::platform {

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr)
        ::dlclose(handle_);
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr)
            ::dlclose(handle_);
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

SharedLibrary SharedLibrary::Load(const std::string& name, std::string& error) {
    SharedLibrary library;
    library.handle_ = ::dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library.handle_ == nullptr) {
        const char* text = ::dlerror();
        error = text != nullptr ? text : "dlopen failed";
    }
    return library;
}

void* SharedLibrary::FindSymbol(const char* symbol) const {
    return handle_ != nullptr ? ::dlsym(handle_, symbol) : nullptr;
}

} // namespace cptlib::platform
