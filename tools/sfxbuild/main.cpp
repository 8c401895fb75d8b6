// sfxbuild: makes launcher files from the stub, a configuration and an archive; stamps and
// describes them.

#include "sfxbuild/Build.h"
#include "sfxbuild/CommandLine.h"
#include "sfxbuild/Inspect.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/StopCleanup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>

#ifndef SFX_VERSION
#define SFX_VERSION "unknown"
#endif

namespace {

using sfxbuild::cli::Command;
using sfxbuild::cli::Parsed;
using sfxbuild::cli::UsageError;

constexpr const char* kSlotsHelp =
    "The slots VRNID, VRNID2 and ZQ_BRINDLE_PHASH are empty resources in the stub\n"
    "that 'sfxbuild stamp' fills after the build, e.g. with a customer or licence\n"
    "number. When the configuration sets ForwardResourceDataFromSFX=1, the launcher\n"
    "hands every non-empty slot to the setup program as a NAME=VALUE line of\n"
    "SetupValues.dat (passed as -m FILE). Only when every slot is empty does it read\n"
    "the data block of create's --data instead: once a slot is stamped, the --data\n"
    "pairs are no longer forwarded (stamp warns). A launcher file name that carries\n"
    "\"--ph\" and a 16-character tag gives VRNID2, in either case.\n";

// The stub beside sfxbuild (a build tree), else where `make install` puts it.
std::filesystem::path DefaultStub() {
    const auto self = cptlib::platform::GetModulePath().parent_path();
    const auto beside = self / "sfxstub";
    std::error_code ec;
    if (std::filesystem::exists(beside, ec))
        return beside;
    const auto installed = (self / ".." / "lib" / "sfx" / "sfxstub").lexically_normal();
    if (std::filesystem::exists(installed, ec))
        return installed;
    throw sfxbuild::BuildError("no stub found: neither " + sfxbuild::Quoted(beside) +
                               " (beside sfxbuild) nor " + sfxbuild::Quoted(installed) +
                               " (where `make install` puts it) exists; give --stub FILE");
}

// A create mistake, with the help to read.
UsageError CreateError(const std::string& what) {
    return UsageError("create: " + what + "; see 'sfxbuild create --help'");
}

// A whole number in [low, high], or a usage error that names the option.
unsigned Number(const Parsed& parsed, const std::string& option, unsigned low, unsigned high) {
    const std::string& text = parsed.Value(option);
    unsigned long value = 0;
    bool ok = !text.empty() && text.size() <= 9 &&
              text.find_first_not_of("0123456789") == std::string::npos;
    if (ok)
        value = std::stoul(text);
    if (!ok || value < low || value > high)
        throw CreateError(option + " takes a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not '" + text + "'");
    return static_cast<unsigned>(value);
}

// "off", or a size in bytes with an optional k, m, g or t (binary multiples), as 7zz's -ms
// takes it.
std::string SolidBlockSize(const std::string& text,
                           const std::string& option = "--solid-block-size", bool off = true) {
    std::string lower;
    for (const char c : text)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (off && lower == "off")
        return lower;
    const auto digits = lower.find_first_not_of("0123456789");
    const std::string unit = digits == std::string::npos ? "" : lower.substr(digits);
    if (digits == 0 || lower.size() > 12 ||
        !(unit.empty() || unit == "b" || unit == "k" || unit == "m" || unit == "g" || unit == "t"))
        throw CreateError(option + " takes a size such as 64m, 1g or 1048576" +
                          (off ? ", or off" : "") + ", not '" + text + "'");
    return unit.empty() ? lower + "b" : lower;
}

// A query of NAME=VALUE pairs joined by '&': a pair without a name or '=' would forward nothing
// the setup could use.
std::string DataQuery(const std::string& query) {
    std::size_t start = 0;
    while (start <= query.size()) {
        std::size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string pair = query.substr(start, end - start);
        const auto equals = pair.find('=');
        if (equals == std::string::npos || equals == 0)
            throw CreateError("--data takes NAME=VALUE pairs joined by &, not '" + pair + "'");
        start = end + 1;
    }
    return query;
}

// The longest password the launcher's entry takes, in bytes of UTF-8.
constexpr std::size_t kMaxPasswordBytes = 1023;

// The first line of the file, without its line end: a password on the command line would show
// in `ps` and the shell's history.
std::string ReadPassword(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw sfxbuild::BuildError("cannot open password file " + sfxbuild::Quoted(file) + ": " +
                                   std::strerror(errno));
    std::string password;
    std::getline(in, password);
    if (in.bad())
        throw sfxbuild::BuildError("cannot read password file " + sfxbuild::Quoted(file));
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        throw sfxbuild::BuildError("password file " + sfxbuild::Quoted(file) +
                                   " holds no password on its first line");
    // The launcher's entry gives UTF-8 text without NUL; anything else could never be typed.
    if (password.find('\0') != std::string::npos || !cptlib::IsValidUtf8(password))
        throw sfxbuild::BuildError("password file " + sfxbuild::Quoted(file) +
                                   ": the password is not UTF-8 text");
    if (password.size() > kMaxPasswordBytes)
        throw sfxbuild::BuildError("password file " + sfxbuild::Quoted(file) +
                                   ": the password "
                                   "has " +
                                   std::to_string(password.size()) +
                                   " bytes; the launcher takes at most " +
                                   std::to_string(kMaxPasswordBytes));
    return password;
}

int RunCreate(const Parsed& parsed) {
    if (!parsed.Has("--config"))
        throw CreateError("--config FILE is required");
    if (!parsed.Has("--output"))
        throw CreateError("-o OUT is required");
    if (parsed.Has("--dir") == parsed.Has("--archive"))
        throw CreateError("give either --dir FOLDER or --archive FILE.7z");

    sfxbuild::CreateOptions options;
    options.check = !parsed.Has("--no-checks");
    options.config = parsed.Value("--config");
    options.output = parsed.Value("--output");
    if (parsed.Has("--dir"))
        options.dir = parsed.Value("--dir");
    if (parsed.Has("--archive"))
        options.archive = parsed.Value("--archive");
    if (parsed.Has("--data"))
        options.data = DataQuery(parsed.Value("--data"));
    options.follow = parsed.Has("--follow");
    options.stub =
        parsed.Has("--stub") ? std::filesystem::path(parsed.Value("--stub")) : DefaultStub();
    if (parsed.Has("--level"))
        options.pack.level = Number(parsed, "--level", 0, 9);
    if (parsed.Has("--threads"))
        options.pack.threads = Number(parsed, "--threads", 1, 1024);
    if (parsed.Has("--solid-block-size"))
        options.pack.solidBlockSize = SolidBlockSize(parsed.Value("--solid-block-size"));
    if (parsed.Has("--run-size"))
        options.pack.runSize = SolidBlockSize(parsed.Value("--run-size"), "--run-size", false);
    if (options.archive && (options.pack.level || options.pack.threads ||
                            !options.pack.solidBlockSize.empty() || !options.pack.runSize.empty()))
        throw CreateError("--level, --threads, --solid-block-size and --run-size apply to --dir "
                          "only, an --archive is taken as it is");
    if (parsed.Has("--password-file")) {
        if (options.archive)
            throw CreateError("--password-file applies to --dir only, an --archive is taken as "
                              "it is (make it with 7zz -p)");
        options.pack.password = ReadPassword(parsed.Value("--password-file"));
    }

    // The usual convention for reproducible builds: seconds since 1970, UTC.
    if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        const std::string text = epoch;
        if (text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
            throw sfxbuild::BuildError("SOURCE_DATE_EPOCH must be a whole number of seconds "
                                       "since 1970, not '" +
                                       text + "'; set it so or unset it");
        options.reproducible = sfxbuild::Reproducible{std::stoll(text)};
    } else if (parsed.Has("--reproducible")) {
        options.reproducible = sfxbuild::Reproducible{};
    }

    // 7zz draws a random initialisation vector for enciphered data.
    if (options.reproducible && !options.pack.password.empty())
        throw CreateError("--password-file cannot give reproducible output (7zz enciphers with "
                          "a random initialisation vector); drop --reproducible and unset "
                          "SOURCE_DATE_EPOCH");

    cptlib::platform::StopCleanup cleanup;
    options.cleanup = &cleanup;
    sfxbuild::Create(options);
    return 0;
}

int RunStamp(const Parsed& parsed) {
    sfxbuild::Stamp(parsed.operands[0], {parsed.operands.begin() + 1, parsed.operands.end()});
    return 0;
}

// Standard output must take all of it, or the command fails.
void FlushOrFail(const std::string& what, const std::filesystem::path& file) {
    std::cout.flush();
    if (!std::cout)
        throw sfxbuild::BuildError("cannot write " + what + " of " + sfxbuild::Quoted(file));
}

int RunInfo(const Parsed& parsed) {
    const std::filesystem::path file = parsed.operands[0];
    if (parsed.Has("--json"))
        sfxbuild::InfoJson(file, std::cout);
    else
        sfxbuild::Info(file, std::cout);
    FlushOrFail("the description", file);
    return 0;
}

int RunList(const Parsed& parsed) {
    sfxbuild::List(parsed.operands[0], std::cout);
    FlushOrFail("the items", parsed.operands[0]);
    return 0;
}

int RunVerify(const Parsed& parsed) {
    std::string problem;
    std::optional<std::string> password;
    if (parsed.Has("--password-file"))
        password = ReadPassword(parsed.Value("--password-file"));
    const sfxbuild::VerifyResult result =
        sfxbuild::Verify(parsed.operands[0], std::cout, problem, password);
    if (result != sfxbuild::VerifyResult::Intact)
        std::cerr << "sfxbuild: " << problem << "\n";
    return static_cast<int>(result);
}

// Adding a command or an option is one entry here.
const std::vector<Command>& Commands() {
    static const std::vector<Command> kCommands = {
        {"create",
         "--config FILE (--dir FOLDER | --archive FILE.7z) [OPTION...] -o OUT",
         "Makes a launcher file: the stub, the enciphered configuration, the archive and the\n"
         "optional data block. The output appears only when complete; nothing is left behind\n"
         "on failure or when interrupted (Ctrl+C, SIGTERM, SIGHUP).",
         {
             {"--config", "", "FILE", "the configuration, UTF-8 text (see the README)"},
             {"--dir", "", "FOLDER",
              "the product folder, packed with 7zz (LZMA2 behind\n"
              "the x86 filter, Unix modes and links kept)"},
             {"--archive", "", "FILE.7z", "a ready 7z archive, taken as it is"},
             {"--stub", "", "FILE",
              "the launcher stub; default: sfxstub beside\n"
              "sfxbuild, else ../lib/sfx/sfxstub relative to it\n"
              "(where `make install` puts it)"},
             {"--data", "", "QUERY",
              "a data block of key=value pairs joined by &\n"
              "(URL escapes allowed), appended to the file; the\n"
              "launcher hands each pair to the setup program as\n"
              "a line of SetupValues.dat, as long as no slot is\n"
              "stamped (slots come first, see 'stamp --help')"},
             {"--output", "-o", "OUT", "the launcher file to write (mode 0755)"},
             {"--follow", "", "",
              "take links that leave the folder as the files or\n"
              "folders they point at (e.g. a Python venv's\n"
              "bin/python3); without it such links are refused"},
             {"--level", "", "0..9",
              "7zz compression level (-mx), 0 fastest, 9 best;\n"
              "default: 7zz's own, 5"},
             {"--solid-block-size", "", "SIZE",
              "largest solid block (-ms): bytes, or with k, m,\n"
              "g, t (e.g. 64m), or off for one block per file;\n"
              "default: up to 4 blocks of balanced size from\n"
              "64 MiB of files on, so the launcher unpacks\n"
              "them side by side; one block below that"},
             {"--run-size", "", "SIZE",
              "LZMA2 starts over with an empty dictionary\n"
              "every SIZE (-m1=LZMA2:c=SIZE), so the launcher\n"
              "unpacks the runs of one large file side by side;\n"
              "the archive grows (16m: 4 to 21 % measured);\n"
              "default: none"},
             {"--threads", "", "N",
              "threads 7zz uses (-mmt); default: one per\n"
              "processor"},
             {"--password-file", "", "FILE",
              "encipher the packed files with the password on\n"
              "the first line of FILE (7zAES; the item list\n"
              "stays readable); the launcher asks for it. Handed\n"
              "to 7zz at its prompt, never on a command line"},
             {"--reproducible", "", "",
              "byte-identical output for the same stub,\n"
              "configuration and folder: initialisation vector\n"
              "derived from the inputs, no creation or access\n"
              "times stored, items sorted by name. Also set by\n"
              "SOURCE_DATE_EPOCH (seconds since 1970), which\n"
              "further clamps every item time to that value"},
             {"--no-checks", "", "",
              "skip the product checks (links leaving the folder,\n"
              "special files, refused names, a missing setup file,\n"
              "unknown cultures); only to make a broken file on\n"
              "purpose, for example to test a launcher"},
         },
         0,
         0,
         RunCreate},
        {"stamp",
         "FILE NAME=VALUE...",
         std::string("Writes values into the empty resource slots of a launcher file in place;\n"
                     "every assignment is checked before anything is written.\n\n") +
             kSlotsHelp,
         {},
         2,
         SIZE_MAX,
         RunStamp},
        {"info",
         "FILE [--json]",
         "Prints the layout (offsets and sizes), the deciphered configuration and the slots.",
         {{"--json", "", "", "the same facts as one JSON object, for pipelines"}},
         1,
         1,
         RunInfo},
        {"list",
         "FILE",
         "Prints the archive's items: type and permissions, size, modification time (UTC) and\n"
         "name.",
         {},
         1,
         1,
         RunList},
        {"verify",
         "FILE [--password-file FILE]",
         "Checks a launcher file without running it: the size the self-check expects, the\n"
         "file's digest (every byte but the stamped slots), the configuration block, and\n"
         "every item decoded against its check sum, writing nothing. Enciphered items are\n"
         "decoded with --password-file; without it the line says how many were not.\n"
         "Exit status: 0 intact, 2 damaged, 1 usage or read error (also a password that\n"
         "does not fit); what is wrong goes to stderr in one line.",
         {{"--password-file", "", "FILE",
           "decipher enciphered items with the password on\n"
           "the first line of FILE"}},
         1,
         1,
         RunVerify},
    };
    return kCommands;
}

std::string Usage() {
    std::string text = "usage:\n";
    for (const Command& command : Commands())
        text += "  sfxbuild " + command.name + " " + command.synopsis + "\n";
    text += "  sfxbuild COMMAND --help\n  sfxbuild --version\n";
    return text;
}

int Run(const std::vector<std::string>& args) {
    if (args.empty())
        throw UsageError("no command given; commands: " + sfxbuild::cli::Names(Commands()));
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        if (first == "help" && args.size() > 1) {
            std::cout << sfxbuild::cli::Help(sfxbuild::cli::Find(Commands(), args[1]));
            return 0;
        }
        std::cout << "sfxbuild " SFX_VERSION " - makes, stamps and describes launcher files\n\n"
                  << Usage() << "\n"
                  << kSlotsHelp
                  << "\nExit status: 0 done, 1 failure (one line on stderr); verify: 2 when the "
                     "file is\ndamaged.\n";
        return 0;
    }
    if (first == "--version" || first == "-V") {
        std::cout << "sfxbuild " SFX_VERSION "\n";
        return 0;
    }
    const Command& command = sfxbuild::cli::Find(Commands(), first);
    const Parsed parsed = sfxbuild::cli::Parse(command, {args.begin() + 1, args.end()});
    if (parsed.Has("--help")) {
        std::cout << sfxbuild::cli::Help(command);
        return 0;
    }
    return command.run(parsed);
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
