#include "sfxbuild/Build.h"

#include "cptlib/Utf.h"

#include <algorithm>
#include <fstream>

namespace sfxbuild {

namespace {

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (const char16_t c : text) {
        out += static_cast<char>(c & 0xFF);
        out += static_cast<char>(c >> 8);
    }
    return out;
}

const std::string& StartMarker() {
    static const std::string marker = Utf16Le(u"##DATA##");
    return marker;
}

const std::string& EndMarker() {
    static const std::string marker = Utf16Le(u"##ENDDATA##");
    return marker;
}

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

} // namespace

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

std::string ReadFileRange(const std::filesystem::path& path, std::uint64_t offset,
                          std::uint64_t length) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    std::string data(static_cast<std::size_t>(length), '\0');
    in.read(data.data(), static_cast<std::streamsize>(length));
    data.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return data;
}

std::string MakeDataBlock(std::string_view query) {
    const auto wide = cptlib::Utf8ToUtf16(query);
    if (!wide)
        throw BuildError("the data query is not valid UTF-8");
    // The launcher refuses an escape without two characters; one that reads as no number
    // silently becomes a zero unit, which is never what the author meant.
    for (std::size_t i = 0; i < query.size(); ++i)
        if (query[i] == '%' &&
            (i + 2 >= query.size() || !IsHexDigit(query[i + 1]) || !IsHexDigit(query[i + 2])))
            throw BuildError("the data query has a '%' at position " + std::to_string(i) +
                             " that is not followed by two hexadecimal digits");
    const std::string payload = Utf16Le(*wide);
    const std::string& end = EndMarker();
    if (std::search(payload.begin(), payload.end(), end.begin(), end.end()) != payload.end())
        throw BuildError("the data query contains the end marker ##ENDDATA##");
    std::string block = StartMarker() + payload + end;
    if (block.size() > kDataBlockWindow)
        throw BuildError("the data block is " + std::to_string(block.size()) +
                         " bytes; the launcher reads only the last " +
                         std::to_string(kDataBlockWindow));
    return block;
}

std::optional<DataBlockPosition> FindDataBlockIn(std::span<const std::uint8_t> tail) {
    const auto find = [&](std::size_t from, const std::string& marker) {
        return std::search(
            tail.begin() + static_cast<std::ptrdiff_t>(from), tail.end(), marker.begin(),
            marker.end(), [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    };
    const auto start = find(0, StartMarker());
    if (start == tail.end())
        return std::nullopt;
    DataBlockPosition position;
    position.start = static_cast<std::size_t>(start - tail.begin());
    position.payload = position.start + StartMarker().size();
    const auto end = find(position.payload, EndMarker());
    if (end == tail.end())
        return std::nullopt;
    position.length = static_cast<std::size_t>(end - tail.begin()) - position.payload;
    return position;
}

} // namespace sfxbuild
