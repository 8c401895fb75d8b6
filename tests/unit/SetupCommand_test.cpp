// The setup program's file name and parameter string.

#include "cptlib/Utf.h"
#include "cptlib/sys/CommandLineSplit.h"
#include "launcher/App.h"
#include "launcher/ProgressDialogSettings.h"
#include "launcher/SetupCommand.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace sfx;

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

struct CompositionCase {
    const char* name;
    std::string configuration;
    SetupCommandInput input;
    bool is32BitOn64Bit;
    SetupCommand expected;
};

SetupCommandInput Input(std::vector<std::string> forwarded = {}, std::string addonDir = {},
                        std::string addonDirPacked = {}, std::vector<std::string> packed = {}) {
    SetupCommandInput input;
    input.culture = "de-DE";
    input.extractDir = "/tmp/vrn12345678/";
    input.forwardedArguments = std::move(forwarded);
    input.addonDir = std::move(addonDir);
    input.addonDirPacked = std::move(addonDirPacked);
    input.packedArguments = std::move(packed);
    return input;
}

TEST(ComposeSetupCommand, Table) {
    const CompositionCase cases[] = {
        {"no configuration", "", Input(), false, {"setup.exe", "", 1}},
        {"culture section before main",
         "[main]\nSetupFileName=m.exe\nSetupParams=/m\nSetupShow=3\n"
         "[LANG_de-DE]\nSetupFileName=de.exe\nSetupParams=/de\nSetupShow=0\n",
         Input(),
         false,
         {"de.exe", "/de", 0}},
        {"SetupFileName64 ignored for a native process",
         "[main]\nSetupFileName=s32.exe\nSetupFileName64=s64.exe\n",
         Input(),
         false,
         {"s32.exe", "", 1}},
        {"SetupFileName64 for a 32-bit process on a 64-bit system",
         "[main]\nSetupFileName=s32.exe\nSetupFileName64=s64.exe\n",
         Input(),
         true,
         {"s64.exe", "", 1}},
        {"an empty SetupFileName64 of the culture keeps the 32-bit name",
         "[main]\nSetupFileName64=s64.exe\n[LANG_de-DE]\nSetupFileName64=\n",
         Input(),
         true,
         {"setup.exe", "", 1}},
        {"placeholders, then [ExtractDir] with its separator kept",
         "[main]\nSetupFileName=[ExtractDir]bin/[Arch].run\n"
         "SetupParams=[ExtractDir]\\data [extractdir] [PersonalFolder]x [Unknown]\n",
         Input(),
         false,
         {"/tmp/vrn12345678/bin/[Arch].run",
          "/tmp/vrn12345678/\\data [extractdir] /home/u/Documents/x [Unknown]", 1}},
        {"own arguments forwarded by default",
         "[main]\nSetupParams=/s\n",
         Input({"a", "two words"}),
         false,
         {"setup.exe", "/s a \"two words\"", 1}},
        {"own arguments without leading space",
         "",
         Input({"a", "b"}),
         false,
         {"setup.exe", "a b", 1}},
        {"ForwardOwnParameters 0",
         "[main]\nForwardOwnParameters=0\n",
         Input({"a"}),
         false,
         {"setup.exe", "", 1}},
        {"ForwardOwnParameters 2",
         "[main]\nForwardOwnParameters=2\n",
         Input({"a"}),
         false,
         {"setup.exe", "", 1}},
        {"addondir appended even without forwarding",
         "[main]\nForwardOwnParameters=0\n",
         Input({"a"}, "/my add/"),
         false,
         {"setup.exe", "/addondir \"/my add/\"", 1}},
        {"order: configured, -x, addondir, own",
         "[main]\nSetupParams=/s\n",
         Input({"own"}, "/ad", "/packed/", {"p"}),
         false,
         {"setup.exe", "/s -x " + EncodeBase64("/AddonDir /packed p") + " /addondir /ad own", 1}},
    };
    SetupCommandSystem system;
    system.folderProperties = {{"PersonalFolder", "/home/u/Documents/"}};
    for (const CompositionCase& c : cases) {
        SettingsStore settings;
        settings.Parse(c.configuration);
        system.is32BitOn64Bit = c.is32BitOn64Bit;
        const SetupCommand command = ComposeSetupCommand(settings, c.input, system);
        EXPECT_EQ(command.setupFile, c.expected.setupFile) << c.name;
        EXPECT_EQ(command.setupParams, c.expected.setupParams) << c.name;
        EXPECT_EQ(command.showCommand, c.expected.showCommand) << c.name;
    }
}

TEST(FillSetupCommand, UsesTheRecordAndTheApplication) {
    CApp app({}, "/opt/dl/setup-file");
    app.settings.Parse("[main]\nSetupParams=[ExtractDir]x\n[LANG_fr-FR]\nSetupShow=7\n");
    app.culture = "fr-FR";
    app.extractDir = "/x/out";
    app.forwardedArguments = {"a b"};
    app.addonDir = "/ad";
    ProgressDialogSettings record = ComposeProgressDialogSettings(app);
    FillSetupCommand(record, app);
    EXPECT_EQ(record.setupFile, "setup.exe");
    EXPECT_EQ(record.setupParams, "/x/out/x /addondir /ad \"a b\"");
    EXPECT_EQ(record.showCommand, 7);
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
