#include "launcher/SelfCheck.h"

#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"
#include "cptlib/resources/ResourceUtils.h"
#include "launcher/Format.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

namespace sfx {

namespace {

// Only the headers are needed.
constexpr std::uint64_t kHeaderViewLimit = 0x100000;

constexpr std::uint32_t kPeHeaderPointer = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550; // "PE\0\0"
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// Offsets from the PE signature; PE32+ has 16 more bytes of optional header before them.
constexpr std::uint64_t kMagicOffset = 24;
constexpr std::uint64_t kDirectoryCountOffset = 116;
constexpr std::uint64_t kSecurityEntryOffset = 152;
constexpr std::uint64_t kPe32PlusShift = 16;
constexpr std::uint32_t kSecurityDirectoryIndex = 4;

constexpr std::string_view kVerifyResource = "_VRN_VERIFY";

template <class T>
std::optional<T> ReadLittleEndian(std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < sizeof(T))
        return std::nullopt;
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        value |= static_cast<T>(static_cast<T>(bytes[offset + i]) << (8 * i));
    return value;
}

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() &&
           std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

std::string ReadFailure(const cptlib::IStringResources& strings, cptlib::HRESULT hr) {
    return strings.GetText("SfxErrorReadArchive") + FormatText(" (%d)", hr);
}

// The end of the certificate table, or nullopt when the image has none.
std::optional<std::uint64_t> CertificateTableEnd(std::span<const std::uint8_t> headers,
                                                 std::uint32_t pe) {
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

std::optional<std::uint64_t> SizeFromResource(const std::filesystem::path& path) {
    std::string bytes;
    if (cptlib::Failed(cptlib::ReadFileResource(path, std::string(kVerifyResource), bytes)) ||
        bytes.size() != sizeof(std::uint64_t))
        return std::nullopt;
    return ReadLittleEndian<std::uint64_t>(
        {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, 0);
}

} // namespace

std::string VerifyOwnFileSize(const std::filesystem::path& path,
                              const cptlib::IStringResources& strings) {
    using namespace cptlib::platform;
    std::optional<std::uint64_t> expected;
    {
        FileDescriptor file;
        cptlib::HRESULT hr = OpenFileForRead(file, path);
        if (cptlib::Failed(hr))
            return ReadFailure(strings, hr);
        std::uint64_t size = 0;
        hr = QueryFileSize(file, size);
        if (cptlib::Failed(hr))
            return ReadFailure(strings, hr);
        MappedFileView view;
        hr = view.Map(file, static_cast<std::uint32_t>(std::min(size, kHeaderViewLimit)));
        if (cptlib::Failed(hr))
            return ReadFailure(strings, hr);

        const auto headers = view.bytes();
        if (StartsWith(headers, "MZ")) {
            const auto pe = ReadLittleEndian<std::uint32_t>(headers, kPeHeaderPointer);
            const auto signature =
                pe ? ReadLittleEndian<std::uint32_t>(headers, *pe) : std::nullopt;
            if (!signature || *signature != kPeSignature)
                return "Invalid PE signature.";
            expected = CertificateTableEnd(headers, *pe);
        } else if (!StartsWith(headers, "\x7F"
                                        "ELF")) {
            return "File does not have EXE format.";
        }
    }
    if (!expected) {
        expected = SizeFromResource(path);
        if (!expected)
            return "Resource _VRN_VERIFY is not found.";
    }

    std::uint64_t actualSize = 0;
    const bool known = cptlib::Succeeded(cptlib::platform::QueryFileSize(path, actualSize));
    if (known && actualSize == *expected)
        return {};
    const std::int64_t actual = known ? static_cast<std::int64_t>(actualSize) : -1;
    return strings.GetText("SfxErrorBadArchive") + "\n\n" +
           FormatText(strings.GetText("ErrorSize"), static_cast<std::int64_t>(*expected), actual);
}

} // namespace sfx
