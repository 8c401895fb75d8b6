// Values forwarded from launcher files made by sfxbuild: stamped slots, data blocks, file-name
// tags, and the values file the setup receives.

#include "launcher/Forwarding.h"

#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace {

using namespace testsupport;
using namespace sfx;
namespace fs = std::filesystem;
using Map = std::vector<std::pair<std::string, std::string>>;

Map Entries(const ForwardedValues& values) {
    return {values.begin(), values.end()};
}

class Forwarding : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "product/setup.exe", "#!/bin/sh\nexit 0\n");
        WriteFile(dir / "config.txt", "[main]\nProductName=Demo\nForwardResourceDataFromSFX=1\n");
    }

    fs::path Create(const std::string& name, const std::string& data = {}) {
        const fs::path out = dir / name;
        const ProcessResult r = CreateLauncher(dir / "config.txt", dir / "product", out, {}, data);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    void Stamp(const fs::path& file, const std::vector<std::string>& assignments) {
        const ProcessResult r = StampLauncher(file, assignments);
        EXPECT_EQ(r.status, 0) << r.err;
    }

    TempDir dir;
};

TEST_F(Forwarding, AFreshLauncherForwardsNothing) {
    const fs::path launcher = Create("setup");
    // The slots are there, zero-filled; _VRN_VERIFY is none of them.
    ForwardedValues values;
    EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::Resources), cptlib::kHrOk);
    EXPECT_EQ(Entries(values), (Map{{"VRNID", ""}, {"VRNID2", ""}, {"ZQ_BRINDLE_PHASH", ""}}));

    ForwardingMethod used = ForwardingMethod::Automatic;
    EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::Automatic, &used,
                                  kForwardDropEmptyValues),
              cptlib::kHrOk);
    EXPECT_EQ(used, ForwardingMethod::Resources);
    EXPECT_TRUE(values.empty());

    WriteSetupValues({launcher}, dir / "SetupValues.dat");
    EXPECT_FALSE(fs::exists(dir / "SetupValues.dat"));
}

TEST_F(Forwarding, StampedSlotsAndTheFileNameTagMakeTheValuesFile) {
    const fs::path built = Create("built");
    const std::string full(256, 'f');
    Stamp(built, {"VRNID=id-\xc3\xbc", "VRNID2=stamped", "ZQ_BRINDLE_PHASH=" + full.substr(0, 34)});
    ForwardedValues values;
    ForwardingMethod used = ForwardingMethod::Automatic;
    EXPECT_EQ(ReadForwardedValues(built, values, ForwardingMethod::Automatic, &used,
                                  kForwardDropEmptyValues),
              cptlib::kHrOk);
    EXPECT_EQ(used, ForwardingMethod::Resources);
    // A value that fills its slot has no terminating zero and is read whole.
    EXPECT_EQ(Entries(values), (Map{{"VRNID", "id-\xc3\xbc"},
                                    {"VRNID2", "stamped"},
                                    {"ZQ_BRINDLE_PHASH", full.substr(0, 34)}}));

    // The tag in the name wins over the stamped VRNID2.
    const fs::path tagged = dir / "Setup--phA1b2C3d4E5f6G7h8";
    fs::rename(built, tagged);
    WriteSetupValues({tagged}, dir / "SetupValues.dat");
    EXPECT_EQ(ReadFile(dir / "SetupValues.dat"), "VRNID=id-\xc3\xbc\r\nVRNID2=A1b2C3d4E5f6G7h8\r\n"
                                                 "ZQ_BRINDLE_PHASH=" +
                                                     full.substr(0, 34) + "\r\n");
}

TEST_F(Forwarding, TheDataBlockServesWhenTheSlotsAreEmpty) {
    const fs::path launcher = Create("setup", "k1=a%20b&k2=&VRNID=from%20block");
    ForwardedValues values;
    ForwardingMethod used = ForwardingMethod::Automatic;
    EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::Automatic, &used,
                                  kForwardDropEmptyValues),
              cptlib::kHrOk);
    EXPECT_EQ(used, ForwardingMethod::DataBlock);
    EXPECT_EQ(Entries(values), (Map{{"VRNID", "from block"}, {"k1", "a b"}}));

    // Read directly, the empty value stays.
    EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::DataBlock), cptlib::kHrOk);
    EXPECT_EQ(Entries(values), (Map{{"VRNID", "from block"}, {"k1", "a b"}, {"k2", ""}}));

    WriteSetupValues({launcher}, dir / "SetupValues.dat");
    EXPECT_EQ(ReadFile(dir / "SetupValues.dat"), "VRNID=from block\r\nk1=a b\r\n");

    // Stamped slots come first; the block is then not read.
    Stamp(launcher, {"VRNID2=stamped"});
    EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::Automatic, &used,
                                  kForwardDropEmptyValues),
              cptlib::kHrOk);
    EXPECT_EQ(used, ForwardingMethod::Resources);
    EXPECT_EQ(Entries(values), (Map{{"VRNID2", "stamped"}}));
}

// A block that breaks off part-way (a '%' before two blanks, which sfxbuild would not write)
// still gives the values before the break, though the read fails.
TEST_F(Forwarding, ABlockThatBreaksOffKeepsTheValuesBeforeTheBreak) {
    const auto utf16 = [](const std::string& text) {
        std::string out;
        for (const char c : text) {
            out += c;
            out += '\0';
        }
        return out;
    };
    struct Case {
        const char* name;
        std::string target;      // replaced in the built block
        std::string replacement; // of the same length
        cptlib::HRESULT result;
        ForwardingMethod used;
        Map values;
    };
    const Case cases[] = {
        {"a sound block",
         "k3=xyz",
         "k3=xyz",
         cptlib::kHrOk,
         ForwardingMethod::DataBlock,
         {{"k1", "one"}, {"k3", "xyz"}, {"k4", "four"}}},
        {"a bad escape in the third part",
         "k3=xyz",
         "k3=%  ",
         cptlib::HRESULT_INVALID_DATA,
         ForwardingMethod::DataBlock,
         {{"k1", "one"}, {"k2", ""}}},
        // Nothing read: the empty slots stand, as for a launcher without a block.
        {"a bad escape in the first part",
         "k1=one",
         "k1=%  ",
         cptlib::kHrOk,
         ForwardingMethod::Resources,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path launcher = Create("setup", "k1=one&k2=&k3=xyz&k4=four");
        std::string bytes = ReadFile(launcher);
        const std::size_t at = bytes.rfind(utf16(c.target));
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, c.target.size() * 2, utf16(c.replacement));
        WriteFile(launcher, bytes);
        ForwardedValues values;
        ForwardingMethod used = ForwardingMethod::Automatic;
        EXPECT_EQ(ReadForwardedValues(launcher, values, ForwardingMethod::Automatic, &used,
                                      kForwardDropEmptyValues),
                  c.result);
        EXPECT_EQ(used, c.used);
        EXPECT_EQ(Entries(values), c.values);
    }
}

TEST_F(Forwarding, OnlyProgramFilesWithoutRcDataFallBackToTheDataBlock) {
    std::string block;
    for (const char c : std::string("##DATA##id=7##ENDDATA##")) {
        block += c;
        block += '\0';
    }
    const std::string padding(70000, '\0');

    // A program without any resources.
    const fs::path program = dir / "program";
    WriteFile(program, ReadFile("/bin/true") + padding + block);
    ForwardedValues values;
    ForwardingMethod used = ForwardingMethod::Automatic;
    EXPECT_EQ(ReadForwardedValues(program, values, ForwardingMethod::Automatic, &used),
              cptlib::kHrOk);
    EXPECT_EQ(used, ForwardingMethod::DataBlock);
    EXPECT_EQ(Entries(values), (Map{{"id", "7"}}));

    // Not a program file: the resources cannot be read, and that is the answer.
    const fs::path text = dir / "text";
    WriteFile(text, "plain" + padding + block);
    values = {{"old", "x"}};
    EXPECT_EQ(ReadForwardedValues(text, values, ForwardingMethod::Automatic, &used),
              cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND);
    EXPECT_EQ(used, ForwardingMethod::Resources);
    EXPECT_TRUE(values.empty());
}

} // namespace
