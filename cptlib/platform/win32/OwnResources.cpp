#include "cptlib/platform/OwnResources.h"

namespace cptlib::platform {

// A PE program's resources are the system's to read (FindResourceExW); no linked-in tree here.
std::span<const std::uint8_t> OwnResourceSection() {
    return {};
}

} // namespace cptlib::platform
