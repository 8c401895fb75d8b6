#include "sfxbuild/Build.h"

#include "cptlib/SystemError.h"
#include "cptlib/Utf.h"
#include "cptlib/resources/ResourceTree.h"
#include "cptlib/resources/ResourceUtils.h"
#include "format/ConfigBlock.h"
#include "format/DataBlock.h"
#include "format/Payload.h"
#include "format/SevenZipSignature.h"
#include "format/SizeSlot.h"

#include <iomanip>

namespace sfxbuild {

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string SlotValue(const std::string& name, const std::string& bytes) {
    if (bytes.find_first_not_of('\0') == std::string::npos)
        return "(empty)";
    if (const auto size = sfx::DecodeSizeSlot(bytes); name == sfx::kSizeSlotName && size)
        return std::to_string(*size);
    return bytes.substr(0, bytes.find('\0'));
}

void PrintIndented(std::ostream& out, const std::string& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        out << "    " << text.substr(start, end - start) << "\n";
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
}

} // namespace

void Info(const std::filesystem::path& file, std::ostream& out) {
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec)
        throw BuildError("cannot read " + Quoted(file) + ": " + ec.message());
    const std::string front = ReadFileRange(file, 0, std::min(size, sfx::kMarkerSearchLimit));
    if (front.size() != std::min(size, sfx::kMarkerSearchLimit))
        throw BuildError("cannot read " + Quoted(file));
    if (cptlib::DetectImageFormat(AsBytes(front)) == cptlib::ImageFormat::Unknown)
        throw BuildError(Quoted(file) + " is not a program file (PE or ELF)");

    out << "file: " << file.string() << "\n";
    out << "size: " << size << "\n";
    const auto layout = sfx::FindPayload(AsBytes(front));
    if (!layout) {
        out << "image: offset 0, size " << size << "\n";
        out << "payload: none\n";
    } else {
        out << "image: offset 0, size " << layout->startMarker << "\n";
        out << "start marker: offset " << layout->startMarker << ", size " << sfx::kStartMarkerSize
            << "\n";
        out << "configuration block: offset " << layout->blockOffset << ", size "
            << layout->blockSize << "\n";
        out << "end marker: offset " << layout->blockOffset + layout->blockSize << ", size "
            << sfx::kEndMarkerSize << "\n";
        const auto archive = sfx::sevenzip::ArchiveSize(AsBytes(
            ReadFileRange(file, layout->archiveOffset, sfx::sevenzip::kSignatureHeaderSize)));
        out << "archive: offset " << layout->archiveOffset;
        if (archive)
            out << ", size " << *archive << "\n";
        else
            out << ", not a 7z archive\n";
    }
    if (size >= sfx::kDataBlockWindow) {
        const std::uint64_t windowAt = size - sfx::kDataBlockWindow;
        const std::string window = ReadFileRange(file, windowAt, sfx::kDataBlockWindow);
        sfx::DataBlockPosition block;
        if (sfx::FindDataBlockIn(AsBytes(window), block) == sfx::DataBlockSearch::Found) {
            const std::u16string payload = sfx::DataBlockPayload(AsBytes(window), block);
            out << "data block: offset " << windowAt + block.start << ", size "
                << block.payload - block.start + block.length + sfx::DataBlockEndMarker().size()
                << ", query " << cptlib::Utf16ToUtf8(payload).value_or("(not UTF-16)") << "\n";
        }
    }

    if (layout) {
        std::string text;
        const cptlib::HRESULT hr = sfx::ReadConfigurationBlock(file, text);
        if (cptlib::Succeeded(hr)) {
            out << "configuration:\n";
            PrintIndented(out, text);
        } else {
            out << "configuration: cannot be deciphered ("
                << cptlib::SystemErrorText(static_cast<std::uint32_t>(hr)) << ")\n";
        }
    }

    std::vector<std::string> names;
    const cptlib::HRESULT hr = cptlib::EnumRcDataNames(file, names);
    if (cptlib::Failed(hr) && hr != cptlib::HRESULT_NO_MORE_ITEMS)
        throw BuildError("cannot read the resources of " + Quoted(file) + ": " +
                         cptlib::SystemErrorText(static_cast<std::uint32_t>(hr)));
    out << "slots:\n";
    for (const std::string& name : names) {
        std::string bytes;
        if (cptlib::Failed(cptlib::ReadFileResource(file, name, bytes)))
            throw BuildError("cannot read resource '" + name + "' of " + Quoted(file));
        out << "    " << std::left << std::setw(18) << name << std::right << std::setw(5)
            << bytes.size() << "  " << SlotValue(name, bytes) << "\n";
        if (const auto slot = sfx::DecodeSizeSlot(bytes);
            name == sfx::kSizeSlotName && slot && *slot != size)
            out << "    (_VRN_VERIFY differs from the file size " << size << ")\n";
    }
}

} // namespace sfxbuild
