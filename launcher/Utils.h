#pragma once

#include "cptlib/Exceptions.h"

#include <exception>

namespace sfx {

// A file exception as a standard system error for transport to another thread: its message,
// code and file name kept.
std::exception_ptr FileExceptionToSystemError(const cptlib::FileException& error);

} // namespace sfx
