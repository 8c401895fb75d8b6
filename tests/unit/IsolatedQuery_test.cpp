#include "cptlib/SystemError.h"
#include "cptlib/msi/IsolatedQuery.h"

#include "support/Files.h"
#include "support/MsiFixture.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using namespace cptlib::msi;
using testsupport::TempDir;

const std::vector<IsolatedQuery> kQueries = {
    {"SELECT `Property` FROM `Property` WHERE `Property`='Marker'", 1, true},
    {"SELECT `Property`, `Value` FROM `Property`", 2, false},
};

std::string Frame(char tag, const std::string& payload = {}) {
    std::string out(1, tag);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    return out + payload;
}

std::uint32_t CodeOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const Exception& e) {
        return static_cast<std::uint32_t>(e.code().value());
    }
    return 0;
}

TEST(IsolatedQuery, ReturnsTheRowsTheChildReads) {
    TempDir dir;
    const auto file = dir / "p.msi";
    ASSERT_NO_FATAL_FAILURE(
        testsupport::MakePropertyDatabase(file, {{"Marker", "1"}, {"Name", "Caf\xc3\xa9"}}));
    const std::vector<Rows> results = QueryDatabaseIsolated(file, kQueries);
    ASSERT_EQ(results.size(), 2u);
    EXPECT_EQ(results[0], (Rows{{"Marker"}}));
    EXPECT_EQ(results[1], (Rows{{"Marker", "1"}, {"Name", "Caf\xc3\xa9"}}));

    // An empty result of a stopping query ends the run there.
    std::filesystem::remove(file);
    ASSERT_NO_FATAL_FAILURE(testsupport::MakePropertyDatabase(file, {{"Name", "x"}}));
    EXPECT_EQ(QueryDatabaseIsolated(file, kQueries), (std::vector<Rows>{Rows{}}));
}

TEST(IsolatedQuery, TheLibrarysFailuresKeepTheirCodes) {
    TempDir dir;
    EXPECT_EQ(CodeOf([&] { QueryDatabaseIsolated(dir / "missing.msi", kQueries); }),
              kErrorOpenFailed);
    const auto file = dir / "o.msi";
    ASSERT_NO_FATAL_FAILURE(testsupport::RunMsibuild(
        file, {"CREATE TABLE `Other` (`K` CHAR(10) NOT NULL PRIMARY KEY `K`)"}));
    EXPECT_EQ(CodeOf([&] { QueryDatabaseIsolated(file, kQueries); }), kErrorBadQuerySyntax);
}

// A compound file on which the database library dereferences a null pointer while opening it:
// in-process it would take the program down.
TEST(IsolatedQuery, ACrashOfTheLibraryBecomesAFailure) {
    const std::filesystem::path crashing =
        std::filesystem::path(SFX_SOURCE_DIR) / "tests/unit/fixtures/database-open-crash.msi";
    ASSERT_TRUE(std::filesystem::exists(crashing));
    try {
        QueryDatabaseIsolated(crashing, kQueries);
        ADD_FAILURE() << "no failure";
    } catch (const Exception& e) {
        EXPECT_EQ(static_cast<std::uint32_t>(e.code().value()), kErrorFunctionFailed);
        EXPECT_NE(std::string(e.what()).find("crashed"), std::string::npos) << e.what();
    }
}

TEST(IsolatedQuery, DecodesOnlyWellFormedReplies) {
    const std::string q = Frame('Q');
    const std::string z = Frame('Z');
    struct Case {
        const char* name;
        std::string reply;
        std::uint32_t code; // 0: decodes
        std::vector<Rows> rows;
    };
    const Case cases[] = {
        {"both queries",
         q + Frame('F', "M") + q + Frame('F', "a") + Frame('F', "b") + z,
         0,
         {Rows{{"M"}}, Rows{{"a", "b"}}}},
        {"stopped after an empty query", q + z, 0, {Rows{}}},
        {"the library's failure",
         Frame('E', std::string("\x6e\0\0\0", 4) + "open"),
         kErrorOpenFailed,
         {}},
        {"empty", "", kErrorFunctionFailed, {}},
        {"no end", q + Frame('F', "M") + q, kErrorFunctionFailed, {}},
        {"too few queries", q + Frame('F', "M") + z, kErrorFunctionFailed, {}},
        {"too many queries", q + Frame('F', "M") + q + q + z, kErrorFunctionFailed, {}},
        {"half a row", q + Frame('F', "M") + q + Frame('F', "a") + z, kErrorFunctionFailed, {}},
        {"field before a query", Frame('F', "M") + q + z, kErrorFunctionFailed, {}},
        {"query after a stop", q + q + z, kErrorFunctionFailed, {}},
        {"length beyond the end", q + "F\xff\xff\xff\x7f" + "x", kErrorFunctionFailed, {}},
        {"cut header", q + "F\1", kErrorFunctionFailed, {}},
        {"bytes after the end", q + z + "x", kErrorFunctionFailed, {}},
        {"short failure", Frame('E', "ab"), kErrorFunctionFailed, {}},
        {"unknown part", Frame('X') + z, kErrorFunctionFailed, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Rows> results;
        EXPECT_EQ(CodeOf([&] { DecodeQueryReply(c.reply, kQueries, results); }), c.code);
        if (c.code == 0) {
            EXPECT_EQ(results, c.rows);
        }
    }
}

} // namespace
