#include "cptlib/localization/XmlStringResourcesLoader.h"

#include "cptlib/Exceptions.h"

#include <utility>

namespace cptlib {

XmlAppStringResourceLoader::XmlAppStringResourceLoader()
    : XmlAppStringResourceLoader(
          std::string(), ResourceLocation{{}, ResourceId("ZQ_XML_STRING"), ResourceId(1), {}}) {}

XmlAppStringResourceLoader::XmlAppStringResourceLoader(std::string rootElement_,
                                                       ResourceLocation location_)
    : rootElement(std::move(rootElement_)), location(std::move(location_)) {}

CultureSet XmlAppStringResourceLoader::GetAllCultures() const {
    CPT_THROW(RuntimeError("Cannot get available cultures: Function not implemented yet"));
}

void XmlAppStringResourceLoader::LoadInto(StringMap& strings, const std::string& culture) {
    const auto stream =
        CreateStreamFromResource(StringTableLocation(location, culture), std::ios_base::badbit);
    LoadXmlStringResources(&strings, *stream, rootElement);
}

} // namespace cptlib
