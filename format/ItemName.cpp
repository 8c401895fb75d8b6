#include "format/ItemName.h"

namespace sfx {

bool SplitItemName(const std::string& name, std::vector<std::string>& parts) {
    parts.clear();
    if (name.empty() || name.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos)
            end = name.size();
        std::string part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return false;
        parts.push_back(std::move(part));
    }
    return !parts.empty();
}

bool LinkStaysInside(const std::vector<std::string>& link, const std::string& target) {
    if (target.empty() || target.front() == '/' || link.empty())
        return false;
    std::size_t depth = link.size() - 1;
    bool climbing = true;
    std::size_t start = 0;
    while (start <= target.size()) {
        std::size_t end = target.find('/', start);
        if (end == std::string::npos)
            end = target.size();
        const std::string part = target.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == ".")
            continue;
        if (part != "..") {
            climbing = false;
        } else if (!climbing || depth == 0) {
            return false;
        } else {
            --depth;
        }
    }
    return true;
}

} // namespace sfx
