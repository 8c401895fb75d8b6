// The resource tree of a program image: a PE file through its data directory and sections, our
// ELF image through its .rsrc section, and a bare tree as the section holds it.
#include "cptlib/resources/ResourceTree.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

// Every resource is found again by its type and name, and its bytes lie inside the image.
void Walk(const cptlib::ResourceTree& tree, std::span<const std::uint8_t> image) {
    std::vector<cptlib::ResourceInfo> all;
    if (cptlib::Failed(tree.EnumAll(all)))
        return;
    const std::array<std::uint16_t, 2> languages{0x0409, 0x0407};
    for (const cptlib::ResourceInfo& info : all) {
        if (info.data.offset > image.size() || info.data.size > image.size() - info.data.offset)
            std::abort();
        const auto bytes = tree.Bytes(info.data);
        if (bytes.size() != info.data.size)
            std::abort();
        cptlib::ResourceData data;
        tree.Find(info.type, info.name, languages, data);
        std::vector<cptlib::ResourceId> names;
        tree.EnumNames(info.type, names);
    }
    cptlib::ResourceData data;
    tree.Find(cptlib::ResourceId(10), cptlib::ResourceId("#1"), languages, data);
    tree.Find(cptlib::ResourceId("ZQ_XML_STRING"), cptlib::ResourceId(1), {}, data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> image(data, size);
    cptlib::DetectImageFormat(image);
    cptlib::ResourceTree tree;
    if (cptlib::Succeeded(cptlib::ResourceTree::Open(image, tree)))
        Walk(tree, image);
    Walk(cptlib::ResourceTree::FromSection(image), image);
    return 0;
}
