// Checks the carried string tables in resources/strings.

#include "cptlib/Utf.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "rescomp/ResourceCompiler.h"
#include "support/Files.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <map>
#include <optional>
#include <sstream>

namespace {

using namespace cptlib;
namespace fs = std::filesystem;

const fs::path kTableFolder = fs::path(SFX_SOURCE_DIR) / "resources" / "strings";

std::map<std::string, fs::path> TableFiles() {
    std::map<std::string, fs::path> files;
    for (const auto& entry : fs::directory_iterator(kTableFolder)) {
        if (entry.path().extension() == ".xml")
            files[entry.path().stem().string()] = entry.path();
    }
    return files;
}

StringMap LoadTable(const fs::path& path) {
    std::istringstream in(testsupport::ReadFile(path));
    StringMap strings;
    LoadXmlStringResources(&strings, in, "");
    return strings;
}

// The directives that the code showing a text fills in, in order.
std::vector<std::string> Directives(const std::string& text) {
    static const boost::regex directive(
        R"(%(?:%|[-+ #0]*[0-9]*(?:\.[0-9]+)?(?:I64|ll|l|h)?[a-zA-Z]))");
    std::vector<std::string> found;
    for (boost::sregex_iterator it(text.begin(), text.end(), directive), end; it != end; ++it)
        found.push_back(it->str());
    return found;
}

TEST(StringTables, EnUsHoldsTheLaunchersTexts) {
    const std::map<std::string, std::string> expected = {
        {"OK", "OK"},
        {"Cancel", "Cancel"},
        {"Yes", "&Yes"},
        {"No", "&No"},
        {"Retry", "&Retry"},
        {"Ignore", "&Ignore"},
        {"VerifyCancel", "Do you really want to cancel the installation?"},
        {"LanguageSelectionTitle", "Installation Language"},
        {"LanguageSelection", "Please choose a language for this installation:"},
        {"SfxAppTitle", "Setup Self-Extractor"},
        {"SfxProgressTitle", "%d %% Extracting..."},
        {"SfxProgressText", "Preparing files for installation..."},
        {"StartSetup", "Starting installation..."},
        {"SfxErrorBadArchive", "The setup file is corrupted. If you downloaded this file from "
                               "the Internet, please download it again."},
        {"SfxErrorReadArchive", "The compressed setup file could not be read."},
        {"ErrorSize", "Expected file size: %I64d\nActual file size: %I64d"},
        {"SfxErrorExtract", "The installation files could not be extracted."},
        {"ChooseTempDir", "Choose a location with enough space to temporary store the "
                          "installation files (%s)."},
        {"KiB", "KB"},
        {"MiB", "MB"},
        {"GiB", "GB"},
        {"TiB", "TB"},
        {"SelectTargetDir", "Choose destination location"},
        {"ExtractSuccess",
         "The installation files have been successfully extracted into the folder:"},
        {"OverwriteAllQuestion", "Overwrite all existing files?"},
        {"OverwriteAllButton", "Overwrite all"},
        {"DeletingTempFiles", "Deleting temporary files..."},
    };
    const StringMap table = LoadTable(kTableFolder / "en-US.xml");
    for (const auto& [id, text] : expected) {
        ASSERT_EQ(table.count(id), 1u) << id;
        EXPECT_EQ(table.at(id), text) << id;
    }
    // The title is built from its own pattern when the table lacks it.
    EXPECT_EQ(table.count("SelectTargetDirAppTitle"), 0u);
}

TEST(StringTables, EveryTableKeepsTheIdsAndDirectivesOfEnUs) {
    const auto files = TableFiles();
    ASSERT_EQ(files.count("en-US"), 1u);
    const StringMap reference = LoadTable(files.at("en-US"));
    for (const auto& [culture, path] : files) {
        SCOPED_TRACE(culture);
        const StringMap table = LoadTable(path);
        for (const auto& entry : table)
            EXPECT_EQ(reference.count(entry.first), 1u) << "Id not in en-US: " << entry.first;
        for (const auto& [id, text] : reference) {
            const auto found = table.find(id);
            if (found == table.end()) {
                ADD_FAILURE() << "missing Id " << id;
                continue;
            }
            EXPECT_EQ(Directives(found->second), Directives(text)) << id;
        }
    }
}

TEST(StringTables, EveryTableHasTheCarriedFormat) {
    const std::string prolog = "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
                               "<?xml-stylesheet type=\"text/xsl\" href=\"VrnSetupText.xsl\"?>"
                               "\r\n<VrnSetupLocalization>\r\n";
    for (const auto& [culture, path] : TableFiles()) {
        const std::string bytes = testsupport::ReadFile(path);
        EXPECT_EQ(bytes.rfind(prolog, 0), 0u) << culture;
        std::size_t bareLineFeeds = 0;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r'))
                ++bareLineFeeds;
        }
        EXPECT_EQ(bareLineFeeds, 0u) << culture;
        EXPECT_NE(bytes.find("\r\n\t<String Id="), std::string::npos) << culture;
    }
}

// Lower-cases any letter, not only ASCII ones, whatever the process locale is.
char32_t LowerLetter(char32_t c) {
    static const std::locale utf8 = [] {
        try {
            return std::locale("C.UTF-8");
        } catch (const std::runtime_error&) {
            return std::locale::classic();
        }
    }();
    return static_cast<char32_t>(
        std::use_facet<std::ctype<wchar_t>>(utf8).tolower(static_cast<wchar_t>(c)));
}

// The keyboard accelerators of a caption: the characters after a single '&' ("&&" is a literal
// ampersand), lower-cased.
std::vector<char32_t> Accelerators(const std::string& text) {
    const std::u32string points = DecodeUtf8(text).value_or(U"");
    std::vector<char32_t> found;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i] != U'&')
            continue;
        if (i + 1 < points.size() && points[i + 1] == U'&') {
            ++i;
            continue;
        }
        found.push_back(i + 1 < points.size() ? LowerLetter(points[i + 1]) : U'\0');
    }
    return found;
}

std::size_t LineBreaks(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(StringTables, AcceleratorsAreUsableInEveryTable) {
    // Buttons that the message box shows together need different keys.
    const std::pair<const char*, const char*> sharedBoxes[] = {{"Yes", "No"}, {"Retry", "Ignore"}};
    for (const auto& [culture, path] : TableFiles()) {
        SCOPED_TRACE(culture);
        StringMap table = LoadTable(path);
        for (const auto& [id, text] : table) {
            const auto keys = Accelerators(text);
            EXPECT_LE(keys.size(), 1u) << id << ": " << text;
            for (const char32_t key : keys) {
                EXPECT_TRUE(key != U'\0' && key != U' ') << id << ": " << text;
            }
        }
        for (const auto& [first, second] : sharedBoxes) {
            const auto a = Accelerators(table[first]);
            const auto b = Accelerators(table[second]);
            ASSERT_EQ(a.size(), 1u) << first << ": " << table[first];
            ASSERT_EQ(b.size(), 1u) << second << ": " << table[second];
            EXPECT_NE(a[0], b[0]) << table[first] << " / " << table[second];
        }
    }
}

// A terminal's yes/no prompt takes the language's words besides the English ones: no word may
// answer both ways, and the first of each list (the one the prompt shows) is no single letter
// that begins the other answer's word (as い begins いいえ and ends はい).
TEST(StringTables, YesAndNoWordsTellTheAnswersApart) {
    const auto words = [](const std::string& list) {
        std::vector<std::string> out;
        std::size_t start = 0;
        while (start <= list.size()) {
            const std::size_t end = std::min(list.find('|', start), list.size());
            out.push_back(list.substr(start, end - start));
            start = end + 1;
        }
        return out;
    };
    for (const auto& [culture, path] : TableFiles()) {
        SCOPED_TRACE(culture);
        StringMap table = LoadTable(path);
        auto yes = words(table["TerminalYesWords"]);
        auto no = words(table["TerminalNoWords"]);
        ASSERT_FALSE(yes.front().empty());
        ASSERT_FALSE(no.front().empty());
        EXPECT_NE(table["TerminalYesNo"].find("%s"), std::string::npos);
        yes.insert(yes.end(), {"y", "yes"});
        no.insert(no.end(), {"n", "no"});
        for (const auto& a : yes) {
            EXPECT_FALSE(a.empty());
            for (const auto& b : no)
                EXPECT_NE(a, b);
        }
        const auto firstPoint = [](const std::string& word) {
            return DecodeUtf8(word).value_or(U"").substr(0, 1);
        };
        const std::u32string shownYes = DecodeUtf8(yes.front()).value_or(U"");
        const std::u32string shownNo = DecodeUtf8(no.front()).value_or(U"");
        if (shownYes.size() == 1) {
            EXPECT_EQ(DecodeUtf8(no.front()).value_or(U"").find(shownYes), std::u32string::npos);
        }
        if (shownNo.size() == 1) {
            EXPECT_EQ(DecodeUtf8(yes.front()).value_or(U"").find(shownNo), std::u32string::npos);
        }
        EXPECT_NE(firstPoint(yes.front()), firstPoint(no.front()));
    }
}

TEST(StringTables, EveryTableKeepsTheLineLayoutOfEnUs) {
    const auto files = TableFiles();
    const StringMap reference = LoadTable(files.at("en-US"));
    for (const auto& [culture, path] : files) {
        SCOPED_TRACE(culture);
        StringMap table = LoadTable(path);
        for (const auto& [id, text] : reference) {
            const auto found = table.find(id);
            if (found != table.end()) {
                EXPECT_EQ(LineBreaks(found->second), LineBreaks(text)) << id;
            }
        }
        // The syntax lines of the help stay what the command line accepts, and it names the
        // file that was run and the folder /x extracts to.
        const std::string help = "\n" + table["SfxCommandLineHelp"];
        for (const char* part :
             {"[SfxProgramFile] [", "\n /?, -h, --help: ", "\n --version: ", "\n /x [",
              "\n /q: ", "\n /qb: ", "\n /l ", "\n /overwriteanswer ", "[SfxDefaultFolder]"})
            EXPECT_NE(help.find(part), std::string::npos) << part << "\n" << help;
    }
}

// The tables that the launcher carries, by the language id it finds them under.
const std::pair<const char*, std::uint16_t> kCarriedTables[] = {
    {"de", 7},       {"en", 9},        {"es", 10},      {"fr", 12},      {"it", 16},
    {"zh-TW", 1028}, {"cs-CZ", 1029},  {"da-DK", 1030}, {"el-GR", 1032}, {"en-US", 1033},
    {"fi-FI", 1035}, {"hu-HU", 1038},  {"ja-JP", 1041}, {"ko-KR", 1042}, {"nl-NL", 1043},
    {"nb-NO", 1044}, {"pl-PL", 1045},  {"pt-BR", 1046}, {"ru-RU", 1049}, {"sv-SE", 1053},
    {"tr-TR", 1055}, {"zh-CN", 2052},  {"en-GB", 2057}, {"pt-PT", 2070}, {"fr-CA", 3084},
    {"en-CA", 4105}, {"es-US", 21514},
};

TEST(StringTables, TheManifestCarriesEveryTableUnderItsLanguage) {
    std::vector<fs::path> inputs;
    const auto resources = rescomp::LoadManifest(
        fs::path(SFX_SOURCE_DIR) / "resources" / "resources.manifest", inputs);
    std::map<std::uint16_t, std::string> carried;
    for (const auto& resource : resources) {
        if (resource.type.name != "ZQ_XML_STRING")
            continue;
        EXPECT_TRUE(resource.name.name.empty() && resource.name.id == 1) << resource.language;
        carried[resource.language] = resource.data;
    }
    const auto files = TableFiles();
    EXPECT_EQ(files.size(), std::size(kCarriedTables));
    EXPECT_EQ(carried.size(), std::size(kCarriedTables));
    for (const auto& [culture, language] : kCarriedTables) {
        SCOPED_TRACE(culture);
        ASSERT_EQ(files.count(culture), 1u);
        ASSERT_EQ(carried.count(language), 1u);
        EXPECT_EQ(carried.at(language), testsupport::ReadFile(files.at(culture)));
    }
}

// Through the tables linked into this program: a regional culture without a table of its own
// gets its language's neutral table, not en-US.
TEST(StringTables, RegionalCulturesFindTheirLanguagesTable) {
    const std::pair<const char*, const char*> cases[] = {
        {"de-AT", "de"},    {"de-DE", "de"},    {"es-MX", "es"}, {"es-ES", "es"},
        {"fr-BE", "fr"},    {"it-IT", "it"},    {"en-AU", "en"}, {"fr-CA", "fr-CA"},
        {"pt-PT", "pt-PT"}, {"es-US", "es-US"},
    };
    for (const auto& [culture, table] : cases) {
        StringMap loaded;
        XmlAppStringResourceLoader().LoadInto(loaded, culture);
        EXPECT_TRUE(loaded == LoadTable(kTableFolder / (std::string(table) + ".xml")))
            << culture << " got the table whose Cancel is \"" << loaded["Cancel"] << "\"";
    }
}

TEST(StringTables, AcceleratorsAreFoundLikeTheButtonsShowThem) {
    EXPECT_EQ(Accelerators("&Yes"), std::vector<char32_t>{U'y'});
    EXPECT_EQ(Accelerators("Ό&χι"), std::vector<char32_t>{U'χ'});
    EXPECT_EQ(Accelerators("&Повторить"), std::vector<char32_t>{U'п'});
    EXPECT_EQ(Accelerators("Save && &Close"), std::vector<char32_t>{U'c'});
    EXPECT_EQ(Accelerators("&A&b"), (std::vector<char32_t>{U'a', U'b'}));
    EXPECT_TRUE(Accelerators("Tom && Jerry").empty());
}

TEST(StringTables, DirectivesAreFoundInOrder) {
    EXPECT_EQ(Directives("%d %% Extracting... %I64d of %s, 50%"),
              (std::vector<std::string>{"%d", "%%", "%I64d", "%s"}));
}

} // namespace
