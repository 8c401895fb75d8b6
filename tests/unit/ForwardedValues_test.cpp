#include "launcher/Forwarding.h"

#include "cptlib/Exceptions.h"
#include "cptlib/msi/MsiDatabase.h"

#include "support/Files.h"
#include "support/MsiFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <vector>

namespace {

using namespace sfx;
using cptlib::HRESULT;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

using Map = std::vector<std::pair<std::string, std::string>>;

Map Entries(const ForwardedValues& values) {
    return {values.begin(), values.end()};
}

TEST(ParseDataBlock, SplitsPartsAndResolvesEscapesPerCodeUnit) {
    struct Case {
        std::u16string payload;
        bool ok;
        Map expected;
    };
    const Case cases[] = {
        {u"k1=a%20b&k2=", true, {{"k1", "a b"}, {"k2", ""}}},
        {u"novalue&a=b=c", true, {{"a", "b=c"}, {"novalue", ""}}},
        {u"%26=x%3Dy%25", true, {{"&", "x=y%"}}},
        // One escape is one UTF-16 code unit, never a UTF-8 byte.
        {u"k=%e9", true, {{"k", "\xc3\xa9"}}},
        {u"k=%C3%A9", true, {{"k", "\xc3\x83\xc2\xa9"}}},
        // Read as %x reads: leading white space skipped, stop at the first non-digit.
        {u"a=% 5&b=%5z&c=%zz&d=%-1",
         true,
         {{"a", "\x05"}, {"b", "\x05"}, {"c", std::string(1, '\0')}, {"d", std::string(1, '\0')}}},
        {u"k=\u00e9\U0001F600", true, {{"k", "\xc3\xa9\xf0\x9f\x98\x80"}}},
        // An unpaired surrogate cannot be UTF-8; it becomes U+FFFD.
        {std::u16string(u"k=") + char16_t(0xD800), true, {{"k", "\xef\xbf\xbd"}}},
        {u"dup=1&dup=2", true, {{"dup", "2"}}},
        // Broken escapes make the payload invalid; parts before them stay.
        {u"a=1&b=%4", false, {{"a", "1"}}},
        {u"a=%", false, {}},
        {u"%4=a", false, {}},
        {u"a=%  &b=2", false, {}},
        {u"a=%\t\n", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.payload.begin(), c.payload.end()));
        ForwardedValues values;
        EXPECT_EQ(ParseDataBlock(values, c.payload), c.ok);
        EXPECT_EQ(Entries(values), c.expected);
    }
}

TEST(ForwardedValues, KeysAreOrderedByUtf16CodeUnits) {
    const std::string supplementary = "\xf0\x90\x80\x80"; // U+10000: D800 DC00
    const std::string privateUse = "\xee\x80\x80";        // U+E000
    const std::string replacement = "\xef\xbf\xbd";       // U+FFFD
    ForwardedValues values = {
        {privateUse, "1"}, {replacement, "2"}, {supplementary, "3"}, {"Z", "4"}, {"a", "5"}};
    // By code points (and UTF-8 bytes) U+10000 would come last.
    const Map expected = {
        {"Z", "4"}, {"a", "5"}, {supplementary, "3"}, {privateUse, "1"}, {replacement, "2"}};
    EXPECT_EQ(Entries(values), expected);

    TempDir dir;
    WriteValuesFile(values, dir / "SetupValues.dat");
    EXPECT_EQ(ReadFile(dir / "SetupValues.dat"), "Z=4\r\na=5\r\n" + supplementary + "=3\r\n" +
                                                     privateUse + "=1\r\n" + replacement +
                                                     "=2\r\n");
}

TEST(FileNameTag, SixteenLettersOrDigitsAfterDashDashPh) {
    struct Case {
        const char* path;
        std::optional<std::string> tag;
    };
    const Case cases[] = {
        {"/opt/Setup--phA1b2C3d4E5f6G7h8.exe", "A1b2C3d4E5f6G7h8"},
        {"Setup--phA1b2C3d4E5f6G7h8X.exe", std::nullopt},
        {"Setup--phA1b2C3d4E5f6G7h8_x.exe", "A1b2C3d4E5f6G7h8"},
        {"Setup--phA1b2C3d4E5f6G7h.exe", std::nullopt},
        {"Setup--phA1b2C3d4E5f6G7h8", "A1b2C3d4E5f6G7h8"},
        {"Setup-ph--phA1b2C3d4E5f6G7h8 (1).exe", "A1b2C3d4E5f6G7h8"},
        {"Setup.exe", std::nullopt},
        // Without an extension the name may hold dots before the tag.
        {"/tmp/app-1.2--ph0123456789abcdef", "0123456789abcdef"},
        // The folder does not count.
        {"/tmp/x--ph0123456789abcdef/setup", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(FileNameTag(c.path), c.tag);
    }
}

// Writes under a small file-size limit, which stands in for a full disk; 0 when the failure
// was reported and no file is left.
int WriteUnderSizeLimit(const std::filesystem::path& file) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{20, 20};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
        WriteValuesFile({{"VRNID", std::string(100, 'v')}}, file);
    } catch (const cptlib::FileException& e) {
        if (!std::filesystem::exists(file) &&
            e.code() == cptlib::MakeWin32Error(cptlib::kErrorDiskFull))
            return 0;
    }
    return 1;
}

TEST(WriteValuesFile, FailedWritesLeaveNoFile) {
    TempDir dir;
    const auto file = dir / "SetupValues.dat";
    // In a child process, which may change its limits.
    EXPECT_EXIT(std::_Exit(WriteUnderSizeLimit(file)), ::testing::ExitedWithCode(0), "");

    // WriteSetupValues swallows failures: a folder in the way leaves no file and no exception.
    const auto program = dir / "x--ph0123456789abcdef";
    WriteFile(program, "plain");
    EXPECT_NO_THROW(WriteSetupValues({program}, dir / "missing" / "SetupValues.dat"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
    WriteSetupValues({program}, file);
    EXPECT_EQ(ReadFile(file), "VRNID2=0123456789abcdef\r\n");
}

// A value or key with a line break would forge lines of the file; one with a NUL would be cut
// short. Such entries are left out, the others written.
TEST(WriteValuesFile, LeavesOutEntriesWithLineBreaksOrNul) {
    TempDir dir;
    const auto file = dir / "SetupValues.dat";
    struct Case {
        const char* name;
        ForwardedValues values;
        std::string written;
    };
    const Case cases[] = {
        {"plain values", {{"VRNID", "id"}, {"k", "a b"}}, "VRNID=id\r\nk=a b\r\n"},
        {"CR LF in a value", {{"VRNID", "id\r\nVRNID2=forged"}, {"k", "v"}}, "k=v\r\n"},
        {"LF alone, CR alone", {{"a", "x\ny"}, {"b", "x\ry"}, {"c", "ok"}}, "c=ok\r\n"},
        {"line break in a key", {{"k\nVRNID2", "v"}, {"c", "ok"}}, "c=ok\r\n"},
        {"NUL",
         {{"a", std::string("x\0y", 3)}, {std::string("k\0", 2), "v"}, {"c", "ok"}},
         "c=ok\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteValuesFile(c.values, file);
        EXPECT_EQ(ReadFile(file), c.written);
    }
}

class DatabaseForwarding : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "product.msi";
};

TEST_F(DatabaseForwarding, ForwardsTheListedOrDefaultProperties) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> properties;
        HRESULT result;
        Map expected; // without the drop flag; a pre-set entry "Keep" stays
    };
    const Case cases[] = {
        {"listed names",
         {{"ZQ_SetupVersion", "2"},
          {"ZQ_InstIdProperties", "CAMPAIGN;MISSING;;ZQ_VRNID"},
          {"CAMPAIGN", "spring"},
          {"ZQ_VRNID", "id-1"},
          {"Other", "x"}},
         cptlib::kHrOk,
         {{"", ""}, {"CAMPAIGN", "spring"}, {"Keep", "k"}, {"MISSING", ""}, {"ZQ_VRNID", "id-1"}}},
        {"default names",
         {{"ZQ_SetupVersion", "2"}, {"ZQ_VRNID2", "two"}, {"ZQ_BRINDLE_PHASH", "ph"}},
         cptlib::kHrOk,
         {{"Keep", "k"}, {"ZQ_BRINDLE_PHASH", "ph"}, {"ZQ_VRNID", ""}, {"ZQ_VRNID2", "two"}}},
        {"no setup version",
         {{"ZQ_VRNID", "id-1"}, {"ZQ_InstIdProperties", "ZQ_VRNID"}},
         cptlib::HRESULT_NO_MORE_ITEMS,
         {{"Keep", "k"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(file);
        ASSERT_NO_FATAL_FAILURE(testsupport::MakePropertyDatabase(file, c.properties));
        ForwardedValues values = {{"Keep", "k"}};
        ForwardingMethod used = ForwardingMethod::Resources;
        EXPECT_EQ(ReadForwardedValues(file, values, ForwardingMethod::Automatic, &used), c.result);
        EXPECT_EQ(used, ForwardingMethod::InstallerDatabase);
        EXPECT_EQ(Entries(values), c.expected);
    }

    // The drop flag removes every empty value, the pre-set ones included, but only when the
    // database forwards values at all.
    ForwardedValues values = {{"Keep", ""}};
    EXPECT_EQ(ReadForwardedValues(file, values, ForwardingMethod::InstallerDatabase, nullptr,
                                  kForwardDropEmptyValues),
              cptlib::HRESULT_NO_MORE_ITEMS);
    EXPECT_EQ(Entries(values), (Map{{"Keep", ""}}));
    std::filesystem::remove(file);
    ASSERT_NO_FATAL_FAILURE(
        testsupport::MakePropertyDatabase(file, {{"ZQ_SetupVersion", "2"}, {"ZQ_VRNID2", "two"}}));
    EXPECT_EQ(ReadForwardedValues(file, values, ForwardingMethod::InstallerDatabase, nullptr,
                                  kForwardDropEmptyValues),
              cptlib::kHrOk);
    EXPECT_EQ(Entries(values), (Map{{"ZQ_VRNID2", "two"}}));
}

TEST_F(DatabaseForwarding, FailuresBecomeHResults) {
    // A compound file that is no database, a database without Property table, a missing file.
    WriteFile(file, std::string("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8) + std::string(600, '\0'));
    ForwardedValues values;
    ForwardingMethod used = ForwardingMethod::Automatic;
    EXPECT_EQ(ReadForwardedValues(file, values, ForwardingMethod::Automatic, &used),
              cptlib::HResultFromWin32(cptlib::msi::kErrorOpenFailed));
    EXPECT_EQ(used, ForwardingMethod::InstallerDatabase);

    std::filesystem::remove(file);
    ASSERT_NO_FATAL_FAILURE(testsupport::RunMsibuild(
        file, {"CREATE TABLE `Other` (`K` CHAR(10) NOT NULL PRIMARY KEY `K`)"}));
    EXPECT_EQ(ReadForwardedValues(file, values, ForwardingMethod::InstallerDatabase),
              cptlib::HResultFromWin32(cptlib::msi::kErrorBadQuerySyntax));

    // The signature test opens the file through the file device.
    used = ForwardingMethod::Resources;
    EXPECT_EQ(ReadForwardedValues(dir / "missing", values, ForwardingMethod::Automatic, &used),
              cptlib::HResultFromWin32(cptlib::kErrorFileNotFound));
    EXPECT_EQ(used, ForwardingMethod::Automatic);
}

} // namespace
