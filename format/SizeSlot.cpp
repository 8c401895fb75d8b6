#include "format/SizeSlot.h"

#include "cptlib/resources/ResourceTree.h"
#include "cptlib/resources/ResourceUtils.h"
#include "format/LittleEndian.h"

namespace sfx {

std::optional<std::uint64_t> SizeSlotOffset(std::span<const std::uint8_t> image) {
    cptlib::ResourceTree tree;
    cptlib::ResourceData data;
    if (cptlib::Failed(cptlib::ResourceTree::Open(image, tree)) ||
        cptlib::Failed(tree.Find(cptlib::kRtRcData, std::string(kSizeSlotName), {}, data)) ||
        data.size != kSizeSlotSize)
        return std::nullopt;
    return data.offset;
}

std::string EncodeSizeSlot(std::uint64_t size) {
    return LittleEndianBytes(size, kSizeSlotSize);
}

std::optional<std::uint64_t> DecodeSizeSlot(std::string_view bytes) {
    if (bytes.size() != kSizeSlotSize)
        return std::nullopt;
    return ReadLittleEndian<std::uint64_t>(
        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, 0);
}

std::optional<std::uint64_t> ReadSizeSlot(const std::filesystem::path& path) {
    std::string bytes;
    if (cptlib::Failed(cptlib::ReadFileResource(path, std::string(kSizeSlotName), bytes)))
        return std::nullopt;
    return DecodeSizeSlot(bytes);
}

std::optional<std::uint64_t> ReadSizeSlot(const cptlib::platform::FileDescriptor& file) {
    std::string bytes;
    if (cptlib::Failed(cptlib::ReadFileResource(file, std::string(kSizeSlotName), bytes)))
        return std::nullopt;
    return DecodeSizeSlot(bytes);
}

} // namespace sfx
