// The setup command: the setup program's file name and parameter string, from the
// configuration and the start-up state to what the setup worker starts.

#include "cptlib/Utf.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "launcher/ProgressDialogSettings.h"
#include "launcher/SetupCommand.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace sfx;
namespace fs = std::filesystem;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;

TEST(Base64, EncodesTheStandardVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {std::string("\xFF\xFE\x00", 3), "//4A"},
    };
    for (const auto& [bytes, text] : vectors) {
        EXPECT_EQ(EncodeBase64(bytes), text);
        EXPECT_EQ(DecodeBase64Prefix(text), bytes);
    }
}

TEST(Base64, DecodingStopsAtPaddingOrForeignCharacter) {
    const std::pair<std::string, std::string> cases[] = {
        {"Zm9vYg==Zm9v", "foob"}, // nothing after the first "="
        {"Zm9v=YmFy", "foo"},
        {"Zm9v!YmFy", "foo"},
        {"Zm9v YmFy", "foo"},
        {"Zm9vYmE", "fooba"}, // no padding: the whole bytes of the last group
        {"Zm9vY", "foo"},     // six bits are no byte
        {"!", ""},
        {"Zm9v\xC3\xA9", "foo"},
    };
    for (const auto& [text, bytes] : cases)
        EXPECT_EQ(DecodeBase64Prefix(text), bytes) << text;
}

TEST(AppendPackedArguments, RewritesOrAppendsTheXValue) {
    const std::string b64old = EncodeBase64("old");
    // U+0151 and U+24455 (the surrogates D851 DC55) cut to their low bytes read "Q" and "QU".
    const std::string cutQ = "\xC5\x91";
    const std::string cutQU = "\xF0\xA4\x91\x95";
    struct Case {
        const char* name;
        std::string parameters;
        std::string addonDirPacked;
        std::vector<std::string> packed;
        std::string expected;
    };
    const Case cases[] = {
        {"nothing to pack", "/q -x QUJD", "", {}, "/q -x QUJD"},
        {"no value yet", "/q", "", {"a"}, "/q -x " + EncodeBase64("a")},
        {"empty parameters", "", "", {"a"}, " -x " + EncodeBase64("a")},
        {"add-on folder: one separator removed, quoted",
         "/q",
         "/my add//",
         {"p"},
         "/q -x " + EncodeBase64("/AddonDir \"/my add/\" p")},
        {"backslash separator removed too",
         "",
         "/add\\",
         {},
         " -x " + EncodeBase64("/AddonDir /add")},
        {"existing value extended in place",
         "/a -x " + b64old + " /b",
         "",
         {"two words"},
         "/a -x " + EncodeBase64("old \"two words\"") + " /b"},
        {"slash, upper case, tab", "/X\t" + b64old, "", {"p"}, "/X\t" + EncodeBase64("old p")},
        {"only the first value",
         "-x QUJD -x QUJD",
         "",
         {"p"},
         "-x " + EncodeBase64("ABC p") + " -x QUJD"},
        {"no space after -x is no match", "-xQUJD", "", {"p"}, "-xQUJD -x " + EncodeBase64("p")},
        {"-x at the end is no match", "/a -x ", "", {"p"}, "/a -x  -x " + EncodeBase64("p")},
        {"value that is not Base64", "-x !!!", "", {"p"}, "-x " + EncodeBase64(" p")},
        {"value decoded up to its padding", "-x QQ==QUJD", "", {"p"}, "-x " + EncodeBase64("A p")},
        {"characters cut to their low byte",
         "-x " + cutQ + "UJD",
         "",
         {"p"},
         "-x " + EncodeBase64("ABC p")},
        {"surrogate pair cut to two bytes",
         "-x " + cutQU + "JD",
         "",
         {"p"},
         "-x " + EncodeBase64("ABC p")},
        {"a path ending in /x is no switch",
         "--src /tmp/vrn1/x --quiet",
         "",
         {"p"},
         "--src /tmp/vrn1/x --quiet -x " + EncodeBase64("p")},
        {"-x inside a token is no switch",
         "--src a-x --quiet",
         "",
         {"p"},
         "--src a-x --quiet -x " + EncodeBase64("p")},
        {"a whole /x token after a tab is one",
         "--src\t/x " + b64old + " --quiet",
         "",
         {"p"},
         "--src\t/x " + EncodeBase64("old p") + " --quiet"},
        {"-x after a letter of two bytes is inside a token",
         "caf\xC3\xA9-x " + b64old,
         "",
         {"p"},
         "caf\xC3\xA9-x " + b64old + " -x " + EncodeBase64("p")},
        {"the root keeps its separator", "", "/", {}, " -x " + EncodeBase64("/AddonDir /")},
        {"UTF-8 arguments carried as UTF-8",
         "",
         "",
         {"caf\xC3\xA9"},
         " -x " + EncodeBase64("caf\xC3\xA9")},
    };
    for (const Case& c : cases) {
        std::string parameters = c.parameters;
        AppendPackedArguments(parameters, c.addonDirPacked, c.packed);
        EXPECT_EQ(parameters, c.expected) << c.name;
    }
}

// The decoded -x value splits back into the packed arguments.
TEST(AppendPackedArguments, ValueSplitsBackIntoTheArguments) {
    const std::vector<std::string> packed = {"", "a \"b\"", "c:\\dir\\", "\xE2\x82\xAC \t"};
    std::string parameters = "/s";
    AppendPackedArguments(parameters, "/opt/add on/", packed);
    const auto argv = cptlib::SplitCommandLine(parameters);
    ASSERT_EQ(argv.size(), 3u);
    EXPECT_EQ(argv[1], "-x");
    std::vector<std::string> expected = {"/AddonDir", "/opt/add on"};
    expected.insert(expected.end(), packed.begin(), packed.end());
    EXPECT_EQ(cptlib::SplitCommandLine(DecodeBase64Prefix(argv[2])), expected);
}

TEST(QuoteSwitch, QuotesSoThatTheSetupReadsTheSameText) {
    struct Case {
        std::string item;
        std::string quoted;
    };
    const Case cases[] = {
        {"-m", "-m"},
        {"", "\"\""},
        {"/tmp/vrnabc/SetupValues.dat", "/tmp/vrnabc/SetupValues.dat"},
        {"/tmp/my folder/SetupValues.dat", "\"/tmp/my folder/SetupValues.dat\""},
        {"a\tb", "\"a\tb\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\a b\\", "\"C:\\a b\\\\\""},
        {"ends\\", "ends\\"},
        // Backslashes before a quote double, or the reader would take them for an escape.
        {"a\\\"b", "a\\\\\\\"b"},
        {"two\\\\ trailing\\\\", "\"two\\\\ trailing\\\\\\\\\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        EXPECT_EQ(QuoteSwitch(c.item), c.quoted);
        EXPECT_EQ(cptlib::SplitCommandLine("-x " + QuoteSwitch(c.item)),
                  (std::vector<std::string>{"-x", c.item}));
    }
}

// The start-up state as the command line leaves it; the extract folder comes from the test.
StartupState State(std::vector<std::string> forwarded = {}, std::string addonDir = {},
                   std::string addonDirPacked = {}, std::vector<std::string> packed = {}) {
    StartupState state;
    state.culture = "de-DE";
    state.showLanguageDialog = true;
    state.forwardedArguments = std::move(forwarded);
    state.addonDir = std::move(addonDir);
    state.addonDirPacked = std::move(addonDirPacked);
    state.packedArguments = std::move(packed);
    return state;
}

StartupState Chosen(StartupState state, bool ownValuesFile = false) {
    state.cultureChosen = true;
    state.ownValuesFile = ownValuesFile;
    return state;
}

StartupState Culture(StartupState state, std::string culture) {
    state.culture = std::move(culture);
    return state;
}

constexpr const char* kForward = "[main]\nForwardResourceDataFromSFX=1\n";

class SetupCommandTest : public ::testing::Test {
protected:
    // A product in `name` below the scratch folder, as the extraction left it.
    std::string MakeFolder(const std::string& name) {
        const std::string folder = (temp / name).string() + "/";
        for (const char* file : {"setup.sh", "setup.exe", "de.exe", "s32.exe", "s64.exe",
                                 "Setup.MS_", "setup.msi", "product/inner.sh", "product/both"})
            WriteFile(folder + file, "#!/bin/sh\n");
        fs::create_directories(folder + "both");
        return folder;
    }
    TempDir temp;
};

// The command from the configuration and the start-up state to what the setup worker starts.
TEST_F(SetupCommandTest, ComposedEndToEnd) {
    struct Case {
        const char* name = "";
        std::string configuration = {};
        StartupState state = {};
        bool is32BitOn64Bit = false;
        std::string file = {};       // "$": the extract folder in use; "@msiexec": the installer
        std::string parameters = {}; // "$": the extract folder in use
        std::int32_t showCommand = 1;
        bool valuesFile = false;
        std::string folder = "vrnaaaaaaaa";
        std::string runFolder = {}; // the folder in use when it changed after composing
        bool installerOnPath = true;
    };
    const Case cases[] = {
        // The setup file and the configured parameters.
        {.name = "no configuration", .state = State(), .file = "$setup.exe"},
        {.name = "culture section before main",
         .configuration = "[main]\nSetupFileName=m.exe\nSetupParams=/m\nSetupShow=3\n"
                          "[LANG_de-DE]\nSetupFileName=de.exe\nSetupParams=/de\nSetupShow=0\n",
         .state = State(),
         .file = "$de.exe",
         .parameters = "/de",
         .showCommand = 0},
        {.name = "SetupFileName64 ignored for a native process",
         .configuration = "[main]\nSetupFileName=s32.exe\nSetupFileName64=s64.exe\n",
         .state = State(),
         .file = "$s32.exe"},
        {.name = "SetupFileName64 for a 32-bit process on a 64-bit system",
         .configuration = "[main]\nSetupFileName=s32.exe\nSetupFileName64=s64.exe\n",
         .state = State(),
         .is32BitOn64Bit = true,
         .file = "$s64.exe"},
        {.name = "an empty SetupFileName64 of the culture keeps the 32-bit name",
         .configuration = "[main]\nSetupFileName64=s64.exe\n[LANG_de-DE]\nSetupFileName64=\n",
         .state = State(),
         .is32BitOn64Bit = true,
         .file = "$setup.exe"},
        {.name = "placeholders, then [ExtractDir] with its separator kept",
         .configuration = "[main]\nSetupFileName=[ExtractDir]bin/[Arch].run\n"
                          "SetupParams=[ExtractDir]\\data [extractdir] [PersonalFolder]x "
                          "[Unknown]\n",
         .state = State(),
         .file = "$bin/[Arch].run",
         .parameters = "$\\data [extractdir] /home/u/Documents/x [Unknown]"},
        {.name = "another culture, [ExtractDir] of a folder given without separator",
         .configuration = "[main]\nSetupParams=[ExtractDir]x\n[LANG_fr-FR]\nSetupShow=7\n",
         .state = Culture(State({"a b"}, "/ad"), "fr-FR"),
         .file = "$setup.exe",
         .parameters = "$x /addondir /ad \"a b\"",
         .showCommand = 7},
        {.name = "relative name",
         .configuration = "[main]\nSetupFileName=setup.sh\n",
         .state = State(),
         .file = "$setup.sh"},
        {.name = "configured parameters as they are",
         .configuration = "[main]\nSetupFileName=setup.sh\nSetupParams=/S \"x y\"\n",
         .state = State(),
         .file = "$setup.sh",
         .parameters = "/S \"x y\""},
        {.name = "missing name found under product/",
         .configuration = "[main]\nSetupFileName=inner.sh\n",
         .state = State(),
         .file = "$product/inner.sh"},
        {.name = "a folder of that name falls back too",
         .configuration = "[main]\nSetupFileName=both\n",
         .state = State(),
         .file = "$product/both"},
        {.name = "absolute name taken as it is",
         .configuration = "[main]\nSetupFileName=/opt/tool/run\nSetupParams=-q\n",
         .state = State(),
         .file = "/opt/tool/run",
         .parameters = "-q"},
        // Own, add-on and packed arguments.
        {.name = "own arguments forwarded by default",
         .configuration = "[main]\nSetupParams=/s\n",
         .state = State({"a", "two words"}),
         .file = "$setup.exe",
         .parameters = "/s a \"two words\""},
        {.name = "own arguments without leading space",
         .state = State({"a", "b"}),
         .file = "$setup.exe",
         .parameters = "a b"},
        {.name = "ForwardOwnParameters 0",
         .configuration = "[main]\nForwardOwnParameters=0\n",
         .state = State({"a"}),
         .file = "$setup.exe"},
        {.name = "ForwardOwnParameters 2",
         .configuration = "[main]\nForwardOwnParameters=2\n",
         .state = State({"a"}),
         .file = "$setup.exe"},
        {.name = "addondir appended even without forwarding",
         .configuration = "[main]\nForwardOwnParameters=0\n",
         .state = State({"a"}, "/my add/"),
         .file = "$setup.exe",
         .parameters = "/addondir \"/my add/\""},
        {.name = "order: configured, -x, addondir, own",
         .configuration = "[main]\nSetupParams=/s\n",
         .state = State({"own"}, "/ad", "/packed/", {"p"}),
         .file = "$setup.exe",
         .parameters = "/s -x " + EncodeBase64("/AddonDir /packed p") + " /addondir /ad own"},
        // The values file, the culture and installer databases.
        {.name = "forwarding adds the values file",
         .configuration = std::string(kForward) + "SetupFileName=setup.sh\nSetupParams=/S\n",
         .state = State(),
         .file = "$setup.sh",
         .parameters = "-m $SetupValues.dat /S",
         .valuesFile = true},
        {.name = "and the culture when it was chosen",
         .configuration = std::string(kForward) + "SetupFileName=setup.sh\n",
         .state = Chosen(State()),
         .file = "$setup.sh",
         .parameters = "-m $SetupValues.dat /l de-DE",
         .valuesFile = true},
        {.name = "own values file: no -m",
         .configuration = std::string(kForward) + "SetupFileName=setup.sh\n",
         .state = Chosen(State(), true),
         .file = "$setup.sh",
         .parameters = "/l de-DE"},
        {.name = "installer database through msiexec",
         .configuration = std::string(kForward) + "SetupFileName=Setup.MS_\nSetupParams=/qn\n",
         .state = Chosen(State()),
         .file = "@msiexec",
         .parameters = "/i $Setup.MS_ /qn"},
        {.name = "a folder with a space is quoted; a missing installer is named bare",
         .configuration = "[main]\nSetupFileName=setup.msi\n",
         .state = State(),
         .file = "msiexec",
         .parameters = "/i \"$setup.msi\"",
         .folder = "my folder",
         .installerOnPath = false},
        // A folder renamed after composing reaches the setup.
        {.name = "file and parameters re-based onto the folder in use",
         .configuration = std::string(kForward) +
                          "SetupFileName=[ExtractDir]setup.sh\nSetupParams=/dir [ExtractDir]data\n",
         .state = State(),
         .file = "$setup.sh",
         .parameters = "-m $SetupValues.dat /dir $data",
         .valuesFile = true,
         .runFolder = "vrnbbbbbbbb"},
        {.name = "a relative file resolved in the folder in use",
         .configuration = "[main]\nSetupFileName=inner.sh\nSetupParams=[ExtractDir]\n",
         .state = State(),
         .file = "$product/inner.sh",
         .parameters = "$",
         .runFolder = "other folder"},
    };
    fs::create_directories(temp / "bin");
    testsupport::WriteExecutable(temp / "bin/msiexec", "#!/bin/sh\n");
    SetupCommandSystem system;
    system.folderProperties = {{"PersonalFolder", "/home/u/Documents/"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ScopedEnv path("PATH", c.installerOnPath ? (temp / "bin").string()
                                                       : (temp / "nothing-here").string());
        const std::string composed = MakeFolder(c.folder);
        SettingsStore settings;
        settings.Parse(c.configuration);
        StartupState state = c.state;
        state.extractDir = composed.substr(0, composed.size() - 1);
        system.is32BitOn64Bit = c.is32BitOn64Bit;
        ProgressDialogSettings record =
            ComposeProgressDialogSettings(state, "/media/launcher", settings, system);
        ASSERT_EQ(record.extractDir, composed);
        if (!c.runFolder.empty())
            record.extractDir = MakeFolder(c.runFolder);
        const SetupLaunchInfo info = ComposeSetupLaunch(record, composed, record.programPath);

        const auto expand = [&](std::string text) {
            for (std::size_t at; (at = text.find('$')) != std::string::npos;)
                text.replace(at, 1, record.extractDir);
            return text;
        };
        EXPECT_EQ(info.setupFile,
                  c.file == "@msiexec" ? (temp / "bin/msiexec").string() : expand(c.file));
        EXPECT_EQ(info.parameters, expand(c.parameters));
        EXPECT_EQ(info.showCommand, c.showCommand);
        EXPECT_EQ(info.valuesFile, c.valuesFile ? record.extractDir + "SetupValues.dat" : "");
        EXPECT_EQ(info.extractDir, record.extractDir);
        EXPECT_EQ(info.programFile, fs::path("/media/launcher"));
    }
}

TEST(SetupRunsFromExtractFolder, OnlyAProgramInTheExtractFolderNeedsToBeExecutedThere) {
    struct Case {
        const char* file;
        bool expected;
    };
    const Case cases[] = {
        {"setup.exe", true},
        {"setup.sh", true},
        {"bin/install", true},
        {"[ExtractDir]setup.sh", true},
        {"[ExtractDir]product/setup", true},
        {"setup.msi", false},
        {"[ExtractDir]Setup.MS_", false},
        {"/usr/bin/installer", false},
        {"[PersonalFolder]setup.sh", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SetupRunsFromExtractFolder(c.file), c.expected) << c.file;
}

TEST(Utf, LowBytesOfUtf16AndWidening) {
    EXPECT_EQ(cptlib::LowBytesOfUtf16("A\xC3\xA9\xC5\x91"), "A\xE9\x51");
    EXPECT_EQ(cptlib::LowBytesOfUtf16("\xF0\x9F\x98\x80"), std::string("\x3D\x00", 2));
    EXPECT_EQ(cptlib::LowBytesOfUtf16("a\xFF"
                                      "b"),
              "a\xFF"
              "b"); // not UTF-8: kept
    EXPECT_EQ(cptlib::WidenBytesToUtf8("A\xE9"), "A\xC3\xA9");
    EXPECT_EQ(cptlib::WidenBytesToUtf8(cptlib::LowBytesOfUtf16("x\xC3\xBF")), "x\xC3\xBF");
}

} // namespace
