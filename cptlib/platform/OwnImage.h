#pragma once
// The running program's own file, opened once: every later read of it goes through this
// descriptor, so that a file put in its place meanwhile is never read.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <memory>

namespace cptlib::platform {

// A descriptor that several readers share; they read it at given offsets only.
using SharedFile = std::shared_ptr<const FileDescriptor>;

// Opens the running image (/proc/self/exe) for reading; it must be a regular file.
HRESULT OpenRunningImage(SharedFile& file);

// The same file opened once more through `file` (not through any name), with a file position
// of its own, for a reader that keeps it for itself.
HRESULT ReopenFile(const FileDescriptor& file, FileDescriptor& copy);

} // namespace cptlib::platform
