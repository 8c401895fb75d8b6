#pragma once
// The reader that decodes folders itself, for archives with enciphered items, which the
// archive library cannot decipher.

#include "cptlib/platform/File.h"
#include "format/ArchiveReader.h"

#include <memory>
#include <string>

namespace sfx::sevenzip {

// A reader when the archive's headers are readable and name a cipher (in the data or in the
// headers themselves); null otherwise, so that the library reads the archive.
std::unique_ptr<IArchiveReader>
MakeEncipheredArchiveReader(const std::string& path, std::uint64_t offset, PasswordSource password);
// The same over a descriptor of its own.
std::unique_ptr<IArchiveReader> MakeEncipheredArchiveReader(cptlib::platform::FileDescriptor file,
                                                            std::uint64_t offset,
                                                            PasswordSource password);

} // namespace sfx::sevenzip
