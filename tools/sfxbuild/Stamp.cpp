#include "sfxbuild/Build.h"

#include "cptlib/SystemError.h"
#include "cptlib/Utf.h"
#include "cptlib/resources/ResourceUtils.h"
#include "format/DataBlock.h"
#include "format/Payload.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

namespace sfxbuild {

namespace {

struct Assignment {
    std::string name;
    std::string value;
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

// The slots whose values the launcher forwards; _VRN_VERIFY is the build tool's own.
bool IsValueSlot(const std::string& name) {
    std::string upper = name;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return upper.starts_with("VRN") || upper.starts_with("ZQ_");
}

constexpr const char* kSlotList = "the slots are VRNID (256 bytes), VRNID2 (256) and "
                                  "ZQ_BRINDLE_PHASH (34)";

// The launcher reads the data block only while every slot is empty.
void WarnIfDataBlockStopsForwarding(const std::filesystem::path& file,
                                    const std::vector<Assignment>& slots) {
    if (std::none_of(slots.begin(), slots.end(),
                     [](const Assignment& a) { return !a.value.empty(); }))
        return;
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(file, ec);
    if (ec || size < sfx::kDataBlockWindow)
        return;
    const std::string window =
        ReadFileRange(file, size - sfx::kDataBlockWindow, sfx::kDataBlockWindow);
    sfx::DataBlockPosition block;
    if (sfx::FindDataBlockIn({reinterpret_cast<const std::uint8_t*>(window.data()), window.size()},
                             block) != sfx::DataBlockSearch::Found)
        return;
    std::cerr << "sfxbuild: warning: " << Quoted(file)
              << ": its data block (create --data) is no longer forwarded once a slot holds a "
                 "value; the launcher forwards the slots instead\n";
}

} // namespace

void Stamp(const std::filesystem::path& file, const std::vector<std::string>& assignments) {
    const std::string where = Quoted(file) + ": ";
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        throw BuildError("cannot open " + Quoted(file) + ": " +
                         (std::filesystem::exists(file, ec) ? "not a file" : "no such file"));
    std::vector<Assignment> slots;
    for (const std::string& text : assignments) {
        const auto equals = text.find('=');
        if (equals == std::string::npos || equals == 0)
            throw BuildError(where + "'" + text + "' is not NAME=VALUE");
        Assignment a{text.substr(0, equals), text.substr(equals + 1)};
        if (!cptlib::IsValidUtf8(a.name) || !cptlib::IsValidUtf8(a.value))
            throw BuildError(where + "'" + a.name + "' assignment is not valid UTF-8");
        // The launcher would take a marker for its payload's; a line break would forge lines of
        // the values handed to the setup.
        if (a.value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos)
            throw BuildError(where + "the value for '" + a.name +
                             "' holds a line break or NUL, which slots cannot carry");
        for (const std::string& marker : {sfx::StartMarker(), sfx::EndMarker()})
            if (a.value.find(marker) != std::string::npos)
                throw BuildError(where + "the value for '" + a.name + "' holds the marker text '" +
                                 marker + "', which would break the launcher file");
        const cptlib::HRESULT hr = cptlib::LocateFileResource(file, cptlib::kRtRcData, a.name,
                                                              std::nullopt, a.offset, a.size);
        if (hr == cptlib::HResultFromWin32(cptlib::kErrorResourceNameNotFound) ||
            hr == cptlib::HResultFromWin32(cptlib::kErrorResourceTypeNotFound))
            throw BuildError(where + "unknown slot '" + a.name + "'; " + kSlotList);
        if (hr == cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND)
            throw BuildError(where + "not a program file with resources (PE or ELF)");
        if (cptlib::Failed(hr))
            throw BuildError(where + "cannot read the resources: " +
                             cptlib::SystemErrorText(static_cast<std::uint32_t>(hr)));
        if (!IsValueSlot(a.name))
            throw BuildError(where + "'" + a.name + "' is not a value slot; " + kSlotList);
        if (a.value.size() > a.size)
            throw BuildError(where + "the value for '" + a.name + "' is " +
                             std::to_string(a.value.size()) + " bytes; the slot holds " +
                             std::to_string(a.size));
        slots.push_back(std::move(a));
    }

    WarnIfDataBlockStopsForwarding(file, slots);
    std::fstream out(file, std::ios::in | std::ios::out | std::ios::binary);
    if (!out)
        throw BuildError("cannot open " + Quoted(file) + " for writing: " + std::strerror(errno));
    for (const Assignment& a : slots) {
        std::string padded = a.value;
        padded.resize(a.size, '\0');
        out.seekp(static_cast<std::streamoff>(a.offset));
        out.write(padded.data(), static_cast<std::streamsize>(padded.size()));
    }
    out.close();
    if (!out)
        throw BuildError("cannot write " + Quoted(file));
}

} // namespace sfxbuild
