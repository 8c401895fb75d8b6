// The running program's resources through the system's resource calls: the language order of
// the string tables, the fall-back to the first language present, and the not-found codes that
// the error messages tell apart.

#include "cptlib/platform/OwnResources.h"
#include "cptlib/resources/ResourceUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr auto kTypeMissing = cptlib::HResultFromWin32(cptlib::kErrorResourceTypeNotFound);
constexpr auto kNameMissing = cptlib::HResultFromWin32(cptlib::kErrorResourceNameNotFound);

TEST(OwnResources, FindsTheFirstLanguageAskedElseTheFirstPresent) {
    struct Case {
        cptlib::ResourceId name;
        std::vector<std::uint16_t> languages;
        std::string expected;
    } cases[] = {
        {"PROBE", {0x0409, 0x0407}, "en"},
        {"PROBE", {0x0407, 0x0409}, "de"},
        {"probe", {0x040C, 0x0409}, "en"}, // names compare without case
        {"PROBE", {0x040C}, "de"},         // none asked for: the first present
        {"PROBE", {}, "de"},
        {"#7", {0x0409}, "seven"},
        {7, {}, "seven"},
    };
    for (const Case& c : cases) {
        std::span<const std::uint8_t> bytes;
        ASSERT_EQ(cptlib::platform::FindOwnResource("SFXTEST", c.name, c.languages, bytes),
                  cptlib::kHrOk)
            << c.name.ToString();
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), c.expected) << c.name.ToString();
    }
}

TEST(OwnResources, TellsAMissingTypeFromAMissingName) {
    std::span<const std::uint8_t> bytes;
    EXPECT_EQ(cptlib::platform::FindOwnResource("SFXTEST", "ABSENT", {}, bytes), kNameMissing);
    EXPECT_EQ(cptlib::platform::FindOwnResource("NOSUCHTYPE", "PROBE", {}, bytes), kTypeMissing);
    EXPECT_TRUE(bytes.empty());
}

TEST(OwnResources, StreamsReadTheProgramsOwnResources) {
    const auto stream = cptlib::CreateStreamFromResource({{}, "SFXTEST", "PROBE", 0x0409}, {});
    std::string text;
    std::getline(*stream, text);
    EXPECT_EQ(text, "en");
    EXPECT_THROW(cptlib::CreateStreamFromResource({{}, "SFXTEST", "ABSENT", {}}, {}),
                 std::exception);
}

} // namespace
