#include "cptlib/PtreeErrorCategory.h"

namespace cptlib {

const char* PtreeErrorCategoryImpl::name() const noexcept { return "cptlib.ptree_error"; }

std::string PtreeErrorCategoryImpl::message(int value) const {
    switch (value) {
    case 2:
        return "bad path";
    case 3:
        return "bad data";
    default:
        return "generic error";
    }
}

bool PtreeErrorCategoryImpl::equivalent(const std::error_code& code, int condition) const noexcept {
    switch (condition) {
    case 2:
        return code == std::errc::bad_address;
    case 3:
        return code == std::errc::bad_message;
    default:
        return false;
    }
}

const std::error_category& ptree_error_category() noexcept {
    static const PtreeErrorCategoryImpl category;
    return category;
}

} // namespace cptlib
