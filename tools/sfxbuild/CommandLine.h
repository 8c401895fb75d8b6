#pragma once
// The build tool's command line: commands and their options as table entries, parsed the usual
// way (--opt value, --opt=value, -o value, -- ends the options), with help made from the table.

#include "sfxbuild/Build.h"

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace sfxbuild::cli {

// A mistake in the arguments; the message says how to get help.
class UsageError : public BuildError {
public:
    explicit UsageError(const std::string& what);
};

struct Option {
    std::string name;      // "--config"
    std::string shortName; // "-o", or empty
    std::string valueName; // "FILE"; empty for a switch without value
    std::string help;      // may span lines
};

struct Parsed;

struct Command {
    std::string name;
    std::string synopsis; // after "sfxbuild NAME "
    std::string description;
    std::vector<Option> options; // --help is always there
    std::size_t minOperands = 0;
    std::size_t maxOperands = 0;
    int (*run)(const Parsed&) = nullptr;
};

struct Parsed {
    std::map<std::string, std::string> values; // by long name; "" for switches
    std::vector<std::string> operands;

    bool Has(const std::string& name) const { return values.contains(name); }
    const std::string& Value(const std::string& name) const { return values.at(name); }
};

// The command called `name`, or a UsageError that lists the commands.
const Command& Find(const std::vector<Command>& commands, const std::string& name);

// "create, stamp, info".
std::string Names(const std::vector<Command>& commands);

// Parses the arguments after the command's name. A "--help" anywhere before "--" wins over
// missing operands.
Parsed Parse(const Command& command, const std::vector<std::string>& args);

// The command's help: synopsis, description and every option.
std::string Help(const Command& command);

} // namespace sfxbuild::cli
