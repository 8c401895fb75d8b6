#pragma once

#include <system_error>

namespace cptlib {

// Failures of the XML string tables: 2 "bad path", 3 "bad data".
enum class PtreeError { BadPath = 2, BadData = 3 };

class PtreeErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override;
    std::string message(int value) const override;
    bool equivalent(const std::error_code& code, int condition) const noexcept override;
};

const std::error_category& ptree_error_category() noexcept;

inline std::error_code make_error_code(PtreeError e) noexcept {
    return {static_cast<int>(e), ptree_error_category()};
}

} // namespace cptlib
