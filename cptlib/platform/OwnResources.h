#pragma once
// The resources linked into the running program: on Linux our .rsrc tree in the image, on
// Windows the module's own, read through the system's resource calls.

#include "cptlib/SystemError.h"

#include <cstdint>
#include <span>

namespace cptlib {
struct ResourceId;
}

namespace cptlib::platform {

// The bytes of the resource `type`/`name` of the running program, in the first of `languages`
// it has, else in the first language present; they stay valid while the program runs. A
// program without resources: HRESULT_RESOURCE_DATA_NOT_FOUND; a missing type, name or
// language: the system's resource-not-found code for it.
HRESULT FindOwnResource(const ResourceId& type, const ResourceId& name,
                        std::span<const std::uint16_t> languages,
                        std::span<const std::uint8_t>& bytes);

} // namespace cptlib::platform
