#include "rescomp/ResourceCompiler.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

namespace rescomp {

namespace {

constexpr std::size_t kMaxZeroSlot = 16 * 1024 * 1024;

bool IsNumber(const std::string& token) {
    return !token.empty() && token.size() <= 5 &&
           std::all_of(token.begin(), token.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsName(const std::string& token) {
    const auto word = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    return !token.empty() && !(token[0] >= '0' && token[0] <= '9') &&
           std::all_of(token.begin(), token.end(), word);
}

std::uint16_t Number(const std::string& token, const std::string& what) {
    if (!IsNumber(token) || std::stoul(token) > 0xFFFF)
        throw CompileError(what + " '" + token + "' is not a number from 0 to 65535");
    return static_cast<std::uint16_t>(std::stoul(token));
}

cptlib::ResourceId Id(const std::string& token, const std::string& what) {
    if (IsNumber(token))
        return Number(token, what);
    if (!IsName(token))
        throw CompileError(what + " '" + token + "' is neither a number nor a name");
    std::string upper = token;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; });
    return upper;
}

cptlib::ResourceId Type(const std::string& token) {
    static const std::pair<const char*, std::uint16_t> kSymbols[] = {
        {"RT_ICON", cptlib::kRtIcon},
        {"RT_RCDATA", cptlib::kRtRcData},
        {"RT_GROUP_ICON", cptlib::kRtGroupIcon},
        {"RT_MANIFEST", cptlib::kRtManifest},
    };
    for (const auto& [symbol, id] : kSymbols)
        if (token == symbol)
            return id;
    return Id(token, "type");
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw CompileError("cannot open '" + path.string() + "'");
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw CompileError("cannot read '" + path.string() + "'");
    return data;
}

bool IsIcon(const cptlib::ResourceId& type) {
    return type.name.empty() && type.id == cptlib::kRtIcon;
}

} // namespace

std::vector<Resource> LoadManifest(const std::filesystem::path& manifest,
                                   std::vector<std::filesystem::path>& inputs) {
    inputs.push_back(manifest);
    std::istringstream text(ReadFile(manifest));
    const std::filesystem::path folder = manifest.parent_path();
    std::vector<Resource> resources;
    std::string line;
    for (int number = 1; std::getline(text, line); ++number) {
        try {
            std::istringstream fields(line);
            std::vector<std::string> tokens{std::istream_iterator<std::string>(fields),
                                            std::istream_iterator<std::string>()};
            if (tokens.empty() || tokens[0][0] == '#')
                continue;
            if (tokens.size() != 4)
                throw CompileError("expected TYPE NAME LANGUAGE SOURCE");
            Resource r{Type(tokens[0]), Id(tokens[1], "name"), Number(tokens[2], "language"), {}};
            const std::string& source = tokens[3];
            const auto colon = source.find(':');
            const std::string kind = source.substr(0, colon);
            const std::string argument = colon == std::string::npos ? "" : source.substr(colon + 1);
            if (colon == std::string::npos || argument.empty())
                throw CompileError("source '" + source + "' is not KIND:ARGUMENT");
            if (kind == "file") {
                inputs.push_back(folder / argument);
                r.data = ReadFile(folder / argument);
                resources.push_back(std::move(r));
            } else if (kind == "zero") {
                if (argument.size() > 8 ||
                    argument.find_first_not_of("0123456789") != std::string::npos)
                    throw CompileError("'" + argument + "' is not a size");
                const unsigned long size = std::stoul(argument);
                if (size > kMaxZeroSlot)
                    throw CompileError("zero-filled slot larger than 16 MiB");
                r.data.assign(size, '\0');
                resources.push_back(std::move(r));
            } else if (kind == "icon") {
                if (!r.type.name.empty() || r.type.id != cptlib::kRtGroupIcon)
                    throw CompileError("an icon source needs the type RT_GROUP_ICON");
                inputs.push_back(folder / argument);
                // Images of several icons share the kRtIcon numbers.
                std::size_t next = 1;
                for (const Resource& earlier : resources)
                    if (IsIcon(earlier.type) && earlier.name.name.empty())
                        next = std::max<std::size_t>(next, std::size_t{earlier.name.id} + 1);
                if (next > 0xFFFF)
                    throw CompileError("no icon numbers left");
                auto icons = IconResources(ReadFile(folder / argument), r.name, r.language,
                                           static_cast<std::uint16_t>(next));
                std::move(icons.begin(), icons.end(), std::back_inserter(resources));
            } else {
                throw CompileError("unknown source kind '" + kind + "'");
            }
        } catch (const CompileError& e) {
            throw CompileError(manifest.string() + ":" + std::to_string(number) + ": " + e.what());
        } catch (const std::out_of_range&) {
            throw CompileError(manifest.string() + ":" + std::to_string(number) +
                               ": number out of range");
        }
    }
    return resources;
}

} // namespace rescomp
