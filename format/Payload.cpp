#include "format/Payload.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace sfx {

namespace {

// The image must not contain the markers, or the search would find the program's own copy.
constexpr char kStoredStartMarker[] = ",!@Install@!UTF-8!";
constexpr char kStoredEndMarker[] = ",!@InstallEnd@!";
static_assert(sizeof kStoredStartMarker - 1 == kStartMarkerSize);
static_assert(sizeof kStoredEndMarker - 1 == kEndMarkerSize);

std::string FixUpMarker(const char* stored, std::size_t size) {
    std::string marker(stored, size);
    // Read through volatile so that the compiler cannot fold the fixed-up text into the image.
    volatile char first = ';';
    marker[0] = first;
    return marker;
}

// First occurrence of `needle` within [begin, begin + size), or nullptr.
const std::uint8_t* FindBytes(const std::uint8_t* begin, std::size_t size,
                              const std::string& needle) {
    if (size < needle.size())
        return nullptr;
#if defined(__GLIBC__)
    return static_cast<const std::uint8_t*>(::memmem(begin, size, needle.data(), needle.size()));
#else
    const auto* end = begin + size;
    const auto* found =
        std::search(begin, end,
                    std::boyer_moore_horspool_searcher(needle.begin(), needle.end(),
                                                       std::hash<char>{}, std::equal_to<>{}));
    return found == end ? nullptr : found;
#endif
}

// The payload usually follows an image of a few MiB: the search reads that much first and
// only reads further, up to the whole range, when the markers are not in it. A match within a
// front part is the match in the whole range, as the front's positions come first.
constexpr std::uint64_t kFirstSearchWindow = 0x400000;

// Reads the part of a launcher file that holds the markers, and finds them.
cptlib::HRESULT ReadSearchRange(const cptlib::platform::FileDescriptor& file,
                                cptlib::platform::MappedFileView& view,
                                std::optional<PayloadLayout>& found) {
    std::uint64_t size = 0;
    const cptlib::HRESULT hr = cptlib::platform::QueryFileSize(file, size);
    if (cptlib::Failed(hr))
        return hr;
    if (size == 0)
        return cptlib::HRESULT_INVALID_DATA; // nothing to read, and surely no markers
    const std::uint64_t range = std::min(size, kMarkerSearchLimit);
    for (std::uint64_t window = std::min(range, kFirstSearchWindow);;
         window = std::min(range, window * 2)) {
        if (const cptlib::HRESULT read = view.Map(file, static_cast<std::uint32_t>(window));
            cptlib::Failed(read))
            return read;
        found = FindPayload(view.bytes());
        if (found || window == range)
            return cptlib::kHrOk;
    }
}

} // namespace

std::string StartMarker() {
    return FixUpMarker(kStoredStartMarker, kStartMarkerSize);
}

std::string EndMarker() {
    return FixUpMarker(kStoredEndMarker, kEndMarkerSize);
}

std::optional<PayloadLayout> FindPayload(std::span<const std::uint8_t> data) {
    if (data.size() <= kMarkerSearchTail)
        return std::nullopt;
    const std::size_t positions = data.size() - kMarkerSearchTail;
    const std::uint8_t* base = data.data();

    // A match must begin at a position below `positions`, so the window ends with the last
    // position's marker.
    const std::uint8_t* start = FindBytes(base, positions - 1 + kStartMarkerSize, StartMarker());
    if (start == nullptr)
        return std::nullopt;
    const auto startOffset = static_cast<std::size_t>(start - base);
    // The byte scan resumes one past the block's first byte.
    const std::size_t from = startOffset + kStartMarkerSize + 1;
    if (from >= positions)
        return std::nullopt;
    const std::uint8_t* end =
        FindBytes(base + from, positions - 1 + kEndMarkerSize - from, EndMarker());
    if (end == nullptr)
        return std::nullopt;

    PayloadLayout layout;
    layout.startMarker = startOffset;
    layout.blockOffset = startOffset + kStartMarkerSize;
    layout.blockSize = static_cast<std::uint64_t>(end - base) - layout.blockOffset;
    layout.archiveOffset = static_cast<std::uint64_t>(end - base) + kEndMarkerSize;
    if (layout.blockSize == 0)
        return std::nullopt;
    return layout;
}

cptlib::HRESULT MapPayload(const cptlib::platform::FileDescriptor& file, MappedPayload& payload) {
    std::optional<PayloadLayout> found;
    const cptlib::HRESULT hr = ReadSearchRange(file, payload.view, found);
    if (cptlib::Failed(hr))
        return hr;
    if (!found)
        return cptlib::HRESULT_INVALID_DATA;
    payload.layout = *found;
    return cptlib::kHrOk;
}

cptlib::HRESULT MapPayload(const std::filesystem::path& path, MappedPayload& payload) {
    const cptlib::HRESULT hr = cptlib::platform::OpenFileForRead(payload.file, path);
    return cptlib::Failed(hr) ? hr : MapPayload(payload.file, payload);
}

cptlib::HRESULT LocatePayload(const cptlib::platform::FileDescriptor& file, PayloadLayout& layout) {
    MappedPayload payload;
    const cptlib::HRESULT hr = MapPayload(file, payload);
    if (cptlib::Succeeded(hr))
        layout = payload.layout;
    return hr;
}

cptlib::HRESULT LocatePayload(const std::filesystem::path& path, PayloadLayout& layout) {
    MappedPayload payload;
    const cptlib::HRESULT hr = MapPayload(path, payload);
    if (cptlib::Succeeded(hr))
        layout = payload.layout;
    return hr;
}

} // namespace sfx
