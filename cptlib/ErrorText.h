#pragma once

#include <exception>
#include <string>

namespace cptlib {

// Describes the exception being handled (call inside a catch block), with its nested causes.
// Its own lines are prefixed with `indent` tabs.
std::string ErrorText(int indent = 0);

// The same for a captured exception.
std::string ErrorText(const std::exception_ptr& error, int indent = 0);

} // namespace cptlib
