#include "launcher/Format.h"

namespace sfx {

std::string FormatArg::ToString() const {
    if (const auto* number = std::get_if<std::int64_t>(&value_))
        return std::to_string(*number);
    if (const auto* number = std::get_if<std::uint64_t>(&value_))
        return std::to_string(*number);
    return std::get<std::string>(value_);
}

std::string FormatTextList(std::string_view format, std::span<const FormatArg> args) {
    constexpr std::string_view kDirectives[] = {"%I64d", "%d", "%s"};
    std::string out;
    out.reserve(format.size());
    std::size_t next = 0;
    for (std::size_t i = 0; i < format.size();) {
        if (format[i] != '%') {
            out += format[i++];
            continue;
        }
        if (format.substr(i, 2) == "%%") {
            out += '%';
            i += 2;
            continue;
        }
        std::string_view directive;
        for (std::string_view candidate : kDirectives)
            if (format.substr(i, candidate.size()) == candidate) {
                directive = candidate;
                break;
            }
        if (directive.empty()) {
            out += format[i++];
            continue;
        }
        if (next < args.size())
            out += args[next++].ToString();
        else
            out += directive;
        i += directive.size();
    }
    return out;
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty())
        return std::string(text);
    std::string out;
    std::size_t position = 0;
    for (std::size_t found; (found = text.find(from, position)) != std::string_view::npos;
         position = found + from.size()) {
        out.append(text.substr(position, found - position));
        out.append(to);
    }
    out.append(text.substr(position));
    return out;
}

} // namespace sfx
