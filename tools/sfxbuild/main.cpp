// sfxbuild: makes launcher files from the stub, a configuration and an archive; stamps and
// describes them.

#include "sfxbuild/Build.h"
#include "sfxbuild/Inspect.h"

#include "cptlib/platform/Process.h"

#include <iostream>
#include <map>

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  sfxbuild create --config FILE (--dir FOLDER | --archive FILE.7z) [--stub FILE]\n"
    "                  [--data QUERY] [--no-checks] -o OUT\n"
    "  sfxbuild stamp FILE NAME=VALUE...\n"
    "  sfxbuild info FILE [--json]\n"
    "  sfxbuild list FILE\n"
    "  sfxbuild verify FILE\n";

class UsageError : public sfxbuild::BuildError {
public:
    explicit UsageError(const std::string& what) : BuildError(what + " (see sfxbuild --help)") {}
};

sfxbuild::CreateOptions ParseCreate(const std::vector<std::string>& args) {
    static const std::map<std::string, std::string> kNames = {
        {"--config", "config"}, {"--dir", "dir"}, {"--archive", "archive"}, {"--stub", "stub"},
        {"--data", "data"},     {"-o", "output"}, {"--output", "output"}};
    std::map<std::string, std::string> values;
    bool check = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--no-checks") {
            check = false;
            continue;
        }
        const auto name = kNames.find(args[i]);
        if (name == kNames.end())
            throw UsageError("create: unknown argument '" + args[i] + "'");
        if (i + 1 >= args.size())
            throw UsageError("create: " + args[i] + " needs a value");
        if (!values.emplace(name->second, args[++i]).second)
            throw UsageError("create: " + args[i - 1] + " given twice");
    }
    if (!values.contains("config"))
        throw UsageError("create: --config is required");
    if (!values.contains("output"))
        throw UsageError("create: -o is required");
    if (values.contains("dir") == values.contains("archive"))
        throw UsageError("create: give either --dir or --archive");

    sfxbuild::CreateOptions options;
    options.check = check;
    options.config = values["config"];
    options.output = values["output"];
    if (values.contains("dir"))
        options.dir = values["dir"];
    if (values.contains("archive"))
        options.archive = values["archive"];
    if (values.contains("data"))
        options.data = values["data"];
    options.stub = values.contains("stub")
                       ? std::filesystem::path(values["stub"])
                       : cptlib::platform::GetModulePath().parent_path() / "sfxstub";
    return options;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty())
        throw UsageError("no command");
    const std::string& command = args[0];
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (command == "--help" || command == "-h") {
        std::cout << kUsage;
    } else if (command == "create") {
        sfxbuild::Create(ParseCreate(rest));
    } else if (command == "stamp") {
        if (rest.size() < 2)
            throw UsageError("stamp: needs a file and at least one NAME=VALUE");
        sfxbuild::Stamp(rest[0], {rest.begin() + 1, rest.end()});
    } else if (command == "info") {
        const bool json = rest.size() == 2 && (rest[0] == "--json" || rest[1] == "--json");
        if (rest.size() != 1 && !json)
            throw UsageError("info: needs exactly one file and optionally --json");
        const std::string& file = json && rest[0] == "--json" ? rest[1] : rest[0];
        if (json)
            sfxbuild::InfoJson(file, std::cout);
        else
            sfxbuild::Info(file, std::cout);
        std::cout.flush();
        if (!std::cout)
            throw sfxbuild::BuildError("cannot write the description of " + sfxbuild::Quoted(file));
    } else if (command == "list") {
        if (rest.size() != 1)
            throw UsageError("list: needs exactly one file");
        sfxbuild::List(rest[0], std::cout);
        std::cout.flush();
        if (!std::cout)
            throw sfxbuild::BuildError("cannot write the items of " + sfxbuild::Quoted(rest[0]));
    } else if (command == "verify") {
        if (rest.size() != 1)
            throw UsageError("verify: needs exactly one file");
        std::string problem;
        const sfxbuild::VerifyResult result = sfxbuild::Verify(rest[0], std::cout, problem);
        if (result != sfxbuild::VerifyResult::Intact)
            std::cerr << "sfxbuild: " << problem << "\n";
        return static_cast<int>(result);
    } else {
        throw UsageError("unknown command '" + command + "'");
    }
    return 0;
}

// One line, whatever the message holds.
std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run({argv + 1, argv + argc});
    } catch (const std::exception& e) {
        std::cerr << "sfxbuild: " << OneLine(e.what()) << "\n";
    } catch (...) {
        std::cerr << "sfxbuild: unexpected failure\n";
    }
    return 1;
}
