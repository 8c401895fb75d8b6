#pragma once
// A string table held in memory, filled for one culture through its loaders.

#include "cptlib/localization/StringResources.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace cptlib {

class MemStringResources : public IStringResources {
public:
    MemStringResources() = default;
    ~MemStringResources() override = default;

    // A null loader is ignored.
    void AddLoader(std::shared_ptr<IStringResourceLoader> loader) override;
    void RemoveLoaders() override;
    std::vector<std::shared_ptr<IStringResourceLoader>> GetLoaders() const override;
    // The union of the loaders' cultures; throws RuntimeError without loaders.
    CultureSet GetAllCultures() const override;
    // Reads the texts of `culture` through every loader in order, a later loader overriding
    // an earlier one. Nothing changes when the same culture (exact case) is already loaded or
    // when a loader throws. Throws RuntimeError without loaders.
    void Load(const std::string& culture) override;
    // Removes the texts; the culture stays.
    void Clear() override;
    std::string GetCulture() const override;
    std::string GetText(const std::string& id) const override;
    void SetText(const std::string& id, const std::string& text) override;
    std::set<std::string> GetIds() const override;

private:
    std::vector<std::shared_ptr<IStringResourceLoader>> loaders;
    StringMap strings;
    std::string culture;
};

} // namespace cptlib
