// The data block near a launcher file's end (marker search, payload, "key=value&..." query),
// the file-name tag, and the values file written from what was read.
#include "ScratchFolder.h"
#include "format/DataBlock.h"
#include "launcher/Forwarding.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

// One values file for the whole run, in a folder of this process's own.
const std::filesystem::path& ValuesFile() {
    static const fuzz::ScratchFolder folder("sfx-fuzz-values-");
    static const std::filesystem::path file = folder.Path() / "SetupValues.dat";
    return file;
}

// Lines of the values file hold one entry each: entries with a line break or NUL are left out.
void WriteAndCheck(const sfx::ForwardedValues& values) {
    std::string expected;
    for (const auto& [key, value] : values) {
        if ((key + value).find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos)
            expected += key + "=" + value + "\r\n";
    }
    sfx::WriteValuesFile(values, ValuesFile());
    std::ifstream in(ValuesFile(), std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    if (written != expected)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> window(data, size);
    sfx::DataBlockPosition position;
    if (sfx::FindDataBlockIn(window, position) == sfx::DataBlockSearch::Found) {
        if (position.payload > size || position.length > size - position.payload)
            std::abort();
        sfx::ForwardedValues values;
        sfx::ParseDataBlock(values, sfx::DataBlockPayload(window, position));
        WriteAndCheck(values);
    }

    const std::string text(reinterpret_cast<const char*>(data), size);
    // The bytes as a query: a block made from it is found and read back.
    try {
        const std::string block = sfx::MakeDataBlock(text);
        const auto bytes =
            std::span(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
        if (sfx::FindDataBlockIn(bytes, position) != sfx::DataBlockSearch::Found)
            std::abort();
        sfx::ForwardedValues values;
        sfx::ParseDataBlock(values, sfx::DataBlockPayload(bytes, position));
    } catch (const std::invalid_argument&) {
    }
    // The bytes as the name the launcher was started under.
    if (text.find('\0') == std::string::npos)
        sfx::FileNameTag(std::filesystem::path("/tmp") / text);
    return 0;
}
