#include "cptlib/platform/OwnResources.h"

// The tree linked into the running program (see cmake/Resources.cmake); weak, so that programs
// without resources link too and simply find none.
extern "C" {
extern const unsigned char sfx_rsrc_begin[] __attribute__((weak, visibility("hidden")));
extern const unsigned char sfx_rsrc_end[] __attribute__((weak, visibility("hidden")));
}

namespace cptlib::platform {

std::span<const std::uint8_t> OwnResourceSection() {
    const std::uint8_t* begin = sfx_rsrc_begin;
    const std::uint8_t* end = sfx_rsrc_end;
    if (begin == nullptr || end == nullptr || end < begin)
        return {};
    return {begin, static_cast<std::size_t>(end - begin)};
}

} // namespace cptlib::platform
