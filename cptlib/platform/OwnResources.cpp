#include "cptlib/platform/OwnResources.h"

#include "cptlib/resources/ResourceTree.h"

// The tree linked into the running program (see cmake/Resources.cmake); weak, so that programs
// without resources link too and simply find none.
extern "C" {
extern const unsigned char sfx_rsrc_begin[] __attribute__((weak, visibility("hidden")));
extern const unsigned char sfx_rsrc_end[] __attribute__((weak, visibility("hidden")));
}

namespace cptlib::platform {

namespace {

std::span<const std::uint8_t> OwnResourceSection() {
    const std::uint8_t* begin = sfx_rsrc_begin;
    const std::uint8_t* end = sfx_rsrc_end;
    if (begin == nullptr || end == nullptr || end < begin)
        return {};
    return {begin, static_cast<std::size_t>(end - begin)};
}

} // namespace

HRESULT FindOwnResource(const ResourceId& type, const ResourceId& name,
                        std::span<const std::uint16_t> languages,
                        std::span<const std::uint8_t>& bytes) {
    const auto section = OwnResourceSection();
    if (section.empty())
        return HRESULT_RESOURCE_DATA_NOT_FOUND;
    // The section lives as long as the program: the tree's spans point into it.
    const ResourceTree tree = ResourceTree::FromSection(section);
    ResourceData data;
    if (const HRESULT hr = tree.Find(type, name, languages, data); Failed(hr))
        return hr;
    bytes = tree.Bytes(data);
    return kHrOk;
}

} // namespace cptlib::platform
