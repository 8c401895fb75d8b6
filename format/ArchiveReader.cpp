#include "format/ArchiveReader.h"

#include "cptlib/platform/OwnImage.h"
#include "format/ArchiveFallback.h"
#include "format/SevenZipReader.h"

namespace sfx {

std::unique_ptr<IArchiveReader> MakeArchiveReader(const std::string& path, std::uint64_t offset,
                                                  PasswordSource password) {
    // Ours deciphers and decodes folders side by side; the fallback may have more methods.
    if (auto reader = sevenzip::MakeSevenZipReader(path, offset, std::move(password)))
        return reader;
    return MakeFallbackReader(path, offset);
}

std::unique_ptr<IArchiveReader> MakeArchiveReader(const cptlib::platform::FileDescriptor& file,
                                                  std::uint64_t offset, PasswordSource password) {
    cptlib::platform::FileDescriptor probe;
    if (cptlib::Succeeded(cptlib::platform::ReopenFile(file, probe)))
        if (auto reader =
                sevenzip::MakeSevenZipReader(std::move(probe), offset, std::move(password)))
            return reader;
    return MakeFallbackReader(file, offset);
}

} // namespace sfx
