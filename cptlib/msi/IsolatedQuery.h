#pragma once
// Queries on an installer database run in a short-lived child process: the database library
// crashes on some damaged files, and a crafted database must never take the program down with
// it. The child sends the rows back over a pipe; the caller gets them, or the Exception that
// reading in-process would have thrown, or one saying that the reader ended abnormally.

#include "cptlib/msi/MsiDatabase.h"

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace cptlib::msi {

struct IsolatedQuery {
    std::string sql;
    // The fields read from each row (1..fieldCount).
    unsigned fieldCount = 1;
    // The later queries run only when this one returned a row.
    bool stopWhenEmpty = false;
};

using Row = std::vector<std::string>;
using Rows = std::vector<Row>;

// The rows of each query that ran, in order (fewer than queries.size() after a stop). Throws
// Exception: the library's failure with its code, or kErrorFunctionFailed when the reader
// crashed, was killed or sent a broken reply.
std::vector<Rows> QueryDatabaseIsolated(const std::filesystem::path& path,
                                        const std::vector<IsolatedQuery>& queries);

// The reply a reader sends: decoded into `results`, or an Exception thrown for a reply that
// carries a failure or is malformed. Exposed for the fuzz target.
void DecodeQueryReply(std::string_view reply, const std::vector<IsolatedQuery>& queries,
                      std::vector<Rows>& results);

// A reply larger than this is refused; the caller's memory stays bounded by it.
constexpr std::size_t kMaxQueryReply = 64u << 20;

} // namespace cptlib::msi
