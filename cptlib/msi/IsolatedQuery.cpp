#include "cptlib/msi/IsolatedQuery.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/IsolatedCall.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace cptlib::msi {

namespace {

// A reader that has not answered by then is taken for stuck on a crafted file.
constexpr auto kReaderTimeLimit = std::chrono::seconds(60);

// The reply: frames of a tag byte, a 32-bit little-endian length and that many bytes.
enum Tag : char {
    kQueryStart = 'Q', // the rows of the next query follow
    kField = 'F',      // one field; a query's row is its fieldCount fields in order
    kFailure = 'E',    // 32-bit return code, then the message; ends the reply
    kDone = 'Z',       // ends a reply without failure
};

void PutFrame(std::string& out, char tag, std::string_view payload) {
    out += tag;
    const auto size = static_cast<std::uint32_t>(payload.size());
    for (int shift = 0; shift < 32; shift += 8)
        out += static_cast<char>((size >> shift) & 0xFF);
    out.append(payload);
}

std::uint32_t GetU32(std::string_view bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[static_cast<std::size_t>(i)]);
    return value;
}

[[noreturn]] void ThrowBroken(const std::string& why) {
    CPT_THROW(Exception(kErrorFunctionFailed, "Failed to read the installer database: " + why));
}

std::string RunQueries(const std::filesystem::path& path,
                       const std::vector<IsolatedQuery>& queries) {
    std::string reply;
    try {
        Database database;
        database.Open(path, kPersistReadOnly);
        for (const IsolatedQuery& query : queries) {
            PutFrame(reply, kQueryStart, {});
            View view;
            view.Open(database, query.sql);
            view.Execute();
            Record record;
            bool any = false;
            while (view.Fetch(record)) {
                any = true;
                for (unsigned field = 1; field <= query.fieldCount; ++field)
                    PutFrame(reply, kField, record.GetString(field));
                if (reply.size() > kMaxQueryReply)
                    CPT_THROW(Exception(kErrorNotEnoughMemory, "The property rows are too large"));
            }
            if (!any && query.stopWhenEmpty)
                break;
        }
        PutFrame(reply, kDone, {});
    } catch (const std::system_error& e) {
        std::string what = e.what();
        if (what.starts_with("MSI error: "))
            what.erase(0, 11);
        std::string payload(4, '\0');
        const auto code = static_cast<std::uint32_t>(e.code().value());
        for (int i = 0; i < 4; ++i)
            payload[static_cast<std::size_t>(i)] = static_cast<char>((code >> (8 * i)) & 0xFF);
        reply.clear();
        PutFrame(reply, kFailure, payload + what);
    } catch (const std::exception& e) {
        reply.clear();
        PutFrame(reply, kFailure, std::string(4, '\0') + e.what());
    }
    return reply;
}

} // namespace

void DecodeQueryReply(std::string_view reply, const std::vector<IsolatedQuery>& queries,
                      std::vector<Rows>& results) {
    results.clear();
    Row row;
    const auto finishQuery = [&] {
        if (!row.empty())
            ThrowBroken("a row broke off");
    };
    while (!reply.empty()) {
        if (reply.size() < 5)
            ThrowBroken("the reply broke off");
        const char tag = reply[0];
        const std::uint32_t size = GetU32(reply.substr(1, 4));
        reply.remove_prefix(5);
        if (size > reply.size())
            ThrowBroken("the reply broke off");
        const std::string_view payload = reply.substr(0, size);
        reply.remove_prefix(size);
        switch (tag) {
        case kQueryStart:
            finishQuery();
            if (!results.empty() && results.back().empty() &&
                queries[results.size() - 1].stopWhenEmpty)
                ThrowBroken("a query ran after an empty one");
            if (results.size() >= queries.size() || size != 0)
                ThrowBroken("unexpected query");
            results.emplace_back();
            break;
        case kField:
            if (results.empty())
                ThrowBroken("a field outside a query");
            row.emplace_back(payload);
            if (row.size() == queries[results.size() - 1].fieldCount) {
                results.back().push_back(std::move(row));
                row.clear();
            }
            break;
        case kFailure:
            if (size < 4 || !reply.empty())
                ThrowBroken("a broken failure report");
            CPT_THROW(Exception(GetU32(payload), std::string(payload.substr(4))));
        case kDone: {
            finishQuery();
            const bool stopped = !results.empty() && results.back().empty() &&
                                 queries[results.size() - 1].stopWhenEmpty;
            if (!reply.empty() || size != 0 || (results.size() != queries.size() && !stopped))
                ThrowBroken("a broken end of reply");
            return;
        }
        default:
            ThrowBroken("an unknown part in the reply");
        }
    }
    ThrowBroken("the reply broke off");
}

std::vector<Rows> QueryDatabaseIsolated(const std::filesystem::path& path,
                                        const std::vector<IsolatedQuery>& queries) {
    for (const IsolatedQuery& query : queries)
        if (query.fieldCount == 0)
            CPT_THROW(Exception(kErrorInvalidParameter, "A query without fields"));
    using End = platform::IsolatedResult::End;
    const platform::IsolatedResult run = platform::RunIsolated(
        [&] { return RunQueries(path, queries); },
        std::chrono::duration_cast<std::chrono::milliseconds>(kReaderTimeLimit),
        kMaxQueryReply + 4096);
    switch (run.end) {
    case End::Finished:
        break;
    case End::NotStarted:
        CPT_THROW(Exception(kErrorNotEnoughMemory, "Failed to start the database reader"));
    case End::TimedOut:
        ThrowBroken("the reader did not answer in time");
    case End::TooLarge:
        ThrowBroken("the reply is too large");
    case End::Crashed:
        ThrowBroken("the reader crashed (signal " + std::to_string(run.detail) + ")");
    case End::Failed:
        ThrowBroken("the reader crashed (status " + std::to_string(run.detail) + ")");
    }
    const std::string& reply = run.output;
    std::vector<Rows> results;
    DecodeQueryReply(reply, queries, results);
    return results;
}

} // namespace cptlib::msi
