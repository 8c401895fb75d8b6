#include "cptlib/localization/MemStringResources.h"

#include "cptlib/Exceptions.h"

#include <utility>

namespace cptlib {

void MemStringResources::AddLoader(std::shared_ptr<IStringResourceLoader> loader) {
    if (loader)
        loaders.push_back(std::move(loader));
}

void MemStringResources::RemoveLoaders() {
    loaders.clear();
}

std::vector<std::shared_ptr<IStringResourceLoader>> MemStringResources::GetLoaders() const {
    return loaders;
}

CultureSet MemStringResources::GetAllCultures() const {
    if (loaders.empty())
        CPT_THROW(RuntimeError("Cannot get available cultures: No resource loader defined"));
    CultureSet cultures;
    for (const auto& loader : loaders) {
        if (loader)
            cultures.merge(loader->GetAllCultures());
    }
    return cultures;
}

void MemStringResources::Load(const std::string& newCulture) {
    if (!strings.empty() && newCulture == culture)
        return;
    if (loaders.empty())
        CPT_THROW(RuntimeError("Cannot load string resources: No resource loader defined"));
    // Filled aside so that a failing loader leaves the loaded texts in place.
    StringMap loaded;
    for (const auto& loader : loaders) {
        if (loader)
            loader->LoadInto(loaded, newCulture);
    }
    strings = std::move(loaded);
    culture = newCulture;
}

void MemStringResources::Clear() {
    strings.clear();
}

std::string MemStringResources::GetCulture() const {
    return culture;
}

std::string MemStringResources::GetText(const std::string& id) const {
    const auto found = strings.find(id);
    return found != strings.end() ? found->second : std::string();
}

void MemStringResources::SetText(const std::string& id, const std::string& text) {
    strings[id] = text;
}

std::set<std::string> MemStringResources::GetIds() const {
    std::set<std::string> ids;
    for (const auto& entry : strings)
        ids.insert(entry.first);
    return ids;
}

} // namespace cptlib
