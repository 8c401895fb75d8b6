#pragma once
// The start-up check that the launcher file is as long as the build tool made it, so that a
// truncated or extended download is refused before anything is extracted.

#include "cptlib/localization/StringResources.h"
#include "cptlib/platform/File.h"

#include <filesystem>
#include <string>

namespace sfx {

// Empty when the file has its expected size: for a PE file the end of its certificate table, or
// else (and for our ELF image) the size the _VRN_VERIFY resource holds. Otherwise the message to
// show. Never throws on file content.
std::string VerifyOwnFileSize(const std::filesystem::path& path,
                              const cptlib::IStringResources& strings);
// The same for the launcher file opened at start-up.
std::string VerifyOwnFileSize(const cptlib::platform::FileDescriptor& file,
                              const cptlib::IStringResources& strings);

} // namespace sfx
