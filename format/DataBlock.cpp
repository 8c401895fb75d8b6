#include "format/DataBlock.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/FileIo.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace sfx {

namespace {

// Kept with '_' in place of the leading '#' (see DataBlockStartMarker).
std::string Marker(std::string_view stored) {
    std::string out;
    out.reserve(stored.size() * 2);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        out += i == 0 ? '#' : stored[i];
        out += '\0';
    }
    return out;
}

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

const std::string& DataBlockStartMarker() {
    static const std::string marker = Marker("_#DATA##");
    return marker;
}

const std::string& DataBlockEndMarker() {
    static const std::string marker = Marker("_#ENDDATA##");
    return marker;
}

std::string MakeDataBlock(std::string_view query) {
    const auto wide = cptlib::Utf8ToUtf16(query);
    if (!wide)
        throw std::invalid_argument("the data query is not valid UTF-8");
    // The launcher refuses an escape without two characters; one that reads as no number
    // silently becomes a zero unit, which is never what the author meant.
    for (std::size_t i = 0; i < query.size(); ++i)
        if (query[i] == '%' &&
            (i + 2 >= query.size() || !IsHexDigit(query[i + 1]) || !IsHexDigit(query[i + 2])))
            throw std::invalid_argument("the data query has a '%' at position " +
                                        std::to_string(i) +
                                        " that is not followed by two hexadecimal digits");
    const std::string payload = Utf16Le(*wide);
    const std::string& end = DataBlockEndMarker();
    if (std::search(payload.begin(), payload.end(), end.begin(), end.end()) != payload.end())
        throw std::invalid_argument("the data query contains the end marker ##ENDDATA##");
    std::string block = DataBlockStartMarker() + payload + end;
    if (block.size() > kDataBlockWindow)
        throw std::invalid_argument("the data block is " + std::to_string(block.size()) +
                                    " bytes; the launcher reads only the last " +
                                    std::to_string(kDataBlockWindow));
    return block;
}

DataBlockSearch FindDataBlockIn(std::span<const std::uint8_t> window, DataBlockPosition& position) {
    const auto find = [&](std::size_t from, const std::string& marker) {
        return std::search(
            window.begin() + static_cast<std::ptrdiff_t>(from), window.end(), marker.begin(),
            marker.end(), [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    };
    const auto start = find(0, DataBlockStartMarker());
    if (start == window.end())
        return DataBlockSearch::NoStartMarker;
    DataBlockPosition found;
    found.start = static_cast<std::size_t>(start - window.begin());
    found.payload = found.start + DataBlockStartMarker().size();
    const auto end = find(found.payload, DataBlockEndMarker());
    if (end == window.end())
        return DataBlockSearch::NoEndMarker;
    found.length = static_cast<std::size_t>(end - window.begin()) - found.payload;
    position = found;
    return DataBlockSearch::Found;
}

std::u16string DataBlockPayload(std::span<const std::uint8_t> window,
                                const DataBlockPosition& position) {
    std::u16string text(position.length / 2, u'\0');
    const std::uint8_t* p = window.data() + position.payload;
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
    return text;
}

cptlib::HRESULT FindDataBlock(const cptlib::platform::FileDescriptor& file, std::u16string* payload,
                              std::uint64_t* offset, std::uint64_t* length) {
    std::uint64_t at = 0;
    if (const std::uint32_t error =
            cptlib::platform::SeekFile(file, -static_cast<std::int64_t>(kDataBlockWindow),
                                       cptlib::platform::SeekOrigin::End, at);
        error != cptlib::kErrorSuccess)
        return cptlib::HResultFromWin32(error);
    std::vector<std::uint8_t> window(kDataBlockWindow);
    std::uint32_t read = 0;
    if (const std::uint32_t error =
            cptlib::platform::ReadFile(file, window.data(), kDataBlockWindow, read);
        error != cptlib::kErrorSuccess)
        return cptlib::HResultFromWin32(error);
    if (read < kDataBlockWindow)
        return cptlib::HResultFromWin32(cptlib::kErrorHandleEof);
    DataBlockPosition position;
    switch (FindDataBlockIn(window, position)) {
    case DataBlockSearch::NoStartMarker:
        return cptlib::HRESULT_NO_MORE_ITEMS;
    case DataBlockSearch::NoEndMarker:
        return cptlib::HRESULT_INVALID_DATA;
    case DataBlockSearch::Found:
        break;
    }
    if (payload != nullptr)
        *payload = DataBlockPayload(window, position);
    if (offset != nullptr)
        *offset = at + position.payload;
    if (length != nullptr)
        *length = position.length;
    return cptlib::kHrOk;
}

} // namespace sfx
