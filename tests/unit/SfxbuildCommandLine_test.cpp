// The build tool's command-line parsing and the 7zz arguments it makes.

#include "sfxbuild/Build.h"
#include "sfxbuild/CommandLine.h"

#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using sfxbuild::cli::Command;
using sfxbuild::cli::Parse;
using sfxbuild::cli::Parsed;
using sfxbuild::cli::UsageError;

int Nothing(const Parsed&) {
    return 0;
}

const Command kCommand = {"make",
                          "--in FILE [--fast] -o OUT [NAME...]",
                          "Makes things.",
                          {{"--in", "", "FILE", "the input\nover two lines"},
                           {"--fast", "", "", "be quick"},
                           {"--output", "-o", "OUT", "the output"}},
                          0,
                          2,
                          Nothing};

TEST(SfxbuildCommandLine, TakesValuesInEveryUsualForm) {
    struct Case {
        std::vector<std::string> args;
        std::map<std::string, std::string> values;
        std::vector<std::string> operands;
    };
    const Case cases[] = {
        {{"--in", "a", "-o", "b"}, {{"--in", "a"}, {"--output", "b"}}, {}},
        {{"--in=a", "--output=b"}, {{"--in", "a"}, {"--output", "b"}}, {}},
        // Only the first '=' splits; an empty value is a value.
        {{"--in=x=y", "--output="}, {{"--in", "x=y"}, {"--output", ""}}, {}},
        // A value may look like an option.
        {{"--in", "--fast"}, {{"--in", "--fast"}}, {}},
        {{"--fast", "n1", "-"}, {{"--fast", ""}}, {"n1", "-"}},
        // After "--" everything is an operand.
        {{"--", "--fast", "-o"}, {}, {"--fast", "-o"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const Parsed parsed = Parse(kCommand, c.args);
        EXPECT_EQ(parsed.values, c.values);
        EXPECT_EQ(parsed.operands, c.operands);
    }
}

TEST(SfxbuildCommandLine, RefusesMistakesWithAHint) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"--nope"}, "unknown option '--nope'"},
        {{"--nope=1"}, "unknown option '--nope'"},
        {{"-x"}, "unknown option '-x'"},
        {{"--in"}, "--in needs a value (FILE)"},
        {{"--fast=yes"}, "--fast takes no value"},
        {{"--in", "a", "--in=b"}, "--in given twice"},
        {{"-o", "a", "--output", "b"}, "--output given twice"},
        {{"a", "b", "c"}, "usage: sfxbuild make"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        try {
            Parse(kCommand, c.args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.message), std::string::npos) << what;
            EXPECT_NE(what.find("--help"), std::string::npos) << what;
        }
    }
}

TEST(SfxbuildCommandLine, HelpWinsAndListsEveryOption) {
    EXPECT_TRUE(Parse(kCommand, {"a", "b", "c", "--help"}).Has("--help"));
    EXPECT_TRUE(Parse(kCommand, {"-h"}).Has("--help"));
    EXPECT_FALSE(Parse(kCommand, {"--", "--help"}).Has("--help"));

    const std::string help = sfxbuild::cli::Help(kCommand);
    for (const char* expected :
         {"usage: sfxbuild make --in FILE", "Makes things.", "--in FILE", "the input\n",
          "over two lines", "--fast", "be quick", "-o, --output OUT", "--help"})
        EXPECT_NE(help.find(expected), std::string::npos) << expected << "\n" << help;
    // The second line of a help text lines up with the first.
    const auto first = help.find("the input");
    const auto lineStart = help.rfind('\n', first) + 1;
    const auto second = help.find("over two lines");
    EXPECT_EQ(second - (help.rfind('\n', second) + 1), first - lineStart) << help;
}

TEST(SfxbuildPackArguments, DefaultsStayAndOptionsMapToSwitches) {
    using Args = std::vector<std::string>;
    const Args tail = {"-snl", "-bso0", "-bsp0", "-y", "--", "/a.7z", "*"};
    const Args head = {"a", "-t7z", "-m0=BCJ", "-m1=LZMA2"};
    auto joined = [&](const Args& middle) {
        Args all = head;
        all.insert(all.end(), middle.begin(), middle.end());
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    EXPECT_EQ(sfxbuild::PackArguments({}, false, "/a.7z"), joined({}));
    sfxbuild::PackOptions pack;
    pack.level = 0;
    pack.threads = 3;
    pack.solidBlockSize = "64m";
    EXPECT_EQ(sfxbuild::PackArguments(pack, false, "/a.7z"),
              joined({"-mx=0", "-ms=64m", "-mmt=3"}));
    sfxbuild::PackOptions runs;
    runs.runSize = "16m";
    Args withRuns = joined({});
    withRuns[3] = "-m1=LZMA2:c=16m";
    EXPECT_EQ(sfxbuild::PackArguments(runs, false, "/a.7z"), withRuns);
    EXPECT_EQ(sfxbuild::PackArguments({}, true, "/a.7z"),
              joined({"-mtm=on", "-mtc=off", "-mta=off"}));
}

TEST(SfxbuildPackArguments, LargeFoldersGetBalancedBlocksSmallOnesOne) {
    constexpr std::uint64_t MiB = 1 << 20;
    const struct Case {
        std::uint64_t bytes;
        std::uint64_t blocks; // 0: no size given, 7zz's one block
    } cases[] = {
        {0, 0},         {1, 0},         {64 * MiB - 1, 0}, {64 * MiB, 2},
        {100 * MiB, 3}, {128 * MiB, 4}, {201 * MiB, 4},    {std::uint64_t{1} << 40, 4},
    };
    for (const Case& c : cases) {
        const std::string size = sfxbuild::DefaultSolidBlockSize(c.bytes);
        if (c.blocks == 0) {
            EXPECT_EQ(size, "") << c.bytes;
            continue;
        }
        ASSERT_FALSE(size.empty()) << c.bytes;
        ASSERT_EQ(size.back(), 'b') << size;
        const std::uint64_t limit = std::stoull(size);
        // The blocks hold the whole folder, and one block fewer would not.
        EXPECT_GE(limit * c.blocks, c.bytes) << size;
        EXPECT_LT(limit * (c.blocks - 1), c.bytes) << size;
    }
}

TEST(SfxbuildDerivedIv, FollowsEveryInput) {
    testsupport::TempDir scratch;
    const auto a = scratch.path() / "a.7z";
    const auto b = scratch.path() / "b.7z";
    testsupport::WriteFile(a, "archive bytes");
    testsupport::WriteFile(b, "archive bytez");
    const auto iv = sfxbuild::DerivedIv("config", a, 0);
    EXPECT_EQ(sfxbuild::DerivedIv("config", a, 0), iv);
    EXPECT_NE(sfxbuild::DerivedIv("config", b, 0), iv);
    EXPECT_NE(sfxbuild::DerivedIv("configX", a, 0), iv);
    EXPECT_NE(sfxbuild::DerivedIv("config", a, 1), iv);
    EXPECT_THROW(sfxbuild::DerivedIv("config", scratch.path() / "none", 0), sfxbuild::BuildError);
}

} // namespace
