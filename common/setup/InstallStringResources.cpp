#include "common/setup/InstallStringResources.h"

namespace zqmsi {

InstallStringResources::InstallStringResources()
    : placeholderPattern(cptlib::kPlaceholderPattern) {}

InstallStringResources::~InstallStringResources() = default;

std::string InstallStringResources::GetText(const std::string& id) const {
    return cptlib::ExpandPlaceholders(MemStringResources::GetText(id), properties,
                                      placeholderPattern, true);
}

} // namespace zqmsi
