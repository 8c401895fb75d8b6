#pragma once
// The reader behind ResourceUtils: finds the resource directory tree of a program image held in
// memory (a PE file through its resource data directory and section table, our ELF image
// through its .rsrc section) and walks it. Every offset is checked against the bytes at hand, so
// a damaged or hostile file yields an error code, never a read out of range.

#include "cptlib/SystemError.h"
#include "cptlib/resources/ResourceUtils.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cptlib {

enum class ImageFormat { Unknown, Pe, Elf };

// "MZ" -> Pe, "\x7fELF" -> Elf.
ImageFormat DetectImageFormat(std::span<const std::uint8_t> image);

// Where one resource's bytes lie.
struct ResourceData {
    std::uint64_t offset = 0; // from the start of the image buffer, i.e. the file offset
    std::uint32_t size = 0;
    std::uint16_t language = 0;
};

struct ResourceInfo {
    ResourceId type;
    ResourceId name;
    ResourceData data;
};

class ResourceTree {
public:
    // Finds the tree of a PE or ELF image. Neither format or no resources:
    // HRESULT_RESOURCE_DATA_NOT_FOUND; headers that do not fit the bytes: kErrorBadExeFormat.
    static HRESULT Open(std::span<const std::uint8_t> image, ResourceTree& tree);

    // A bare tree whose data offsets count from its own start, such as our .rsrc section as it
    // is loaded in memory.
    static ResourceTree FromSection(std::span<const std::uint8_t> section);

    // Looks a resource up. `languages` are tried in order, then the first language present.
    // Missing type, name or language: the platform's ERROR_RESOURCE_*_NOT_FOUND; a damaged tree:
    // HRESULT_INVALID_DATA. A name "#12" stands for the number 12.
    HRESULT Find(const ResourceId& type, const ResourceId& name,
                 std::span<const std::uint16_t> languages, ResourceData& data) const;

    // The names under a type, in directory order.
    HRESULT EnumNames(const ResourceId& type, std::vector<ResourceId>& names) const;

    // Every resource, in directory order.
    HRESULT EnumAll(std::vector<ResourceInfo>& resources) const;

    // The bytes of a resource found in this tree.
    std::span<const std::uint8_t> Bytes(const ResourceData& data) const {
        return image_.subspan(static_cast<std::size_t>(data.offset), data.size);
    }

private:
    struct Section {
        std::uint32_t virtualAddress = 0;
        std::uint32_t rawSize = 0;
        std::uint64_t rawOffset = 0;
    };
    struct Entry {
        std::uint32_t name = 0;
        std::uint32_t target = 0;
    };
    class Walker;

    HRESULT MapData(std::uint32_t rva, std::uint32_t size, ResourceData& data) const;

    std::span<const std::uint8_t> image_;
    std::span<const std::uint8_t> tree_;
    // A PE image maps data addresses through its sections; otherwise they count from the tree.
    bool viaSections_ = false;
    std::vector<Section> sections_;
};

// The languages a lookup tries before the first one present: with a language, it and its
// neutral sub-language; without, the user's language and its neutral; then en-US.
std::vector<std::uint16_t> LanguageCandidates(std::optional<std::uint16_t> language,
                                              std::optional<std::uint16_t> userLanguage);

// As above for the user's languages in order of preference. A neutral language also tries its
// default country; a Chinese one the traditional (Taiwan, Hong Kong, Macao) or simplified
// (mainland, Singapore) table.
std::vector<std::uint16_t> LanguageCandidates(std::optional<std::uint16_t> language,
                                              const std::vector<std::uint16_t>& userLanguages);

// The user's interface language as a language id, if the culture is known.
std::optional<std::uint16_t> UserLanguage();

// The user's interface languages with a known language id, best first.
std::vector<std::uint16_t> UserLanguages();

// The Win32 number inside an HRESULT of that facility, else the HRESULT itself.
std::uint32_t Win32FromHResult(HRESULT hr);

} // namespace cptlib
