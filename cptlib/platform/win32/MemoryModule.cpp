#include "cptlib/platform/MemoryModule.h"

#include "cptlib/Exceptions.h"

namespace cptlib::platform {

// The Windows launcher links its windows in; the system loads modules from files only.
MemoryModule::MemoryModule(std::string_view, const std::string& name) {
    CPT_THROW(RuntimeError(name + ": modules held in memory are not loaded on Windows"));
}

void* MemoryModule::FindSymbol(const char* symbol) const {
    return library_.FindSymbol(symbol);
}

} // namespace cptlib::platform
