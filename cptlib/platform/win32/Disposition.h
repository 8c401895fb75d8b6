#pragma once
// The creation disposition of the file seams in CreateFileW's terms.

#include "cptlib/platform/File.h"

#include <windows.h>

namespace cptlib::platform {

inline DWORD NativeDisposition(CreationDisposition disposition) {
    switch (disposition) {
    case CreationDisposition::CreateNew:
        return CREATE_NEW;
    case CreationDisposition::CreateAlways:
        return CREATE_ALWAYS;
    case CreationDisposition::OpenExisting:
        return OPEN_EXISTING;
    case CreationDisposition::OpenAlways:
        return OPEN_ALWAYS;
    case CreationDisposition::TruncateExisting:
        return TRUNCATE_EXISTING;
    }
    return OPEN_EXISTING;
}

} // namespace cptlib::platform
