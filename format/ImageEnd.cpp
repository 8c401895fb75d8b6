#include "format/ImageEnd.h"

#include "cptlib/resources/ResourceTree.h"
#include "format/LittleEndian.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace sfx {

namespace {

constexpr std::uint64_t kPeHeaderPointer = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint64_t kCoffHeaderEnd = 24;       // signature and file header
constexpr std::uint64_t kSectionHeaderSize = 40;
constexpr std::uint64_t kMinElfHeaderSize = 52;

constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Offsets from the PE signature; PE32+ has 16 more bytes of optional header before them.
constexpr std::uint64_t kMagicOffset = 24;
constexpr std::uint64_t kDirectoryCountOffset = 116;
constexpr std::uint64_t kSecurityEntryOffset = 152;
constexpr std::uint64_t kPe32PlusShift = 16;
constexpr std::uint32_t kSecurityDirectoryIndex = 4;

// The offset of the PE signature, when the pointer to it leads to one.
std::optional<std::uint64_t> PeSignatureOffset(std::span<const std::uint8_t> image) {
    const auto pe = ReadLittleEndian<std::uint32_t>(image, kPeHeaderPointer);
    const auto signature = pe ? ReadLittleEndian<std::uint32_t>(image, *pe) : std::nullopt;
    if (!signature || *signature != kPeSignature)
        return std::nullopt;
    return *pe;
}

std::optional<std::uint64_t> PeImageEnd(std::span<const std::uint8_t> stub) {
    const auto pe = PeSignatureOffset(stub);
    if (!pe || stub.size() - *pe < kCoffHeaderEnd)
        return std::nullopt;
    const std::uint64_t count = *ReadLittleEndian<std::uint16_t>(stub, *pe + 6);
    const std::uint64_t table =
        *pe + kCoffHeaderEnd + *ReadLittleEndian<std::uint16_t>(stub, *pe + 20);
    if (table > stub.size() || (stub.size() - table) / kSectionHeaderSize < count || count == 0)
        return std::nullopt;
    std::uint64_t end = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t section = table + kSectionHeaderSize * i;
        const std::uint64_t rawSize = *ReadLittleEndian<std::uint32_t>(stub, section + 16);
        const std::uint64_t rawOffset = *ReadLittleEndian<std::uint32_t>(stub, section + 20);
        if (rawSize != 0)
            end = std::max(end, rawOffset + rawSize);
    }
    if (end == 0 || end > stub.size())
        return std::nullopt;
    return end;
}

// The end of the certificate table, or nullopt when the image has none.
std::optional<std::uint64_t> CertificateTableEnd(std::span<const std::uint8_t> headers,
                                                 std::uint64_t pe) {
    const auto magic = ReadLittleEndian<std::uint16_t>(headers, pe + kMagicOffset);
    const std::uint64_t shift = magic == kPe32PlusMagic ? kPe32PlusShift : 0;
    // Too short a directory list has no security entry; section headers would stand there.
    const auto count = ReadLittleEndian<std::uint32_t>(headers, pe + kDirectoryCountOffset + shift);
    if (!count || *count <= kSecurityDirectoryIndex)
        return std::nullopt;
    const auto offset = ReadLittleEndian<std::uint32_t>(headers, pe + kSecurityEntryOffset + shift);
    const auto size =
        ReadLittleEndian<std::uint32_t>(headers, pe + kSecurityEntryOffset + shift + 4);
    if (!offset || !size || *offset == 0)
        return std::nullopt;
    return static_cast<std::uint32_t>(*offset + *size);
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

} // namespace

std::optional<std::uint64_t> ProgramImageEnd(std::span<const std::uint8_t> stub) {
    switch (cptlib::DetectImageFormat(stub)) {
    case cptlib::ImageFormat::Elf:
        return stub.size() >= kMinElfHeaderSize ? std::optional<std::uint64_t>(stub.size())
                                                : std::nullopt;
    case cptlib::ImageFormat::Pe:
        return PeImageEnd(stub);
    case cptlib::ImageFormat::Unknown:
        break;
    }
    return std::nullopt;
}

ExpectedFileSize ExpectedFileSizeRule(std::span<const std::uint8_t> headers) {
    using Rule = ExpectedFileSize::Rule;
    if (StartsWith(headers, "MZ")) {
        const auto pe = PeSignatureOffset(headers);
        if (!pe)
            return {Rule::BadPeSignature};
        if (const auto end = CertificateTableEnd(headers, *pe))
            return {Rule::CertificateTable, *end};
        return {Rule::SizeSlot};
    }
    if (StartsWith(headers, "\x7F"
                            "ELF"))
        return {Rule::SizeSlot};
    return {Rule::NotProgram};
}

} // namespace sfx
