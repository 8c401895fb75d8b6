#include "cptlib/resources/ResourceUtils.h"

#include "cptlib/Exceptions.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"
#include "cptlib/platform/OwnResources.h"
#include "cptlib/platform/Process.h"
#include "cptlib/resources/ResourceTree.h"

#include <algorithm>
#include <optional>
#include <streambuf>

namespace cptlib {

namespace {

// Only the front of a file is read: the resources live in the program image.
constexpr std::uint64_t kMapLimit = 0x6400000;
// Enough for the headers that say where the image ends.
constexpr std::uint64_t kHeadSize = 0x10000;

struct MappedImage {
    platform::FileDescriptor file;
    platform::MappedFileView view;
    ResourceTree tree;
};

// Little or big endian unsigned number of `width` bytes at `at`; 0 past the end.
std::uint64_t Number(std::span<const std::uint8_t> bytes, std::uint64_t at, unsigned width,
                     bool bigEndian = false) {
    if (at > bytes.size() || bytes.size() - at < width)
        return 0;
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i) {
        const unsigned shift = 8 * (bigEndian ? width - 1 - i : i);
        value |= std::uint64_t{bytes[at + i]} << shift;
    }
    return value;
}

// Where the sections of an ELF file end: its header table and every section with bytes in the
// file. nullopt when the headers cannot be read.
std::optional<std::uint64_t> ElfExtent(const platform::FileDescriptor& file,
                                       std::span<const std::uint8_t> head) {
    if (head.size() < 64 || (head[4] != 1 && head[4] != 2) || (head[5] != 1 && head[5] != 2))
        return std::nullopt;
    const bool is64 = head[4] == 2, big = head[5] == 2;
    const std::uint64_t shoff = Number(head, is64 ? 0x28 : 0x20, is64 ? 8 : 4, big);
    const std::uint64_t entry = Number(head, is64 ? 0x3A : 0x2E, 2, big);
    std::uint64_t count = Number(head, is64 ? 0x3C : 0x30, 2, big);
    if (shoff == 0 || entry < (is64 ? 64u : 40u))
        return std::nullopt;
    platform::MappedFileView first;
    if (count == 0) { // extended numbering: the count is in section 0
        if (Failed(first.Map(file, static_cast<std::uint32_t>(entry), shoff)))
            return std::nullopt;
        count = Number(first.bytes(), is64 ? 0x20 : 0x14, is64 ? 8 : 4, big);
    }
    if (count == 0 || count > 0x10000)
        return std::nullopt;
    platform::MappedFileView table;
    if (Failed(table.Map(file, static_cast<std::uint32_t>(count * entry), shoff)))
        return std::nullopt;
    std::uint64_t end = shoff + count * entry;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t h = i * entry;
        if (Number(table.bytes(), h + 4, 4, big) == 8) // SHT_NOBITS: nothing in the file
            continue;
        const std::uint64_t offset =
            Number(table.bytes(), h + (is64 ? 0x18 : 0x10), is64 ? 8 : 4, big);
        const std::uint64_t size =
            Number(table.bytes(), h + (is64 ? 0x20 : 0x14), is64 ? 8 : 4, big);
        end = std::max(end, offset + size);
    }
    return end;
}

// Where the sections' raw data of a PE file end; nullopt when the headers are not in `head`.
std::optional<std::uint64_t> PeExtent(std::span<const std::uint8_t> head) {
    const std::uint64_t pe = Number(head, 0x3C, 4);
    if (Number(head, pe, 4) != 0x00004550u)
        return std::nullopt;
    const std::uint64_t count = Number(head, pe + 6, 2);
    const std::uint64_t table = pe + 24 + Number(head, pe + 20, 2);
    if (count == 0 || table + count * 40 > head.size())
        return std::nullopt;
    std::uint64_t end = table + count * 40;
    for (std::uint64_t i = 0; i < count; ++i)
        end = std::max(end,
                       Number(head, table + i * 40 + 20, 4) + Number(head, table + i * 40 + 16, 4));
    return end;
}

// Reads the program image of `file`, which the caller keeps open: only as far as its sections
// go, never the data behind it, so that a large archive behind the image costs nothing.
HRESULT MapImage(const platform::FileDescriptor& file, MappedImage& image) {
    using namespace platform;
    HRESULT hr;
    std::uint64_t size = 0;
    if (Failed(hr = QueryFileSize(file, size)))
        return hr;
    if (size < 2)
        return HRESULT_RESOURCE_DATA_NOT_FOUND;
    std::uint64_t extent = std::min(size, kMapLimit);
    {
        MappedFileView head;
        if (Failed(hr = head.Map(file, static_cast<std::uint32_t>(std::min(size, kHeadSize)))))
            return hr;
        std::optional<std::uint64_t> sections;
        switch (DetectImageFormat(head.bytes())) {
        case ImageFormat::Elf:
            sections = ElfExtent(file, head.bytes());
            break;
        case ImageFormat::Pe:
            sections = PeExtent(head.bytes());
            break;
        case ImageFormat::Unknown:
            return HRESULT_RESOURCE_DATA_NOT_FOUND;
        }
        if (sections && *sections >= 2)
            extent = std::min(extent, *sections);
    }
    if (Failed(hr = image.view.Map(file, static_cast<std::uint32_t>(extent))))
        return hr;
    if (DetectImageFormat(image.view.bytes()) == ImageFormat::Unknown)
        return HRESULT_RESOURCE_DATA_NOT_FOUND;
    return ResourceTree::Open(image.view.bytes(), image.tree);
}

HRESULT MapImage(const std::filesystem::path& path, MappedImage& image) {
    using namespace platform;
    const HRESULT hr = OpenFileForRead(image.file, path, FileAccess::Read, FileShare::Read,
                                       CreationDisposition::OpenExisting);
    return Failed(hr) ? hr : MapImage(image.file, image);
}

std::vector<std::uint16_t> Candidates(std::optional<std::uint16_t> language) {
    return LanguageCandidates(language, language ? std::vector<std::uint16_t>() : UserLanguages());
}

// Reads a byte range in place; seeking is supported so that parsers may look back.
class SpanBuffer : public std::streambuf {
public:
    explicit SpanBuffer(std::span<const std::uint8_t> bytes) {
        // The get area is never written through.
        char* begin = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
        setg(begin, begin, begin + bytes.size());
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode which) override {
        if ((which & std::ios_base::in) == 0)
            return pos_type(off_type(-1));
        off_type base = 0;
        if (dir == std::ios_base::cur)
            base = gptr() - eback();
        else if (dir == std::ios_base::end)
            base = egptr() - eback();
        const off_type target = base + off;
        if (target < 0 || target > egptr() - eback())
            return pos_type(off_type(-1));
        setg(eback(), eback() + target, egptr());
        return pos_type(target);
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
        return seekoff(off_type(pos), std::ios_base::beg, which);
    }
};

class ResourceStream : public std::istream {
public:
    ResourceStream(std::span<const std::uint8_t> bytes, std::shared_ptr<const void> keeper)
        : std::istream(nullptr), keeper_(std::move(keeper)), buffer_(bytes) {
        rdbuf(&buffer_);
    }

private:
    std::shared_ptr<const void> keeper_; // holds the file mapping, if any
    SpanBuffer buffer_;
};

[[noreturn]] void ThrowNotFound(const ResourceLocation& location, HRESULT hr) {
    const std::filesystem::path module =
        location.module.empty() ? platform::GetModulePath() : location.module;
    std::string text = module.string();
    if (!text.empty())
        text += '\\';
    text += "resType:" + location.type.ToString() + "\\resID:" + location.name.ToString();
    if (location.language)
        text += "\\lcid:" + std::to_string(*location.language);
    CPT_THROW(AppResourceError("Failed to load resource", MakeWin32Error(Win32FromHResult(hr)))
              << tag_errinfo_path(PathFromUtf8(text)));
}

} // namespace

std::string ResourceId::ToString() const {
    return name.empty() ? "#" + std::to_string(id) : name;
}

namespace {

template <class Source>
HRESULT ReadResource(const Source& source, const std::string& name, std::string& bytes,
                     std::uint32_t* size) {
    bytes.clear();
    if (size != nullptr)
        *size = 0;
    MappedImage image;
    HRESULT hr = MapImage(source, image);
    if (Failed(hr))
        return hr;
    ResourceData data;
    if (Failed(hr = image.tree.Find(kRtRcData, name, Candidates(std::nullopt), data)))
        return hr;
    const auto found = image.tree.Bytes(data);
    bytes.assign(reinterpret_cast<const char*>(found.data()), found.size());
    if (size != nullptr)
        *size = data.size;
    return kHrOk;
}

template <class Source> HRESULT EnumNames(const Source& source, std::vector<std::string>& names) {
    names.clear();
    MappedImage image;
    HRESULT hr = MapImage(source, image);
    // An image without any resources lacks this type as well.
    if (hr == HRESULT_RESOURCE_DATA_NOT_FOUND &&
        DetectImageFormat(image.view.bytes()) != ImageFormat::Unknown)
        return HRESULT_NO_MORE_ITEMS;
    if (Failed(hr))
        return hr;
    std::vector<ResourceId> ids;
    hr = image.tree.EnumNames(kRtRcData, ids);
    if (hr == HResultFromWin32(kErrorResourceTypeNotFound))
        return HRESULT_NO_MORE_ITEMS;
    if (Failed(hr))
        return hr;
    for (const auto& id : ids)
        names.push_back(id.ToString());
    return kHrOk;
}

} // namespace

HRESULT ReadFileResource(const std::filesystem::path& path, const std::string& name,
                         std::string& bytes, std::uint32_t* size) {
    return ReadResource(path, name, bytes, size);
}

HRESULT ReadFileResource(const platform::FileDescriptor& file, const std::string& name,
                         std::string& bytes, std::uint32_t* size) {
    return ReadResource(file, name, bytes, size);
}

HRESULT EnumRcDataNames(const std::filesystem::path& path, std::vector<std::string>& names) {
    return EnumNames(path, names);
}

HRESULT EnumRcDataNames(const platform::FileDescriptor& file, std::vector<std::string>& names) {
    return EnumNames(file, names);
}

HRESULT LocateFileResource(const std::filesystem::path& path, const ResourceId& type,
                           const ResourceId& name, std::optional<std::uint16_t> language,
                           std::uint64_t& offset, std::uint32_t& size) {
    MappedImage image;
    HRESULT hr = MapImage(path, image);
    if (Failed(hr))
        return hr;
    ResourceData data;
    if (Failed(hr = image.tree.Find(type, name, Candidates(language), data)))
        return hr;
    offset = data.offset;
    size = data.size;
    return kHrOk;
}

std::shared_ptr<std::istream> CreateStreamFromResource(const ResourceLocation& location,
                                                       std::ios_base::iostate exceptionMask) {
    std::span<const std::uint8_t> bytes;
    std::shared_ptr<const void> keeper;
    const std::vector<std::uint16_t> languages = Candidates(location.language);
    if (location.module.empty()) {
        const HRESULT hr =
            platform::FindOwnResource(location.type, location.name, languages, bytes);
        if (Failed(hr))
            ThrowNotFound(location, hr);
    } else {
        auto image = std::make_shared<MappedImage>();
        HRESULT hr = MapImage(location.module, *image);
        if (Failed(hr))
            ThrowNotFound(location, hr);
        ResourceData data;
        if (Failed(hr = image->tree.Find(location.type, location.name, languages, data)))
            ThrowNotFound(location, hr);
        bytes = image->tree.Bytes(data);
        keeper = std::move(image);
    }
    auto stream = std::make_shared<ResourceStream>(bytes, std::move(keeper));
    if (exceptionMask != std::ios_base::goodbit)
        stream->exceptions(exceptionMask);
    return stream;
}

} // namespace cptlib
