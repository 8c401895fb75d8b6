#pragma once
// Read access to installer databases: open a database, run SQL queries, walk the result records
// and read their fields as text. Every failure is a cptlib::msi::Exception with the installer's
// Win32 return code. Built on libmsi; its objects stay behind this header.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

// The library's own declarations, repeated so that users need not see GLib.
extern "C" {
typedef struct _LibmsiDatabase LibmsiDatabase;
typedef struct _LibmsiQuery LibmsiQuery;
typedef struct _LibmsiRecord LibmsiRecord;
}

namespace cptlib::msi {

// Return codes the layer produces besides those of the library's errors.
constexpr std::uint32_t kErrorOpenFailed = 110;
constexpr std::uint32_t kErrorMoreData = 234;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorBadQuerySyntax = 1615;
constexpr std::uint32_t kErrorFunctionFailed = 1627;

// The installer's predefined persist values.
constexpr std::uint32_t kPersistReadOnly = 0;
constexpr std::uint32_t kPersistTransact = 1;
constexpr std::uint32_t kPersistDirect = 2;
constexpr std::uint32_t kPersistCreate = 3;
constexpr std::uint32_t kPersistCreateDirect = 4;

namespace detail {
void UnrefObject(void* object) noexcept;

// Owns one reference to a library object.
template <class T> class ObjectHandle {
public:
    ObjectHandle() = default;
    explicit ObjectHandle(T* object) noexcept : object_(object) {}
    ~ObjectHandle() { reset(); }
    ObjectHandle(const ObjectHandle&) = delete;
    ObjectHandle& operator=(const ObjectHandle&) = delete;
    ObjectHandle(ObjectHandle&& other) noexcept : object_(other.release()) {}
    ObjectHandle& operator=(ObjectHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    T* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    T* release() noexcept {
        T* object = object_;
        object_ = nullptr;
        return object;
    }
    void reset(T* object = nullptr) noexcept {
        if (object_ != nullptr && object_ != object)
            UnrefObject(object_);
        object_ = object;
    }

private:
    T* object_ = nullptr;
};
} // namespace detail

class Record {
public:
    Record() = default;
    explicit Record(LibmsiRecord* record) noexcept : handle_(record) {}

    // A new record with `fieldCount` fields, field 0 (the template) included beyond them.
    static Record Create(unsigned fieldCount);
    void SetString(unsigned field, std::string_view text);

    // The field (1-based; 0 is the template) as UTF-8 text; a missing field is empty. Throws
    // "Failed to get record field string for index N" for a record without handle.
    std::string GetString(unsigned field) const;

    LibmsiRecord* get() const noexcept { return handle_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(handle_); }
    void reset(LibmsiRecord* record = nullptr) noexcept { handle_.reset(record); }

private:
    detail::ObjectHandle<LibmsiRecord> handle_;
};

// The record as the installer formats it without a session: field 0 is the template, in which
// [n] stands for field n; without a template, "1: value 2: value ...". White space is trimmed
// from both ends. A record without handle, or one that formats to nothing, gives
// "MsiFormatRecordW error " and the return code.
std::string FormatRecord(const Record& record);

class Exception : public std::system_error {
public:
    // "MSI error: " and the message.
    Exception(std::uint32_t code, const std::string& message);
    // As above; then " { ", the formatted error record and " }" when that is not empty. The
    // record may be without handle when the library gave no details.
    Exception(std::shared_ptr<const Record> errorRecord, std::uint32_t code,
              const std::string& message);

    // Empty for the form without error record.
    const std::shared_ptr<const Record>& ErrorRecord() const noexcept { return errorRecord_; }

private:
    std::shared_ptr<const Record> errorRecord_;
};

class Database {
public:
    // Closes any database held first. Throws "Failed to open database \"path\"".
    void Open(const std::filesystem::path& path, std::uint32_t persist = kPersistReadOnly);

    LibmsiDatabase* get() const noexcept { return handle_.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(handle_); }
    // The path of the database, set by a successful Open.
    const std::filesystem::path& path() const noexcept { return path_; }

private:
    detail::ObjectHandle<LibmsiDatabase> handle_;
    std::filesystem::path path_;
};

class View {
public:
    // Closes any view held first. Throws "Failed to open view".
    void Open(const Database& database, std::string_view sql);
    // Throws "Failed to execute view".
    void Execute(const Record* parameters = nullptr);
    // The next row into `place` (whose previous record is released): true; no more rows: false
    // and `place` is empty. Throws "Failed to fetch record from view".
    bool Fetch(Record& place);

    LibmsiQuery* get() const noexcept { return handle_.get(); }

private:
    detail::ObjectHandle<LibmsiQuery> handle_;
};

} // namespace cptlib::msi
