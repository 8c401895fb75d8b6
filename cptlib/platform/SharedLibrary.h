#pragma once
// A shared library loaded at run time, for code the program needs only on some runs.

#include <string>

namespace cptlib::platform {

// Owns one reference to a loaded library. Its code stays mapped until the process ends, also
// after the last reference is let go: libraries that register process-wide state (exit
// handlers, thread data) would otherwise leave it pointing into unmapped code.
class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;

    // Loads `name` (a file name that the loader searches for, or a path) with all its symbols
    // bound at once. Empty, with the loader's text in `error`, when it cannot be loaded.
    static SharedLibrary Load(const std::string& name, std::string& error);

    explicit operator bool() const noexcept { return handle_ != nullptr; }

    // The address of an exported symbol; null when the library has none of that name or none
    // is loaded.
    void* FindSymbol(const char* symbol) const;

private:
    void* handle_ = nullptr; // the loader's handle, opaque here
};

} // namespace cptlib::platform
