#pragma once
// The data block at the end of a launcher file: "##DATA##", a query, "##ENDDATA##", all
// UTF-16LE, found within the file's last 64 KiB.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sfx {

constexpr std::size_t kDataBlockWindow = 65536;

// The markers in UTF-16LE. The image holds them with another first character, so that the
// search in a launcher file's last 64 KiB never finds the program's own copy.
const std::string& DataBlockStartMarker();
const std::string& DataBlockEndMarker();

// The block for `query`. Throws std::invalid_argument when the query is not UTF-8, has a '%'
// that is not followed by two hexadecimal digits, holds the end marker, or the block exceeds
// the window.
std::string MakeDataBlock(std::string_view query);

// Where a block lies in the window's bytes.
struct DataBlockPosition {
    std::size_t start = 0;   // of the start marker
    std::size_t payload = 0; // first byte after the start marker
    std::size_t length = 0;  // payload bytes, up to the end marker
};

enum class DataBlockSearch { Found, NoStartMarker, NoEndMarker };

// Finds the first start marker in `window` and the first end marker behind it.
DataBlockSearch FindDataBlockIn(std::span<const std::uint8_t> window, DataBlockPosition& position);

// The payload's UTF-16 code units; an odd last byte is dropped.
std::u16string DataBlockPayload(std::span<const std::uint8_t> window,
                                const DataBlockPosition& position);

// Finds the data block in the last 64 KiB of an open file. `payload` receives the UTF-16 text
// between the markers, `offset` its file offset and `length` its length in bytes. A file shorter
// than 64 KiB fails with the positioning error; no start marker: HRESULT_NO_MORE_ITEMS; no end
// marker behind it: HRESULT_INVALID_DATA.
cptlib::HRESULT FindDataBlock(const cptlib::platform::FileDescriptor& file, std::u16string* payload,
                              std::uint64_t* offset, std::uint64_t* length);

} // namespace sfx
