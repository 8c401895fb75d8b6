#pragma once
// Resources of program files: PE files through their resource data directory, our ELF image
// through its .rsrc section. Both hold a PE resource directory tree (type -> name -> language).

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstdint>
#include <filesystem>
#include <ios>
#include <istream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cptlib {

constexpr std::uint16_t kRtIcon = 3;
constexpr std::uint16_t kRtRcData = 10;
constexpr std::uint16_t kRtGroupIcon = 14;
constexpr std::uint16_t kRtManifest = 24;

// A resource type or name: by string when `name` is not empty, else by number.
struct ResourceId {
    std::uint16_t id = 0;
    std::string name;

    ResourceId() = default;
    ResourceId(std::uint16_t number) : id(number) {}
    ResourceId(std::string text) : name(std::move(text)) {}
    ResourceId(const char* text) : name(text) {}
    // "#12" for numbers, the name otherwise.
    std::string ToString() const;
};

struct ResourceLocation {
    // The file that holds the resource; empty means the program's own image.
    std::filesystem::path module;
    ResourceId type;
    ResourceId name;
    std::optional<std::uint16_t> language;
};

// Reads the raw bytes of the kRtRcData resource `name` from a program file on disk (the first
// 100 MiB of it). Neither PE ("MZ") nor ELF: HRESULT_RESOURCE_DATA_NOT_FOUND.
HRESULT ReadFileResource(const std::filesystem::path& path, const std::string& name,
                         std::string& bytes, std::uint32_t* size = nullptr);
// The same for an open program file.
HRESULT ReadFileResource(const platform::FileDescriptor& file, const std::string& name,
                         std::string& bytes, std::uint32_t* size = nullptr);

// Names of the kRtRcData resources of a program file, in directory order; numbers as "#12".
// A file without that type (or without resources) gives HRESULT_NO_MORE_ITEMS; a file that is
// neither PE ("MZ") nor ELF gives HRESULT_RESOURCE_DATA_NOT_FOUND.
HRESULT EnumRcDataNames(const std::filesystem::path& path, std::vector<std::string>& names);
HRESULT EnumRcDataNames(const platform::FileDescriptor& file, std::vector<std::string>& names);

// Where a resource's data lies in a program file on disk (PE or ELF), for writing it in place.
// Language fallback as for CreateStreamFromResource.
HRESULT LocateFileResource(const std::filesystem::path& path, const ResourceId& type,
                           const ResourceId& name, std::optional<std::uint16_t> language,
                           std::uint64_t& offset, std::uint32_t& size);

// A stream over the resource's bytes, read in place. With a non-zero `exceptionMask` that
// becomes the stream's exception mask. Throws AppResourceError "Failed to load resource" when it
// is not found. Languages tried: the location's language, its neutral sub-language, en-US, then
// the first present; without a language the user's language takes the first two places.
std::shared_ptr<std::istream> CreateStreamFromResource(const ResourceLocation& location,
                                                       std::ios_base::iostate exceptionMask);

} // namespace cptlib
