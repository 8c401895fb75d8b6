#include "sfxbuild/Build.h"
#include "sfxbuild/Inspect.h"

#include "cptlib/SystemError.h"
#include "cptlib/Utf.h"
#include "cptlib/resources/ResourceTree.h"
#include "cptlib/resources/ResourceUtils.h"
#include "format/ArchiveReader.h"
#include "format/ConfigBlock.h"
#include "format/DataBlock.h"
#include "format/FileDigest.h"
#include "format/Payload.h"
#include "format/SevenZipSignature.h"
#include "format/SizeSlot.h"

#include <cstdio>
#include <iomanip>
#include <optional>

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
    if (name == sfx::kDigestSlotName) {
        std::string hex;
        for (const char c : bytes) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
            hex += digits;
        }
        return hex;
    }
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

// Whether the items' data is enciphered: the first item with data asks for a password.
// nullopt when the archive cannot tell (no data, or it cannot be read).
std::optional<bool> DataEnciphered(const std::filesystem::path& file, std::uint64_t offset) {
    const auto reader = sfx::MakeArchiveReader(file.string(), offset);
    sfx::ArchiveIndex index;
    if (!reader->ReadIndex(index).Ok())
        return std::nullopt;
    const auto asked = [](const sfx::ArchiveStatus& status) {
        return status.code == sfx::kHrAbort && status.text.empty();
    };
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        if (const sfx::ArchiveStatus status = reader->NextItem(item, more); !status.Ok())
            return asked(status) ? std::optional<bool>(true) : std::nullopt;
        if (!more)
            return std::nullopt;
        if (item.type != sfx::ArchiveItemType::File || item.size == 0)
            continue;
        std::span<const std::uint8_t> block;
        const sfx::ArchiveStatus status = reader->ReadBlock(block);
        if (status.Ok())
            return false;
        return asked(status) ? std::optional<bool>(true) : std::nullopt;
    }
}

struct Region {
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
};

struct Slot {
    std::string name;
    std::uint64_t size = 0;
    std::string value;  // as `info` shows it
    bool empty = false; // zero-filled
    bool sizeDiffers = false;
};

// What `info` tells about a file, in both its forms.
struct Facts {
    std::uint64_t size = 0;
    std::uint64_t imageSize = 0;
    std::optional<sfx::PayloadLayout> layout;
    std::optional<std::uint64_t> archiveSize; // with layout: nullopt when not a 7z archive
    std::optional<bool> enciphered;           // the items' data
    std::optional<Region> dataBlock;
    std::optional<std::string> dataQuery; // nullopt when not UTF-16
    std::optional<std::string> configuration;
    std::string configurationError;
    std::vector<Slot> slots;
};

Facts Gather(const std::filesystem::path& file) {
    Facts facts;
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec)
        throw BuildError("cannot read " + Quoted(file) + ": " + ec.message());
    facts.size = size;
    const std::string front = ReadFileRange(file, 0, std::min(size, sfx::kMarkerSearchLimit));
    if (front.size() != std::min(size, sfx::kMarkerSearchLimit))
        throw BuildError("cannot read " + Quoted(file));
    if (cptlib::DetectImageFormat(AsBytes(front)) == cptlib::ImageFormat::Unknown)
        throw BuildError(Quoted(file) + " is not a program file (PE or ELF)");

    facts.layout = sfx::FindPayload(AsBytes(front));
    facts.imageSize = facts.layout ? facts.layout->startMarker : size;
    if (facts.layout)
        facts.archiveSize = sfx::sevenzip::ArchiveSize(AsBytes(
            ReadFileRange(file, facts.layout->archiveOffset, sfx::sevenzip::kSignatureHeaderSize)));
    if (facts.archiveSize)
        facts.enciphered = DataEnciphered(file, facts.layout->archiveOffset);
    if (size >= sfx::kDataBlockWindow) {
        const std::uint64_t windowAt = size - sfx::kDataBlockWindow;
        const std::string window = ReadFileRange(file, windowAt, sfx::kDataBlockWindow);
        sfx::DataBlockPosition block;
        if (sfx::FindDataBlockIn(AsBytes(window), block) == sfx::DataBlockSearch::Found) {
            facts.dataBlock =
                Region{windowAt + block.start, block.payload - block.start + block.length +
                                                   sfx::DataBlockEndMarker().size()};
            facts.dataQuery = cptlib::Utf16ToUtf8(sfx::DataBlockPayload(AsBytes(window), block));
        }
    }
    if (facts.layout) {
        std::string text;
        const cptlib::HRESULT hr = sfx::ReadConfigurationBlock(file, text);
        if (cptlib::Succeeded(hr))
            facts.configuration = std::move(text);
        else
            facts.configurationError = cptlib::SystemErrorText(static_cast<std::uint32_t>(hr));
    }

    std::vector<std::string> names;
    const cptlib::HRESULT hr = cptlib::EnumRcDataNames(file, names);
    if (cptlib::Failed(hr) && hr != cptlib::HRESULT_NO_MORE_ITEMS)
        throw BuildError("cannot read the resources of " + Quoted(file) + ": " +
                         cptlib::SystemErrorText(static_cast<std::uint32_t>(hr)));
    for (const std::string& name : names) {
        std::string bytes;
        if (cptlib::Failed(cptlib::ReadFileResource(file, name, bytes)))
            throw BuildError("cannot read resource '" + name + "' of " + Quoted(file));
        const auto slot = sfx::DecodeSizeSlot(bytes);
        facts.slots.push_back({name, bytes.size(), SlotValue(name, bytes),
                               bytes.find_first_not_of('\0') == std::string::npos,
                               name == sfx::kSizeSlotName && slot && *slot != size});
    }
    return facts;
}

// A JSON string: UTF-8 kept, quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string JsonRegion(std::uint64_t offset, std::uint64_t size) {
    return "{\"offset\": " + std::to_string(offset) + ", \"size\": " + std::to_string(size) + "}";
}

} // namespace

void Info(const std::filesystem::path& file, std::ostream& out) {
    const Facts facts = Gather(file);
    out << "file: " << file.string() << "\n";
    out << "size: " << facts.size << "\n";
    out << "image: offset 0, size " << facts.imageSize << "\n";
    if (!facts.layout) {
        out << "payload: none\n";
    } else {
        const sfx::PayloadLayout& layout = *facts.layout;
        out << "start marker: offset " << layout.startMarker << ", size " << sfx::kStartMarkerSize
            << "\n";
        out << "configuration block: offset " << layout.blockOffset << ", size " << layout.blockSize
            << "\n";
        out << "end marker: offset " << layout.blockOffset + layout.blockSize << ", size "
            << sfx::kEndMarkerSize << "\n";
        out << "archive: offset " << layout.archiveOffset;
        if (facts.archiveSize)
            out << ", size " << *facts.archiveSize << "\n";
        else
            out << ", not a 7z archive\n";
        if (facts.enciphered)
            out << "archive data enciphered: "
                << (*facts.enciphered ? "yes (the launcher asks for the password)" : "no") << "\n";
    }
    if (facts.dataBlock)
        out << "data block: offset " << facts.dataBlock->offset << ", size "
            << facts.dataBlock->size << ", query " << facts.dataQuery.value_or("(not UTF-16)")
            << "\n";
    if (facts.layout) {
        if (facts.configuration) {
            out << "configuration:\n";
            PrintIndented(out, *facts.configuration);
        } else {
            out << "configuration: cannot be deciphered (" << facts.configurationError << ")\n";
        }
    }
    out << "slots:\n";
    for (const Slot& slot : facts.slots) {
        out << "    " << std::left << std::setw(18) << slot.name << std::right << std::setw(5)
            << slot.size << "  " << slot.value << "\n";
        if (slot.sizeDiffers)
            out << "    (_VRN_VERIFY differs from the file size " << facts.size << ")\n";
    }
}

void InfoJson(const std::filesystem::path& file, std::ostream& out) {
    const Facts facts = Gather(file);
    out << "{\n  \"file\": " << JsonString(file.string()) << ",\n  \"size\": " << facts.size
        << ",\n  \"image\": " << JsonRegion(0, facts.imageSize) << ",\n  \"payload\": ";
    if (!facts.layout) {
        out << "null";
    } else {
        const sfx::PayloadLayout& layout = *facts.layout;
        out << "{\n    \"start_marker\": " << JsonRegion(layout.startMarker, sfx::kStartMarkerSize)
            << ",\n    \"configuration_block\": "
            << JsonRegion(layout.blockOffset, layout.blockSize) << ",\n    \"end_marker\": "
            << JsonRegion(layout.blockOffset + layout.blockSize, sfx::kEndMarkerSize)
            << ",\n    \"archive\": {\"offset\": " << layout.archiveOffset
            << ", \"size\": " << (facts.archiveSize ? std::to_string(*facts.archiveSize) : "null")
            << ", \"enciphered\": "
            << (facts.enciphered ? (*facts.enciphered ? "true" : "false") : "null") << "}\n  }";
    }
    out << ",\n  \"data_block\": ";
    if (facts.dataBlock)
        out << "{\"offset\": " << facts.dataBlock->offset << ", \"size\": " << facts.dataBlock->size
            << ", \"query\": " << (facts.dataQuery ? JsonString(*facts.dataQuery) : "null") << "}";
    else
        out << "null";
    out << ",\n  \"configuration\": "
        << (facts.configuration ? JsonString(*facts.configuration) : "null");
    out << ",\n  \"configuration_error\": "
        << (facts.layout && !facts.configuration ? JsonString(facts.configurationError) : "null");
    out << ",\n  \"slots\": [";
    for (std::size_t i = 0; i < facts.slots.size(); ++i) {
        const Slot& slot = facts.slots[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << JsonString(slot.name)
            << ", \"size\": " << slot.size
            << ", \"value\": " << JsonString(slot.empty ? "" : slot.value)
            << ", \"size_differs\": " << (slot.sizeDiffers ? "true" : "false") << "}";
    }
    out << (facts.slots.empty() ? "]" : "\n  ]") << "\n}\n";
}

} // namespace sfxbuild
