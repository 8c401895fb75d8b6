// Reading forwarded values from arbitrary bytes as the launcher reads a file it was asked to
// take them from: the compound-file check picks the installer database's Property table, other
// files are read for resources and the data block.
#include "ScratchFolder.h"
#include "launcher/Forwarding.h"

#include <cstdint>
#include <fstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fuzz::ScratchFolder root("sfx-fuzz-database-");
    const std::filesystem::path path = root.Path() / "values.msi";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    sfx::ForwardedValues values;
    sfx::ReadForwardedValues(path, values);
    return 0;
}
