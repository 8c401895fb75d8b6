#pragma once
// The reader for archives that the own 7z reader declines (damaged headers, methods it does
// not decode). Linux hands them to libarchive (ArchiveReaderLibArchive.cpp); the Windows
// launcher carries no second reader (win32/ArchiveReaderNoFallback.cpp).

#include "format/ArchiveReader.h"

namespace sfx {

std::unique_ptr<IArchiveReader> MakeFallbackReader(const std::string& path, std::uint64_t offset);
// Reads through a descriptor of its own, opened through `file`.
std::unique_ptr<IArchiveReader> MakeFallbackReader(const cptlib::platform::FileDescriptor& file,
                                                   std::uint64_t offset);

} // namespace sfx
