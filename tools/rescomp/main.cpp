// rescomp MANIFEST OUTPUT [--depfile FILE]: compiles a resource manifest into a PE resource
// directory tree whose data addresses count from the start of the tree.

#include "rescomp/ResourceCompiler.h"

#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

// Make syntax: spaces and '#' escaped, '$' doubled.
std::string DepfileName(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == ' ' || c == '#')
            out += '\\';
        if (c == '$')
            out += '$';
        out += c;
    }
    return out;
}

void WriteFile(const std::filesystem::path& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        throw rescomp::CompileError("cannot write '" + path.string() + "'");
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string depfile;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--depfile" && i + 1 < args.size())
            depfile = args[++i];
        else
            positional.push_back(args[i]);
    }
    if (positional.size() != 2) {
        std::cerr << "usage: rescomp MANIFEST OUTPUT [--depfile FILE]\n";
        return 2;
    }
    try {
        std::vector<std::filesystem::path> inputs;
        const auto resources = rescomp::LoadManifest(positional[0], inputs);
        WriteFile(positional[1], rescomp::BuildResourceTree(resources));
        if (!depfile.empty()) {
            std::string text = DepfileName(positional[1]) + ":";
            for (const auto& input : inputs)
                text += " \\\n  " + DepfileName(input.string());
            WriteFile(depfile, text + "\n");
        }
    } catch (const std::exception& e) {
        std::cerr << "rescomp: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
