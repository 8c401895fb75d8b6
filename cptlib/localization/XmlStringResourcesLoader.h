#pragma once
// String tables as XML documents:
//   <VrnSetupLocalization><String Id="OK">OK</String>...</VrnSetupLocalization>
// carried as resources of type ZQ_XML_STRING, name 1, one language each.

#include "cptlib/localization/StringResources.h"
#include "cptlib/resources/ResourceUtils.h"

#include <istream>
#include <string>

namespace cptlib {

// Reads the String children of the element `rootElement` (empty: the document's first
// element, whatever its name) into `strings`, a later Id replacing an earlier one. Texts are
// trimmed, inner white space runs become one space, then "\n", "\t" and "\\" are unescaped in
// that order.
// Throws: the XML reader's parse error for a malformed document; SystemError of
// ptree_error_category() with code 3 (missing root, bad data) or 2 (String without Id). Ids
// read before the error stay in `strings`.
void LoadXmlStringResources(StringMap* strings, std::istream& xml, const std::string& rootElement);

// The resource of the string table for a culture: `base` with the culture's language id, or
// without a language (the reader picks a table) when the culture is empty or unknown.
ResourceLocation StringTableLocation(const ResourceLocation& base, const std::string& culture);

// Reads the string tables carried in the program's own image.
class XmlAppStringResourceLoader : public IStringResourceLoader {
public:
    XmlAppStringResourceLoader();
    XmlAppStringResourceLoader(std::string rootElement, ResourceLocation location);

    // Always throws RuntimeError: the tables are not enumerated.
    CultureSet GetAllCultures() const override;
    void LoadInto(StringMap& strings, const std::string& culture) override;

private:
    std::string rootElement;
    ResourceLocation location;
};

} // namespace cptlib
