#include "launcher/App.h"

#include <gtest/gtest.h>

namespace {

using Args = std::vector<std::string>;

struct Parsed {
    bool result;
    sfx::CApp app;
};

std::unique_ptr<Parsed> Parse(Args args) {
    auto parsed =
        std::unique_ptr<Parsed>(new Parsed{false, sfx::CApp(std::move(args), "/opt/dl/setup")});
    parsed->result = parsed->app.ParseCommandLine();
    return parsed;
}

TEST(CommandLine, SwitchesSetMembersAndForwardAsTyped) {
    struct Case {
        Args args;
        bool result;
        int uiLevel;
        bool extractOnly;
        std::string extractDir;
        Args forwarded;
    };
    const Case cases[] = {
        {{"/X", "/out"}, true, 4, true, "/out", {}},
        {{"-x", "/out"}, true, 4, true, "/out", {}},
        {{"/x"}, true, 4, true, "", {}},
        // A switch the launcher knows is no folder of /x: "/q" would be one at the root.
        {{"/x", "/q"}, true, 0, true, "", {"/q"}},
        {{"-x", "-QB"}, true, 2, true, "", {"-QB"}},
        {{"/x", "/l", "de-DE"}, true, 4, true, "", {"/l", "de-DE"}},
        {{"/x", "/M=/v.dat"}, true, 4, true, "", {"/M=/v.dat"}},
        {{"/x", "/dlmforward", "a"}, true, 4, true, "", {}},
        // Other values are folders, however they look.
        {{"/x", "/quiet"}, true, 4, true, "/quiet", {}},
        {{"/x", "/"}, true, 4, true, "/", {}},
        {{"/x", "q"}, true, 4, true, "q", {}},
        {{"/QB"}, true, 2, false, "", {"/QB"}},
        {{"/qb", "/q"}, true, 0, false, "", {"/qb", "/q"}},
        {{"-qm", "/qx"}, true, 3, false, "", {"-qm", "/qx"}},
        {{"/l", "de-DE"}, true, 4, false, "", {"/l", "de-DE"}},
        {{"/l"}, true, 4, false, "", {}},
        {{"/M=/v.dat"}, true, 4, false, "", {"/M=/v.dat"}},
        {{"", "/", "-", "a.txt", "/unknown"},
         true,
         4,
         false,
         "",
         {"", "/", "-", "a.txt", "/unknown"}},
        {{"/q", "/?", "/qb"}, false, 0, false, "", {"/q"}},
        // The Linux spellings of help (and version) stop before anything else; "/h" and
        // "/help" stay the setup's.
        {{"--help", "/x"}, false, 4, false, "", {}},
        {{"/qb", "-h"}, false, 2, false, "", {"/qb"}},
        {{"--HELP"}, false, 4, false, "", {}},
        {{"-?"}, false, 4, false, "", {}},
        {{"--version", "/x"}, false, 4, false, "", {}},
        {{"/h", "/help", "/version", "-help"},
         true,
         4,
         false,
         "",
         {"/h", "/help", "/version", "-help"}},
        {{"/x", "--help"}, false, 4, true, "", {}},
        {{"a.txt", "/dlmforward", "/?", "/q"}, true, 4, false, "", {"a.txt"}},
        {{"/e", "/data/other.7z", "x"}, true, 4, false, "", {"x"}},
    };
    for (const auto& c : cases) {
        auto p = Parse(c.args);
        const std::string name = ::testing::PrintToString(c.args);
        EXPECT_EQ(p->result, c.result) << name;
        EXPECT_EQ(p->app.state.UiLevel, c.uiLevel) << name;
        EXPECT_EQ(p->app.state.extractOnly, c.extractOnly) << name;
        EXPECT_EQ(p->app.state.extractDir, c.extractDir) << name;
        EXPECT_EQ(p->app.state.forwardedArguments, c.forwarded) << name;
    }
    EXPECT_TRUE(Parse({"--version", "/x"})->app.state.showVersion);
    EXPECT_FALSE(Parse({"--help", "--version"})->app.state.showVersion);
    EXPECT_FALSE(Parse({"/version"})->app.state.showVersion);
}

TEST(CommandLine, ValuesOfCultureArchiveAnswerAndPacking) {
    auto p = Parse({"/l", "de-DE", "/e", "/data/a.7z", "/overwriteanswer", "notoall", "/M=x",
                    "/dlmforward", "/?", "/q", ""});
    EXPECT_TRUE(p->result);
    EXPECT_EQ(p->app.state.requestedCulture, "de-DE");
    EXPECT_EQ(p->app.state.archivePath, "/data/a.7z");
    EXPECT_EQ(p->app.state.overwriteAnswer, 3);
    EXPECT_TRUE(p->app.state.ownValuesFile);
    EXPECT_EQ(p->app.state.packedArguments, (Args{"/?", "/q", ""}));
    EXPECT_EQ(p->app.state.UiLevel, 4);

    EXPECT_EQ(Parse({"/overwriteanswer", "maybe"})->app.state.overwriteAnswer, 1);
    EXPECT_EQ(Parse({"-OVERWRITEANSWER", "Cancel"})->app.state.overwriteAnswer, 4);
}

TEST(CommandLine, AddonFoldersResolveBesideTheProgram) {
    auto p = Parse({"/dlmaddondir", "Addons", "/dlvaddondir", "/srv/addons"});
    EXPECT_EQ(p->app.state.addonDirPacked, "/opt/dl/Addons");
    EXPECT_EQ(p->app.state.addonDir, "/srv/addons");
    EXPECT_TRUE(p->app.state.forwardedArguments.empty());
    EXPECT_EQ(Parse({"/dlvaddondir", "sub/dir"})->app.state.addonDir, "/opt/dl/sub/dir");
}

// Started through a link, the link's folder counts, not its target's.
TEST(CommandLine, AddonFoldersResolveBesideTheNameStartedUnder) {
    sfx::CApp app({"/dlmaddondir", "Addons", "/dlvaddondir", "more"}, "/opt/dl/setup",
                  "/home/u/bin/setup--phA1b2C3d4E5f6G7h8");
    ASSERT_TRUE(app.ParseCommandLine());
    EXPECT_EQ(app.state.addonDirPacked, "/home/u/bin/Addons");
    EXPECT_EQ(app.state.addonDir, "/home/u/bin/more");
    EXPECT_EQ(app.ProgramPath(), "/opt/dl/setup");
}

} // namespace
