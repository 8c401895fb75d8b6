#include "cptlib/localization/XmlStringResourcesLoader.h"

#include "cptlib/Exceptions.h"
#include "cptlib/PtreeErrorCategory.h"
#include "cptlib/Utf.h"
#include "cptlib/resources/LanguageIds.h"

#include <boost/algorithm/string/replace.hpp>
#include <boost/property_tree/exceptions.hpp>
#include <boost/property_tree/ptree.hpp>
#include <boost/property_tree/xml_parser.hpp>

#include <sstream>
#include <string>
#include <string_view>

namespace cptlib {

namespace {

namespace pt = boost::property_tree;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// A table is three levels deep at most (root, String, an inline element in a text). The XML
// reader recurses once per level, so a hostile table nested thousands deep would exhaust the
// stack; deeper documents are refused before they are parsed.
constexpr std::size_t kMaxXmlNesting = 64;

// Whether elements nest deeper than `limit`, by a scan of the tags alone (comments, CDATA
// sections, declarations and processing instructions do not count).
bool NestedDeeperThan(std::string_view xml, std::size_t limit) {
    std::size_t depth = 0;
    std::size_t i = 0;
    const auto skipPast = [&](std::size_t from, std::string_view end) {
        const std::size_t found = xml.find(end, from);
        return found == std::string_view::npos ? xml.size() : found + end.size();
    };
    while ((i = xml.find('<', i)) != std::string_view::npos) {
        const std::string_view rest = xml.substr(i);
        if (rest.starts_with("<!--")) {
            i = skipPast(i + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            i = skipPast(i + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            i = skipPast(i + 2, "?>");
        } else if (rest.starts_with("<!")) {
            i = skipPast(i + 2, ">");
        } else if (rest.starts_with("</")) {
            if (depth > 0)
                --depth;
            i = skipPast(i + 2, ">");
        } else {
            // The tag ends at the first '>' outside a quoted attribute value.
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < xml.size(); ++j) {
                const char c = xml[j];
                if (quote != 0) {
                    if (c == quote)
                        quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (j == xml.size() || xml[j - 1] != '/') {
                if (++depth > limit)
                    return true;
            }
            i = j;
        }
    }
    return false;
}

[[noreturn]] void ThrowXmlError(PtreeError code, const std::string& message) {
    CPT_THROW(SystemError(make_error_code(code), message));
}

std::string ReadAll(std::istream& in) {
    std::string data;
    char chunk[16384];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0)
        data.append(chunk, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        BOOST_PROPERTY_TREE_THROW(pt::xml_parser_error("read error", std::string(), 0));
    return data;
}

// Whitespace normalisation of the reader leaves no way to write a line break or a tab.
std::string Unescape(std::string text) {
    boost::algorithm::replace_all(text, "\\n", "\n");
    boost::algorithm::replace_all(text, "\\t", "\t");
    boost::algorithm::replace_all(text, "\\\\", "\\");
    return text;
}

} // namespace

void LoadXmlStringResources(StringMap* strings, std::istream& xml, const std::string& rootElement) {
    if (strings == nullptr)
        CPT_THROW(WithInfo<std::invalid_argument>("LoadXmlStringResources: no map"));

    std::string data = ReadAll(xml);
    if (data.starts_with(kUtf8Bom))
        data.erase(0, kUtf8Bom.size());
    if (NestedDeeperThan(data, kMaxXmlNesting))
        ThrowXmlError(PtreeError::BadData, "XML error: elements nested deeper than " +
                                               std::to_string(kMaxXmlNesting) + " levels");
    std::istringstream document(std::move(data));
    pt::ptree tree;
    pt::read_xml(document, tree, pt::xml_parser::trim_whitespace | pt::xml_parser::no_comments);

    const pt::ptree* root = nullptr;
    if (rootElement.empty()) {
        if (!tree.empty())
            root = &tree.front().second;
    } else if (const auto found = tree.find(rootElement); found != tree.not_found()) {
        root = &found->second;
    }
    if (root == nullptr)
        ThrowXmlError(PtreeError::BadData,
                      "XML error (root element '" + rootElement + "' not found)");

    try {
        for (const auto& [name, child] : *root) {
            if (name != "String")
                continue;
            std::string id = child.get<std::string>("<xmlattr>.Id");
            std::string text = Unescape(child.data());
            // Texts go to windows and logs as UTF-8; a damaged table must not carry bad bytes.
            if (!IsValidUtf8(id) || !IsValidUtf8(text))
                BOOST_PROPERTY_TREE_THROW(pt::ptree_bad_data("invalid UTF-8 text", id));
            (*strings)[std::move(id)] = std::move(text);
        }
    } catch (const pt::ptree_bad_path& e) {
        ThrowXmlError(PtreeError::BadPath, std::string("XML error: ") + e.what());
    } catch (const pt::ptree_bad_data& e) {
        ThrowXmlError(PtreeError::BadData, std::string("XML error: ") + e.what());
    }
}

ResourceLocation StringTableLocation(const ResourceLocation& base, const std::string& culture) {
    ResourceLocation location = base;
    if (!culture.empty()) {
        if (const auto lcid = Rfc1766ToLcid(culture); lcid && *lcid != 0)
            location.language = *lcid;
    }
    return location;
}

} // namespace cptlib
