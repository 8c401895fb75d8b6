#include "cptlib/platform/File.h"

// The retry rule is the same on every system; only what counts as a sharing violation differs.
namespace cptlib::platform {

HRESULT RetryOnSharingViolation(const std::function<HRESULT()>& attempt,
                                const std::function<void()>& pause) {
    constexpr int kOpenAttempts = 5;
    HRESULT hr = kHrOk;
    for (int i = 0; i < kOpenAttempts; ++i) {
        if (i > 0)
            pause();
        hr = attempt();
        if (hr != HRESULT_SHARING_VIOLATION)
            return hr;
    }
    return hr;
}

} // namespace cptlib::platform
