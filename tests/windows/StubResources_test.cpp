// The PE stub carries the resources of resources/resources.manifest where the resource API
// finds them.

#include "cptlib/Exceptions.h"
#include "support/Files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

struct Module {
    HMODULE handle = LoadLibraryExW(cptlib::PathFromUtf8(SFX_STUB_PATH).c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~Module() {
        if (handle != nullptr)
            FreeLibrary(handle);
    }
};

std::string Bytes(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language) {
    HRSRC found = FindResourceExW(module, type, name, language);
    if (found == nullptr)
        return "(missing)";
    HGLOBAL loaded = LoadResource(module, found);
    const auto* data = static_cast<const char*>(LockResource(loaded));
    return data == nullptr ? "(unreadable)" : std::string(data, SizeofResource(module, found));
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR into) {
    reinterpret_cast<std::set<unsigned>*>(into)->insert(language);
    return TRUE;
}

// The string tables' languages and files, as the manifest lists them.
std::map<unsigned, std::string> ManifestStringTables() {
    std::ifstream in(cptlib::PathFromUtf8(SFX_SOURCE_DIR "/resources/resources.manifest"));
    std::map<unsigned, std::string> tables;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string type, name, source;
        unsigned language = 0;
        if (fields >> type >> name >> language >> source && type == "ZQ_XML_STRING")
            tables[language] = source.substr(5); // after "file:"
    }
    return tables;
}

TEST(StubResources, EveryStringTableIsThereInItsLanguageWithTheFilesBytes) {
    Module stub;
    ASSERT_NE(stub.handle, nullptr) << GetLastError();
    const auto tables = ManifestStringTables();
    ASSERT_EQ(tables.size(), 27u);
    std::set<unsigned> languages;
    EXPECT_TRUE(EnumResourceLanguagesW(stub.handle, L"ZQ_XML_STRING", MAKEINTRESOURCEW(1),
                                       CollectLanguage, reinterpret_cast<LONG_PTR>(&languages)));
    std::set<unsigned> expected;
    for (const auto& [language, file] : tables)
        expected.insert(language);
    EXPECT_EQ(languages, expected);
    for (const auto& [language, file] : tables)
        EXPECT_EQ(
            Bytes(stub.handle, L"ZQ_XML_STRING", MAKEINTRESOURCEW(1), static_cast<WORD>(language)),
            testsupport::ReadFile(cptlib::PathFromUtf8(SFX_SOURCE_DIR "/resources/" + file)))
            << language;
}

TEST(StubResources, TheSlotsAreZeroFilledAndNeutralAndTheManifestAsksForCommonControls6) {
    Module stub;
    ASSERT_NE(stub.handle, nullptr) << GetLastError();
    const struct {
        const wchar_t* name;
        std::size_t size;
    } slots[] = {{L"_VRN_VERIFY", 8}, {L"_VRN_DIGEST", 32}, {L"VRNID", 256}, {L"VRNID2", 256}};
    for (const auto& slot : slots)
        EXPECT_EQ(Bytes(stub.handle, MAKEINTRESOURCEW(10), slot.name, 0),
                  std::string(slot.size, '\0'));
    const std::string manifest =
        Bytes(stub.handle, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 1033);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("dpiAware"), std::string::npos);
    EXPECT_NE(FindResourceExW(stub.handle, MAKEINTRESOURCEW(14), MAKEINTRESOURCEW(128), 1033),
              nullptr);
}

} // namespace

namespace {

// A launcher file made from the stub by sfxbuild on Linux (tests/windows/stub-launcher.sh): the
// resource API still finds the tables, and the size slot holds the file's size.
TEST(StubResources, ALauncherFileMadeFromTheStubKeepsItsResourcesAndItsSize) {
    const char* file = std::getenv("SFX_LAUNCHER_FILE");
    if (file == nullptr)
        GTEST_SKIP() << "run by stub-launcher.sh with SFX_LAUNCHER_FILE";
    const std::filesystem::path path = cptlib::PathFromUtf8(file);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();
    std::set<unsigned> languages;
    EnumResourceLanguagesW(module, L"ZQ_XML_STRING", MAKEINTRESOURCEW(1), CollectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
    EXPECT_EQ(languages.size(), 27u);
    const std::string size = Bytes(module, MAKEINTRESOURCEW(10), L"_VRN_VERIFY", 0);
    ASSERT_EQ(size.size(), 8u);
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(size[i]);
    EXPECT_EQ(value, std::filesystem::file_size(path));
    const std::string id = Bytes(module, MAKEINTRESOURCEW(10), L"VRNID", 0);
    EXPECT_EQ(id.substr(0, id.find('\0')), "1234-5678");
    FreeLibrary(module);
}

} // namespace
