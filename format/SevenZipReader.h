#pragma once
// The reader that decodes folders itself, independent folders on threads of their own, for
// archives whose coders it has; the archive library reads the others.

#include "cptlib/platform/File.h"
#include "format/ArchiveReader.h"

#include <memory>
#include <string>

namespace sfx::sevenzip {

// A reader when the archive's headers are readable and every folder's coders are ours (or the
// headers themselves are enciphered); null otherwise, so that the library reads the archive.
std::unique_ptr<IArchiveReader> MakeSevenZipReader(const std::string& path, std::uint64_t offset,
                                                   PasswordSource password);
// The same over a descriptor of its own.
std::unique_ptr<IArchiveReader> MakeSevenZipReader(cptlib::platform::FileDescriptor file,
                                                   std::uint64_t offset, PasswordSource password);

} // namespace sfx::sevenzip
