#include "cptlib/msi/MsiDatabase.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/SharedLibrary.h"

#include <libmsi.h>

#include <cctype>
#include <optional>

namespace cptlib::msi {

namespace {

// The library and the GLib it brings are loaded on first use: most runs never read an
// installer database, and loading them costs more than the rest of the start-up.
struct MsiLibrary {
    decltype(&libmsi_record_new) record_new = nullptr;
    decltype(&libmsi_record_set_string) record_set_string = nullptr;
    decltype(&libmsi_record_get_string) record_get_string = nullptr;
    decltype(&libmsi_record_get_field_count) record_get_field_count = nullptr;
    decltype(&libmsi_database_new) database_new = nullptr;
    decltype(&libmsi_query_new) query_new = nullptr;
    decltype(&libmsi_query_execute) query_execute = nullptr;
    decltype(&libmsi_query_fetch) query_fetch = nullptr;
    decltype(&libmsi_result_error_quark) result_error_quark = nullptr;
    decltype(&g_object_unref) object_unref = nullptr;
    decltype(&g_free) free = nullptr;
    decltype(&g_error_free) error_free = nullptr;
    platform::SharedLibrary library;
    bool loaded = false;
};

template <class F>
bool Bind(const platform::SharedLibrary& library, const char* name, F& function) {
    function = reinterpret_cast<F>(library.FindSymbol(name));
    return function != nullptr;
}

const MsiLibrary& Msi() {
    static const MsiLibrary library = [] {
        MsiLibrary l;
        std::string error;
        l.library = platform::SharedLibrary::Load("libmsi.so.0", error);
        if (!l.library)
            return l;
        const platform::SharedLibrary& handle = l.library;
        // Symbols of the GLib libraries are found through the library's own dependencies.
        l.loaded = Bind(handle, "libmsi_record_new", l.record_new) &&
                   Bind(handle, "libmsi_record_set_string", l.record_set_string) &&
                   Bind(handle, "libmsi_record_get_string", l.record_get_string) &&
                   Bind(handle, "libmsi_record_get_field_count", l.record_get_field_count) &&
                   Bind(handle, "libmsi_database_new", l.database_new) &&
                   Bind(handle, "libmsi_query_new", l.query_new) &&
                   Bind(handle, "libmsi_query_execute", l.query_execute) &&
                   Bind(handle, "libmsi_query_fetch", l.query_fetch) &&
                   Bind(handle, "libmsi_result_error_quark", l.result_error_quark) &&
                   Bind(handle, "g_object_unref", l.object_unref) &&
                   Bind(handle, "g_free", l.free) && Bind(handle, "g_error_free", l.error_free);
        return l;
    }();
    return library;
}

constexpr std::uint32_t kErrorModNotFound = 126;

void RequireLibrary(const std::string& message) {
    if (!Msi().loaded)
        CPT_THROW(Exception(kErrorModNotFound,
                            message + ": the installer database library could not be loaded"));
}

// The library's result errors as the installer's return codes.
std::uint32_t Win32FromResultError(int code) {
    switch (code) {
    case LIBMSI_RESULT_ACCESS_DENIED:
        return kErrorAccessDenied;
    case LIBMSI_RESULT_INVALID_HANDLE:
        return kErrorInvalidHandle;
    case LIBMSI_RESULT_NOT_ENOUGH_MEMORY:
        return kErrorNotEnoughMemory;
    case LIBMSI_RESULT_INVALID_DATA:
        return kErrorInvalidData;
    case LIBMSI_RESULT_OUTOFMEMORY:
        return kErrorOutOfMemory;
    case LIBMSI_RESULT_INVALID_PARAMETER:
        return kErrorInvalidParameter;
    case LIBMSI_RESULT_OPEN_FAILED:
        return kErrorOpenFailed;
    case LIBMSI_RESULT_CALL_NOT_IMPLEMENTED:
        return kErrorCallNotImplemented;
    case LIBMSI_RESULT_MORE_DATA:
        return kErrorMoreData;
    case LIBMSI_RESULT_NOT_FOUND:
        return 1168;
    case LIBMSI_RESULT_CONTINUE:
        return 1246;
    case LIBMSI_RESULT_UNKNOWN_PROPERTY:
        return 1608;
    case LIBMSI_RESULT_BAD_QUERY_SYNTAX:
        return kErrorBadQuerySyntax;
    case LIBMSI_RESULT_INVALID_FIELD:
        return 1616;
    case LIBMSI_RESULT_INVALID_TABLE:
        return 1628;
    case LIBMSI_RESULT_DATATYPE_MISMATCH:
        return 1629;
    case LIBMSI_RESULT_INVALID_DATATYPE:
        return 1804;
    default:
        return kErrorFunctionFailed;
    }
}

// A failed library call: its return code and the extended error record made from its report.
class CallError {
public:
    CallError() = default;
    ~CallError() {
        if (error_ != nullptr)
            Msi().error_free(error_);
    }
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;

    GError** out() noexcept { return &error_; }
    bool failed() const noexcept { return error_ != nullptr; }

    std::uint32_t Code(std::uint32_t fallback) const {
        if (error_ == nullptr)
            return fallback;
        return error_->domain == Msi().result_error_quark() ? Win32FromResultError(error_->code)
                                                            : kErrorFunctionFailed;
    }

    // Without a report from the library the record has no handle.
    std::shared_ptr<const Record> LastErrorRecord() const {
        auto record = std::make_shared<Record>();
        if (error_ != nullptr && error_->message != nullptr) {
            *record = Record::Create(1);
            record->SetString(0, "[1]");
            record->SetString(1, error_->message);
        }
        return record;
    }

private:
    GError* error_ = nullptr;
};

// Owns a string the library allocated.
struct LibraryString {
    gchar* text = nullptr;
    ~LibraryString() {
        if (text != nullptr)
            Msi().free(text);
    }
    std::string str() const { return text != nullptr ? std::string(text) : std::string(); }
};

std::optional<guint> DatabaseFlags(std::uint32_t persist) {
    switch (persist) {
    case kPersistReadOnly:
        return LIBMSI_DB_FLAGS_READONLY;
    case kPersistTransact:
        return LIBMSI_DB_FLAGS_TRANSACT;
    case kPersistDirect:
        return 0;
    case kPersistCreate:
        return LIBMSI_DB_FLAGS_CREATE | LIBMSI_DB_FLAGS_TRANSACT;
    case kPersistCreateDirect:
        return LIBMSI_DB_FLAGS_CREATE;
    default:
        return std::nullopt;
    }
}

std::string FormatTemplate(const Record& record, const std::string& pattern) {
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] == '[') {
            std::size_t j = i + 1;
            while (j < pattern.size() && std::isdigit(static_cast<unsigned char>(pattern[j])))
                ++j;
            if (j > i + 1 && j < pattern.size() && pattern[j] == ']' && j - i <= 6) {
                out += record.GetString(
                    static_cast<unsigned>(std::stoul(pattern.substr(i + 1, j - i - 1))));
                i = j + 1;
                continue;
            }
        }
        out += pattern[i++];
    }
    return out;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string WhatText(const std::shared_ptr<const Record>* errorRecord, const std::string& message) {
    std::string text = "MSI error: " + message;
    if (errorRecord != nullptr && *errorRecord) {
        const std::string details = FormatRecord(**errorRecord);
        if (!details.empty())
            text += " { " + details + " }";
    }
    return text;
}

} // namespace

namespace detail {
void UnrefObject(void* object) noexcept {
    Msi().object_unref(object);
}
} // namespace detail

Record Record::Create(unsigned fieldCount) {
    RequireLibrary("Failed to create record");
    return Record(Msi().record_new(fieldCount));
}

void Record::SetString(unsigned field, std::string_view text) {
    if (!handle_ || !Msi().record_set_string(handle_.get(), field, std::string(text).c_str()))
        CPT_THROW(
            Exception(handle_ ? kErrorInvalidParameter : kErrorInvalidHandle,
                      "Failed to set record field string for index " + std::to_string(field)));
}

std::string Record::GetString(unsigned field) const {
    if (!handle_)
        CPT_THROW(Exception(kErrorInvalidHandle, "Failed to get record field string for index " +
                                                     std::to_string(field)));
    LibraryString text{Msi().record_get_string(handle_.get(), field)};
    return text.str();
}

std::string FormatRecord(const Record& record) {
    std::uint32_t code = kErrorInvalidHandle;
    if (record) {
        const std::string pattern = record.GetString(0);
        std::string text;
        if (!pattern.empty()) {
            text = FormatTemplate(record, pattern);
        } else {
            const unsigned count = Msi().record_get_field_count(record.get());
            for (unsigned field = 1; field <= count; ++field)
                text += std::to_string(field) + ": " + record.GetString(field) + " ";
        }
        if (!text.empty())
            return Trim(text);
        code = kErrorSuccess;
    }
    return "MsiFormatRecordW error " + std::to_string(code);
}

Exception::Exception(std::uint32_t code, const std::string& message)
    : std::system_error(MakeWin32Error(code), WhatText(nullptr, message)) {}

Exception::Exception(std::shared_ptr<const Record> errorRecord, std::uint32_t code,
                     const std::string& message)
    : std::system_error(MakeWin32Error(code), WhatText(&errorRecord, message)),
      errorRecord_(std::move(errorRecord)) {}

void Database::Open(const std::filesystem::path& path, std::uint32_t persist) {
    handle_.reset();
    path_.clear();
    const std::string message = "Failed to open database \"" + path.string() + "\"";
    const auto flags = DatabaseFlags(persist);
    CallError error;
    if (!flags)
        CPT_THROW(Exception(error.LastErrorRecord(), kErrorInvalidParameter, message));
    RequireLibrary(message);
    LibmsiDatabase* database = Msi().database_new(path.c_str(), *flags, nullptr, error.out());
    if (database == nullptr)
        CPT_THROW(Exception(error.LastErrorRecord(), error.Code(kErrorOpenFailed), message));
    handle_.reset(database);
    path_ = path;
}

void View::Open(const Database& database, std::string_view sql) {
    handle_.reset();
    CallError error;
    LibmsiQuery* query = nullptr;
    if (database)
        query = Msi().query_new(database.get(), std::string(sql).c_str(), error.out());
    if (query == nullptr)
        CPT_THROW(Exception(error.LastErrorRecord(),
                            error.Code(database ? kErrorBadQuerySyntax : kErrorInvalidHandle),
                            "Failed to open view"));
    handle_.reset(query);
}

void View::Execute(const Record* parameters) {
    CallError error;
    const bool done =
        handle_ &&
        Msi().query_execute(handle_.get(), parameters != nullptr ? parameters->get() : nullptr,
                            error.out());
    if (!done)
        CPT_THROW(Exception(error.LastErrorRecord(),
                            error.Code(handle_ ? kErrorFunctionFailed : kErrorInvalidHandle),
                            "Failed to execute view"));
}

bool View::Fetch(Record& place) {
    CallError error;
    LibmsiRecord* record = handle_ ? Msi().query_fetch(handle_.get(), error.out()) : nullptr;
    if (record != nullptr) {
        place.reset(record);
        return true;
    }
    if (handle_ && !error.failed()) {
        place.reset();
        return false;
    }
    CPT_THROW(Exception(error.Code(kErrorInvalidHandle), "Failed to fetch record from view"));
}

} // namespace cptlib::msi
