#include "cptlib/localization/Placeholders.h"

namespace cptlib {

const boost::regex& PlaceholderPattern() {
    static const boost::regex pattern(kPlaceholderPattern);
    return pattern;
}

std::string ExpandPlaceholders(const std::string& text, const PropertyMap& properties,
                               const boost::regex& pattern, bool keepUnknown) {
    std::string result;
    result.reserve(text.size());
    auto position = text.begin();
    for (boost::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
        const boost::smatch& match = *it;
        result.append(position, match[0].first);
        if (auto found = properties.find(match.str(1)); found != properties.end())
            result += found->second;
        else if (keepUnknown)
            result.append(match[0].first, match[0].second);
        position = match[0].second;
    }
    result.append(position, text.end());
    return result;
}

} // namespace cptlib
