#include "cptlib/SystemError.h"
#include "cptlib/msi/MsiDatabase.h"

#include "support/Files.h"
#include "support/MsiFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace {

using namespace cptlib;
using namespace cptlib::msi;
using testsupport::TempDir;

class MsiDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(testsupport::MakePropertyDatabase(
            file, {{"ProductName", "Caf\xc3\xa9 \xe2\x82\xac"}, {"One", "x"}, {"Count", "42"}}));
        ASSERT_NO_FATAL_FAILURE(testsupport::RunMsibuild(
            file, {"CREATE TABLE `Sparse` (`Key` CHAR(10) NOT NULL, `Note` CHAR(20), `Num` "
                   "INT PRIMARY KEY `Key`)",
                   "INSERT INTO `Sparse` (`Key`, `Num`) VALUES ('k', 7)"}));
    }

    TempDir dir;
    std::filesystem::path file = dir / "test.msi";
};

TEST_F(MsiDatabase, ReadsTheRowsOfAQuery) {
    Database database;
    database.Open(file);
    EXPECT_EQ(database.path(), file);
    View view;
    view.Open(database, "SELECT `Property`, `Value` FROM `Property`");
    view.Execute();
    std::map<std::string, std::string> rows;
    Record record;
    while (view.Fetch(record))
        rows[record.GetString(1)] = record.GetString(2);
    EXPECT_FALSE(record);
    const std::map<std::string, std::string> expected = {
        {"ProductName", "Caf\xc3\xa9 \xe2\x82\xac"}, {"One", "x"}, {"Count", "42"}};
    EXPECT_EQ(rows, expected);

    // An absent field reads as empty text, a number as its digits.
    view.Open(database, "SELECT `Key`, `Note`, `Num` FROM `Sparse`");
    view.Execute();
    ASSERT_TRUE(view.Fetch(record));
    EXPECT_EQ(record.GetString(1), "k");
    EXPECT_EQ(record.GetString(2), "");
    EXPECT_EQ(record.GetString(3), "7");

    // A view without rows: the first fetch ends it and releases the record held.
    view.Open(database, "SELECT `Value` FROM `Property` WHERE `Property`='Missing'");
    view.Execute();
    EXPECT_FALSE(view.Fetch(record));
    EXPECT_FALSE(record);
}

TEST_F(MsiDatabase, FailuresCarryTheReturnCodeAndTheInstallersDetails) {
    Database database;
    database.Open(file);
    const auto missing = dir / "missing.msi";
    const auto notADatabase = dir / "plain.txt";
    testsupport::WriteFile(notADatabase, "just text, no compound file");

    struct Case {
        const char* name;
        std::function<void()> action;
        std::uint32_t code;
        std::string message; // what() begins with it
        bool withRecord;
    };
    const Case cases[] = {
        {"missing file", [&] { Database().Open(missing); }, kErrorOpenFailed,
         "MSI error: Failed to open database \"" + missing.string() + "\"", true},
        {"no database", [&] { Database().Open(notADatabase); }, kErrorOpenFailed,
         "MSI error: Failed to open database \"" + notADatabase.string() + "\"", true},
        {"unknown persist value", [&] { Database().Open(file, 9); }, kErrorInvalidParameter,
         "MSI error: Failed to open database", true},
        {"missing table", [&] { View().Open(database, "SELECT `Value` FROM `NoSuchTable`"); },
         kErrorBadQuerySyntax, "MSI error: Failed to open view {", true},
        {"bad SQL", [&] { View().Open(database, "SELEKT everything"); }, kErrorBadQuerySyntax,
         "MSI error: Failed to open view {", true},
        {"view on closed database",
         [&] { View().Open(Database(), "SELECT `Value` FROM `Property`"); }, kErrorInvalidHandle,
         "MSI error: Failed to open view", true},
        {"execute without view", [&] { View().Execute(); }, kErrorInvalidHandle,
         "MSI error: Failed to execute view", true},
        {"fetch without view",
         [&] {
             Record record;
             View().Fetch(record);
         },
         kErrorInvalidHandle, "MSI error: Failed to fetch record from view", false},
        {"field of no record", [&] { Record().GetString(3); }, kErrorInvalidHandle,
         "MSI error: Failed to get record field string for index 3", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.action();
            ADD_FAILURE() << "no exception";
        } catch (const Exception& e) {
            EXPECT_EQ(e.code(), MakeWin32Error(c.code));
            EXPECT_EQ(e.code().category().name(), std::string("system"));
            EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
            EXPECT_EQ(e.ErrorRecord() != nullptr, c.withRecord);
            if (c.withRecord) {
                // The braces hold what the error record formats to.
                EXPECT_NE(std::string(e.what()).find(" { " + FormatRecord(*e.ErrorRecord()) + " }"),
                          std::string::npos)
                    << e.what();
            } else {
                EXPECT_EQ(std::string(e.what()).find(" { "), std::string::npos) << e.what();
            }
        }
    }
}

TEST_F(MsiDatabase, ReopeningClosesTheOldHandleEvenWhenTheNewOpenFails) {
    Database database;
    database.Open(file);
    ASSERT_TRUE(database);
    EXPECT_THROW(database.Open(dir / "missing.msi"), Exception);
    EXPECT_FALSE(database);
    EXPECT_EQ(database.path(), std::filesystem::path());
}

TEST(MsiFormatRecord, FormatsTemplatesFieldListsAndMissingRecords) {
    struct Case {
        std::vector<std::string> fields; // [0] is the template
        std::string expected;
    };
    const Case cases[] = {
        {{"Table [1] has no column [2].", "Nope", "Col"}, "Table Nope has no column Col."},
        {{"  [1] [9] [x] [] ", "a"}, "a  [x] []"},
        {{"", "first", "", "3"}, "1: first 2:  3: 3"},
        // Nothing to format is reported with the installer's code for it.
        {{"", ""}, "1:"},
        {{""}, "MsiFormatRecordW error 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        Record record = Record::Create(static_cast<unsigned>(c.fields.size() - 1));
        for (unsigned i = 0; i < c.fields.size(); ++i)
            if (!c.fields[i].empty())
                record.SetString(i, c.fields[i]);
        EXPECT_EQ(FormatRecord(record), c.expected);
    }
    EXPECT_EQ(FormatRecord(Record()), "MsiFormatRecordW error 6");

    // Without details from the library the exception still names the missing record's code.
    const Exception withoutDetails(std::make_shared<Record>(), 1627, "Failed to execute view");
    EXPECT_EQ(std::string(withoutDetails.what())
                  .rfind("MSI error: Failed to execute view { MsiFormatRecordW error 6 }", 0),
              0u);
}

} // namespace
