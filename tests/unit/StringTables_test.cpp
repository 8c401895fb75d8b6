// Checks the carried string tables in resources/strings.

#include "cptlib/localization/XmlStringResourcesLoader.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
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

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

StringMap LoadTable(const fs::path& path) {
    std::istringstream in(ReadBytes(path));
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
        {"SfxCommandLineHelp",
         "Usage: setup.exe [parameter]\n\nParameter:\n/? show help\n/x [folderpath]\n\nIf "
         "folderpath was set, files will be extracted to. If it was not set, files will be "
         "extracted to current folder."},
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
        const std::string bytes = ReadBytes(path);
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

TEST(StringTables, DirectivesAreFoundInOrder) {
    EXPECT_EQ(Directives("%d %% Extracting... %I64d of %s, 50%"),
              (std::vector<std::string>{"%d", "%%", "%I64d", "%s"}));
}

} // namespace
