#include "cptlib/msi/IsolatedQuery.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

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

[[noreturn]] void ServeChild(int out, const std::filesystem::path& path,
                             const std::vector<IsolatedQuery>& queries) {
    // A crash ends the reader by its signal: the parent's crash handlers serve the parent.
    for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        std::signal(signal, SIG_DFL);
    const std::string reply = RunQueries(path, queries);
    std::size_t written = 0;
    while (written < reply.size()) {
        const ssize_t n = ::write(out, reply.data() + written, reply.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(3);
        written += static_cast<std::size_t>(n);
    }
    // No exit handlers: they belong to the parent's state.
    ::_exit(0);
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
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0)
        CPT_THROW(Exception(kErrorNotEnoughMemory, "Failed to start the database reader"));
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        CPT_THROW(Exception(kErrorNotEnoughMemory, "Failed to start the database reader"));
    }
    if (child == 0) {
        ::close(pipeEnds[0]);
        ServeChild(pipeEnds[1], path, queries);
    }
    ::close(pipeEnds[1]);

    std::string reply;
    bool tooLarge = false;
    bool timedOut = false;
    const auto deadline = std::chrono::steady_clock::now() + kReaderTimeLimit;
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd poller{pipeEnds[0], POLLIN, 0};
        const int ready = ::poll(&poller, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0) {
            timedOut = ready == 0;
            break;
        }
        const ssize_t n = ::read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (reply.size() + static_cast<std::size_t>(n) > kMaxQueryReply + 4096) {
            tooLarge = true;
            break;
        }
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeEnds[0]);
    if (timedOut || tooLarge)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        ThrowBroken("the reader did not answer in time");
    if (tooLarge)
        ThrowBroken("the reply is too large");
    if (WIFSIGNALED(status))
        ThrowBroken("the reader crashed (signal " + std::to_string(WTERMSIG(status)) + ")");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        ThrowBroken("the reader crashed (status " + std::to_string(WEXITSTATUS(status)) + ")");
    std::vector<Rows> results;
    DecodeQueryReply(reply, queries, results);
    return results;
}

} // namespace cptlib::msi
