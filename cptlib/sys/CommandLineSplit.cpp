#include "cptlib/sys/CommandLineSplit.h"

namespace cptlib {

std::string QuoteArgument(std::string_view argument) {
    // A carriage return alone does not cause quoting; the splitter does not separate on it.
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos)
        return std::string(argument);

    std::string quoted;
    quoted.reserve(argument.size() + 2);
    quoted += '"';
    for (std::size_t i = 0;; ++i) {
        std::size_t backslashes = 0;
        while (i < argument.size() && argument[i] == '\\') {
            ++backslashes;
            ++i;
        }
        if (i == argument.size()) {
            quoted.append(backslashes * 2, '\\');
            break;
        }
        if (argument[i] == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        quoted += argument[i];
    }
    quoted += '"';
    return quoted;
}

std::vector<std::string> SplitCommandLine(std::string_view parameters) {
    std::vector<std::string> arguments;
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
    std::size_t i = 0;
    const std::size_t n = parameters.size();
    for (;;) {
        while (i < n && isBlank(parameters[i]))
            ++i;
        if (i == n)
            break;

        std::string argument;
        bool inQuotes = false;
        while (i < n && (inQuotes || !isBlank(parameters[i]))) {
            const char c = parameters[i];
            if (c == '\\') {
                std::size_t backslashes = 0;
                while (i < n && parameters[i] == '\\') {
                    ++backslashes;
                    ++i;
                }
                if (i < n && parameters[i] == '"') {
                    argument.append(backslashes / 2, '\\');
                    if (backslashes % 2 == 1) {
                        argument += '"';
                        ++i;
                    }
                } else {
                    argument.append(backslashes, '\\');
                }
            } else if (c == '"') {
                if (inQuotes && i + 1 < n && parameters[i + 1] == '"') {
                    argument += '"';
                    i += 2;
                } else {
                    inQuotes = !inQuotes;
                    ++i;
                }
            } else {
                argument += c;
                ++i;
            }
        }
        arguments.push_back(std::move(argument));
    }
    return arguments;
}

} // namespace cptlib
