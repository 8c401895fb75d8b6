#include "cptlib/platform/StdioFile.h"

namespace cptlib::platform {

std::FILE* OpenStdioFile(const std::filesystem::path& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

} // namespace cptlib::platform
