// The parent-folder cache of a target folder: no system call here, so both systems build this
// file; each gives its own Walk.

#include "cptlib/platform/TargetFolder.h"

#include <algorithm>

namespace cptlib::platform {

std::uint32_t TargetFolder::OpenParent(NameParts name, bool create, FileHandle& folder) {
    if (name.empty())
        return kErrorInvalidParameter;
    const NameParts parents = name.first(name.size() - 1);
    if (!cached_ ||
        !std::equal(parents.begin(), parents.end(), cachedParent_.begin(), cachedParent_.end())) {
        FileDescriptor opened;
        // A folder below the last one goes on from there: a deep tree costs no walk per level.
        const bool below = cached_ && parents.size() > cachedParent_.size() &&
                           std::equal(cachedParent_.begin(), cachedParent_.end(), parents.begin());
        const std::uint32_t error =
            below ? Walk(parents.subspan(cachedParent_.size()), create, opened, cached_.get())
                  : Walk(parents, create, opened);
        if (error != 0)
            return error;
        cached_ = std::move(opened);
        cachedParent_.assign(parents.begin(), parents.end());
    }
    folder = cached_.get();
    return 0;
}

} // namespace cptlib::platform
