#include "cptlib/SystemError.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

namespace cptlib {

namespace {

const std::unordered_map<std::uint32_t, const char*>& MessageTable() {
    static const std::unordered_map<std::uint32_t, const char*> table = {
        {0, "The operation completed successfully."},
        {1, "Incorrect function."},
        {2, "The system cannot find the file specified."},
        {3, "The system cannot find the path specified."},
        {4, "The system cannot open the file: too many files are open."},
        {5, "Access is denied."},
        {6, "The handle is invalid."},
        {10, "The environment is incorrect."},
        {8, "Not enough memory resources are available to process this command."},
        {13, "The data is invalid."},
        {14, "Not enough memory resources are available to complete this operation."},
        {17, "The system cannot move the file to a different disk drive."},
        {19, "The media is write protected."},
        {21, "The device is not ready."},
        {23, "Data error (cyclic redundancy check)."},
        {29, "The system cannot write to the specified device."},
        {30, "The system cannot read from the specified device."},
        {32, "The process cannot access the file because it is being used by another process."},
        {33, "The process cannot access the file because another process has locked a "
             "portion of the file."},
        {38, "Reached the end of the file."},
        {39, "The disk is full."},
        {55, "The specified network resource or device is no longer available."},
        {50, "The request is not supported."},
        {80, "The file exists."},
        {82, "The directory or file cannot be created."},
        {87, "The parameter is incorrect."},
        {109, "The pipe has been ended."},
        {110, "The system cannot open the device or file specified."},
        {112, "There is not enough space on the disk."},
        {120, "This function is not supported on this system."},
        {122, "The data area passed to a system call is too small."},
        {123, "The filename, directory name, or volume label syntax is incorrect."},
        {128, "There are no child processes to wait for."},
        {132, "The file pointer cannot be set on the specified device or file."},
        {145, "The directory is not empty."},
        {161, "The specified path is invalid."},
        {170, "The requested resource is in use."},
        {183, "Cannot create a file when that file already exists."},
        // ENOEXEC: no "#!" line, or a binary of another system.
        {193, "The file is not a program this system can run."},
        {206, "The filename or extension is too long."},
        {164, "No more threads can be created in the system."},
        {223, "The file size exceeds the limit allowed and cannot be saved."},
        {259, "No more data is available."},
        {267, "The directory name is invalid."},
        {487, "Attempt to access invalid address."},
        {534, "Arithmetic result exceeded 32 bits."},
        {995, "The I/O operation has been aborted because of either a thread exit or an "
              "application request."},
        {1117, "The request could not be performed because of an I/O device error."},
        {1006, "The volume for a file has been externally altered so that the opened file "
               "is no longer valid."},
        {1131, "A potential deadlock condition has been detected."},
        {1142, "An attempt was made to create more links on a file than the file system "
               "supports."},
        {1155, "No application is associated with the specified file for this operation."},
        {1223, "The operation was canceled by the user."},
        {1314, "A required privilege is not held by the client."},
        {1359, "An internal error occurred."},
        {1392, "The file or directory is corrupted and unreadable."},
        {1450, "Insufficient system resources exist to complete the requested service."},
        {1460, "This operation returned because the timeout period expired."},
        {1168, "Element not found."},
        {1602, "User cancelled installation."},
        {1603, "Fatal error during installation."},
        {1610, "The configuration data for this product is corrupt.  Contact your support "
               "personnel."},
        {1615, "SQL query syntax invalid or unsupported."},
        {1620, "This installation package could not be opened.  Contact the application vendor "
               "to verify that this is a valid Windows Installer package."},
        {1627, "Function failed during execution."},
        {1812, "The specified image file did not contain a resource section."},
        {1813, "The specified resource type cannot be found in the image file."},
        {1814, "The specified resource name cannot be found in the image file."},
        {1815, "The specified resource language ID cannot be found in the image file."},
        {1921, "The name of the file cannot be resolved by the system."},
        {0x80004001, "Not implemented"},
        {0x80004004, "Operation aborted"},
        {0x80004005, "Unspecified error"},
        {0x8000FFFF, "Catastrophic failure"},
    };
    return table;
}

struct ErrnoRow {
    int err;
    std::uint32_t code;
};

// Windows' C runtime knows no quotas.
#ifdef EDQUOT
constexpr int kQuotaErrno = EDQUOT;
#else
constexpr int kQuotaErrno = ENOSPC;
#endif

// Every errno that file, process, thread and socket calls of the run can return has a code
// with a text: an errno left out would reach an HRESULT as a Win32 code of another meaning.
constexpr ErrnoRow kErrnoRows[] = {
#ifdef ESTALE
    {ESTALE, 1006},
#endif
    {ENOENT, 2},         {ENOTDIR, 3},    {EMFILE, 4},       {ENFILE, 4},        {EACCES, 5},
    {EPERM, 5},          {EISDIR, 5},     {EBADF, 6},        {ENOMEM, 8},        {E2BIG, 10},
    {EXDEV, 17},         {EROFS, 19},     {EBUSY, 32},       {ETXTBSY, 32},      {ENOLCK, 33},
    {ENOTSUP, 50},       {ENXIO, 55},     {ENODEV, 55},      {ENOTCONN, 55},     {EEXIST, 80},
    {EINVAL, 87},        {EPIPE, 109},    {ENOSPC, 112},     {kQuotaErrno, 112}, {ENOSYS, 120},
    {ERANGE, 122},       {ECHILD, 128},   {ESPIPE, 132},     {ENOTEMPTY, 145},   {ENOEXEC, 193},
    {ENAMETOOLONG, 206}, {EFBIG, 223},    {EFAULT, 487},     {EOVERFLOW, 534},   {EINTR, 995},
    {EIO, 1117},         {EDEADLK, 1131}, {EMLINK, 1142},    {ESRCH, 1168},      {ECANCELED, 1223},
    {EAGAIN, 1450},      {ENOBUFS, 1450}, {ETIMEDOUT, 1460}, {ELOOP, 1921},
};

// Win32 numbers back to the errno that produced them, for codes without an English text here.
int ErrnoFromWin32(std::uint32_t code) {
    if ((code & 0xFFFF0000u) == (0x80000000u | ERRNO_CODE_BASE))
        code &= ~0x80000000u;
    if (code > ERRNO_CODE_BASE && code < ERRNO_CODE_BASE + 0x10000)
        return static_cast<int>(code - ERRNO_CODE_BASE);
    for (const auto& row : kErrnoRows)
        if (row.code == code)
            return row.err;
    return 0;
}

class Win32Category final : public std::error_category {
public:
    const char* name() const noexcept override { return "system"; }
    std::string message(int value) const override {
        std::string text = Win32MessageText(static_cast<std::uint32_t>(value));
        return text.empty() ? "unknown error" : text;
    }
    std::error_condition default_error_condition(int value) const noexcept override {
        const int err = ErrnoFromWin32(static_cast<std::uint32_t>(value));
        if (err != 0)
            return {err, std::generic_category()};
        return {value, *this};
    }
};

} // namespace

const std::error_category& win32_category() noexcept {
    static const Win32Category category;
    return category;
}

std::uint32_t Win32FromErrno(int err) noexcept {
    if (err == 0)
        return 0;
    for (const auto& row : kErrnoRows)
        if (row.err == err)
            return row.code;
    return ERRNO_CODE_BASE + static_cast<std::uint32_t>(err);
}

std::uint32_t LastWin32Error() noexcept {
    return Win32FromErrno(errno);
}

std::string Win32MessageText(std::uint32_t code) {
    // An HRESULT that wraps a Win32 error has that error's text.
    if ((code & 0xFFFF0000u) == 0x80070000u)
        code &= 0xFFFFu;
    else if ((code & 0xFFFF0000u) == (0x80000000u | ERRNO_CODE_BASE))
        code &= ~0x80000000u;
    const auto& table = MessageTable();
    if (auto it = table.find(code); it != table.end())
        return it->second;
    if (int err = ErrnoFromWin32(code); err != 0) {
        std::string text = std::strerror(err);
        if (!text.empty() && text.back() != '.')
            text += '.';
        return text;
    }
    return {};
}

std::string SystemErrorText(std::uint32_t code) {
    std::string text = Win32MessageText(code);
    char suffix[32];
    if (code > 0xFFFF)
        std::snprintf(suffix, sizeof suffix, " (0x%X)", code);
    else
        std::snprintf(suffix, sizeof suffix, " (%d)", static_cast<int>(code));
    return text + suffix;
}

} // namespace cptlib
