// Reading forwarded values from arbitrary bytes as the launcher reads a file it was asked to
// take them from: the compound-file check picks the installer database's Property table, other
// files are read for resources and the data block. The database itself is read in a child
// process, so the same bytes are also decoded as the reply such a reader sends.
#include "ScratchFolder.h"
#include "cptlib/msi/IsolatedQuery.h"
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

    static const std::vector<cptlib::msi::IsolatedQuery> queries = {
        {"a", 1, true}, {"b", 1, false}, {"c", 2, false}};
    std::vector<cptlib::msi::Rows> results;
    try {
        cptlib::msi::DecodeQueryReply(std::string_view(reinterpret_cast<const char*>(data), size),
                                      queries, results);
    } catch (const cptlib::msi::Exception&) {
    }
    return 0;
}
