#pragma once
// Item times for reproducible archives.

#include <cstdint>
#include <filesystem>

namespace cptlib::platform {

// Gives `copy` the modification time of `source`, but no later than `latest` (seconds since
// 1970), and the same access time; symbolic links themselves, not their targets. Returns 0 or
// the error number.
int CopyItemTime(const std::filesystem::path& source, const std::filesystem::path& copy,
                 std::int64_t latest);

} // namespace cptlib::platform
