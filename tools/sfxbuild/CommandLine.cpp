#include "sfxbuild/CommandLine.h"

#include <algorithm>

namespace sfxbuild::cli {

namespace {

const Option kHelp{"--help", "-h", "", "show this help and exit"};

const Option* FindOption(const Command& command, const std::string& name) {
    if (name == kHelp.name || name == kHelp.shortName)
        return &kHelp;
    for (const Option& option : command.options)
        if (option.name == name || (!option.shortName.empty() && option.shortName == name))
            return &option;
    return nullptr;
}

std::string HelpHint(const Command& command) {
    return "see 'sfxbuild " + command.name + " --help'";
}

std::string Indented(const std::string& text, std::size_t column) {
    std::string out;
    for (const char c : text) {
        out += c;
        if (c == '\n')
            out += std::string(column, ' ');
    }
    return out;
}

} // namespace

UsageError::UsageError(const std::string& what)
    : BuildError(what.find("--help") == std::string::npos ? what + " (see 'sfxbuild --help')"
                                                          : what) {}

const Command& Find(const std::vector<Command>& commands, const std::string& name) {
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [&](const Command& c) { return c.name == name; });
    if (found == commands.end())
        throw UsageError("unknown command '" + name + "'; commands: " + Names(commands));
    return *found;
}

std::string Names(const std::vector<Command>& commands) {
    std::string names;
    for (const Command& command : commands)
        names += (names.empty() ? "" : ", ") + command.name;
    return names;
}

Parsed Parse(const Command& command, const std::vector<std::string>& args) {
    Parsed parsed;
    const std::string where = command.name + ": ";
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const auto equals = arg.find('=');
            arg.starts_with("--") && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
        }
        const Option* option = FindOption(command, name);
        if (!option)
            throw UsageError(where + "unknown option '" + name + "'; " + HelpHint(command));
        if (option == &kHelp) {
            parsed.values[kHelp.name];
            return parsed;
        }
        std::string value;
        if (option->valueName.empty()) {
            if (inlineValue)
                throw UsageError(where + option->name + " takes no value; " + HelpHint(command));
        } else if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            throw UsageError(where + name + " needs a value (" + option->valueName + "); " +
                             HelpHint(command));
        }
        if (!parsed.values.emplace(option->name, value).second)
            throw UsageError(where + name + " given twice");
    }
    if (parsed.operands.size() < command.minOperands ||
        parsed.operands.size() > command.maxOperands) {
        if (parsed.operands.size() > command.maxOperands && command.maxOperands == 0)
            throw UsageError(where + "unexpected argument '" + parsed.operands.front() + "'; " +
                             HelpHint(command));
        throw UsageError(where + "usage: sfxbuild " + command.name + " " + command.synopsis + "; " +
                         HelpHint(command));
    }
    return parsed;
}

std::string Help(const Command& command) {
    std::string text = "usage: sfxbuild " + command.name + " " + command.synopsis + "\n\n" +
                       command.description + "\n\noptions:\n";
    constexpr std::size_t kColumn = 30;
    std::vector<Option> options = command.options;
    options.push_back(kHelp);
    for (const Option& option : options) {
        std::string left = "  " + (option.shortName.empty() ? "" : option.shortName + ", ") +
                           option.name + (option.valueName.empty() ? "" : " " + option.valueName);
        left += left.size() < kColumn ? std::string(kColumn - left.size(), ' ')
                                      : "\n" + std::string(kColumn, ' ');
        text += left + Indented(option.help, kColumn) + "\n";
    }
    text += "\nOptions take their value as the next argument or after '=' (--level=9); '--' "
            "ends\nthe options.";
    // A command that has statuses of its own says so in its description.
    text += command.description.find("Exit status") == std::string::npos
                ? " Exit status: 0 done, 1 failure (one line on stderr).\n"
                : "\n";
    return text;
}

} // namespace sfxbuild::cli
