// Installer databases on Windows, through the system's own installer library. The queries run
// in-process: msi.dll is the reader that msiexec itself uses on the same file a moment later,
// so a database it cannot survive would fail the setup anyway, and a child process would cost
// a second start of the launcher's image for every query.

#include "cptlib/msi/IsolatedQuery.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/win32/Wide.h"

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

namespace cptlib::msi {

namespace {

// Owns one installer handle.
class Handle {
public:
    Handle() = default;
    ~Handle() {
        if (handle_ != 0)
            MsiCloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    MSIHANDLE get() const { return handle_; }
    // For the call that fills it; releases the one held before.
    MSIHANDLE* put() {
        if (handle_ != 0)
            MsiCloseHandle(handle_);
        handle_ = 0;
        return &handle_;
    }

private:
    MSIHANDLE handle_ = 0;
};

void Check(UINT result, const std::string& message) {
    if (result != ERROR_SUCCESS)
        CPT_THROW(Exception(result, message));
}

std::string FieldText(MSIHANDLE record, unsigned field) {
    std::wstring buffer(64, L'\0');
    for (;;) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const UINT result = MsiRecordGetStringW(record, field, buffer.data(), &length);
        if (result == ERROR_MORE_DATA) {
            buffer.resize(static_cast<std::size_t>(length) + 1);
            continue;
        }
        Check(result, "Failed to get record field string for index " + std::to_string(field));
        buffer.resize(length);
        return platform::Narrow(buffer);
    }
}

} // namespace

Exception::Exception(std::uint32_t code, const std::string& message)
    : std::system_error(MakeWin32Error(code), "MSI error: " + message) {}

std::vector<Rows> QueryDatabaseIsolated(const std::filesystem::path& path,
                                        const std::vector<IsolatedQuery>& queries) {
    Handle database;
    Check(MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, database.put()),
          "Failed to open database \"" + Utf8FromPath(path) + "\"");
    std::vector<Rows> results;
    std::size_t replySize = 0;
    for (const IsolatedQuery& query : queries) {
        Handle view;
        Check(MsiDatabaseOpenViewW(database.get(), platform::Widen(query.sql).c_str(), view.put()),
              "Failed to open view");
        Check(MsiViewExecute(view.get(), 0), "Failed to execute view");
        Rows rows;
        for (;;) {
            Handle record;
            const UINT fetched = MsiViewFetch(view.get(), record.put());
            if (fetched == ERROR_NO_MORE_ITEMS)
                break;
            Check(fetched, "Failed to fetch record from view");
            Row row;
            for (unsigned field = 1; field <= query.fieldCount; ++field) {
                row.push_back(FieldText(record.get(), field));
                replySize += row.back().size();
            }
            // The same bound on memory as a reply from a reader process.
            if (replySize > kMaxQueryReply)
                CPT_THROW(Exception(kErrorNotEnoughMemory, "The property rows are too large"));
            rows.push_back(std::move(row));
        }
        const bool stop = query.stopWhenEmpty && rows.empty();
        results.push_back(std::move(rows));
        if (stop)
            break;
    }
    return results;
}

} // namespace cptlib::msi
