#include "cptlib/platform/BrokenPipe.h"

namespace cptlib::platform {

// A write to a pipe without a reader fails with ERROR_NO_DATA here: no signal to ignore.
void IgnoreBrokenPipe() {}

// Windows has no file size limit signal: such a write just fails.
void IgnoreFileSizeLimit() {}

} // namespace cptlib::platform
