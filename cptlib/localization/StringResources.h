#pragma once
// The string-table interfaces: texts by Id for one culture, filled through loaders.

#include "cptlib/Utf.h"

#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace cptlib {

using CultureSet = std::set<std::string, less_icase>;
using StringMap = std::unordered_map<std::string, std::string>;

class IStringResourceLoader {
public:
    virtual ~IStringResourceLoader() = default;
    virtual CultureSet GetAllCultures() const = 0;
    virtual void LoadInto(StringMap& strings, const std::string& culture) = 0;
};

class IStringResources {
public:
    virtual ~IStringResources() = default;
    virtual void AddLoader(std::shared_ptr<IStringResourceLoader> loader) = 0;
    virtual void RemoveLoaders() = 0;
    virtual std::vector<std::shared_ptr<IStringResourceLoader>> GetLoaders() const = 0;
    virtual CultureSet GetAllCultures() const = 0;
    virtual void Load(const std::string& culture) = 0;
    virtual void Clear() = 0;
    virtual std::string GetCulture() const = 0;
    // The text of an Id; empty for an Id that is not loaded.
    virtual std::string GetText(const std::string& id) const = 0;
    virtual void SetText(const std::string& id, const std::string& text) = 0;
    virtual std::set<std::string> GetIds() const = 0;
};

} // namespace cptlib
