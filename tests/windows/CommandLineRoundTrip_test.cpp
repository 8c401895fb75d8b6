// The launcher quotes a setup's arguments into one command line; the setup's C runtime splits
// it again. Checked here against the real thing: a child started with CreateProcessW.

#include "WindowsProcess.h"

#include "cptlib/Exceptions.h"
#include "cptlib/sys/CommandLineSplit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// What echo_args received: its arguments after the output file's name.
std::vector<std::string> ChildArguments(const std::string& parameters) {
    const fs::path out = fs::temp_directory_path() / "sfx-echo-args.bin";
    fs::remove(out);
    const std::uint32_t code = windows_test::RunAndWait(
        windows_test::ProgramFolder() / "win_echo_args.exe",
        cptlib::QuoteArgument(cptlib::Utf8FromPath(out)) + " " + parameters);
    EXPECT_EQ(code, 0u) << parameters;
    std::ifstream in(out, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    in.close();
    fs::remove(out);
    std::vector<std::string> arguments;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t end = bytes.find('\0', start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated argument in the child's record";
            break;
        }
        arguments.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return arguments;
}

TEST(CommandLineRoundTrip, QuotedArgumentsReachTheChildUnchanged) {
    const std::vector<std::string> arguments = {
        "",
        "plain",
        R"(C:\dir\)",
        "two words",
        "tab\there",
        "line\nfeed",
        R"(say "hi")",
        R"(C:\my dir\)",
        R"(a\\"b)",
        R"(a\\b c)",
        "\"",
        R"(\\server\share\)",
        "\xC3\xA4\xE6\x97\xA5 \xF0\x9D\x84\x9E", // ä日 and a character beyond the BMP
        "",
    };
    std::string parameters;
    for (const std::string& argument : arguments)
        parameters += (parameters.empty() ? "" : " ") + cptlib::QuoteArgument(argument);
    EXPECT_EQ(ChildArguments(parameters), arguments) << parameters;
}

// The splitter reads a parameter string as the setup's C runtime will.
TEST(CommandLineRoundTrip, SplitterAgreesWithTheChildsRuntime) {
    const std::vector<std::string> lines = {
        "a  b\tc",
        R"("a b" c)",
        R"(a "" b)",
        R"(a"b"c)",
        R"(a\\b)",
        R"(a\\"b c")",
        R"(a\\\"b)",
        R"("a\\" b)",
        R"("a""b c")",
        R"("""")",
        R"(x "unterminated arg)",
        "caf\xC3\xA9 \"\xE2\x82\xAC x\"",
    };
    for (const std::string& line : lines)
        EXPECT_EQ(ChildArguments(line), cptlib::SplitCommandLine(line)) << line;
}

} // namespace
