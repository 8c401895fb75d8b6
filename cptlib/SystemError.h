#pragma once
// The system's error-code space: Win32 error numbers and HRESULTs, as the launcher's protocol
// and messages are written in them. errno values are mapped to the nearest Win32 number at the
// platform seam.

#include <cstdint>
#include <string>
#include <system_error>

namespace cptlib {

using HRESULT = std::int32_t;

constexpr std::uint32_t kErrorSuccess = 0;
constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;
constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorNotEnoughMemory = 8;
constexpr std::uint32_t kErrorInvalidData = 13;
constexpr std::uint32_t kErrorOutOfMemory = 14;
constexpr std::uint32_t kErrorWriteProtect = 19;
constexpr std::uint32_t kErrorSharingViolation = 32;
constexpr std::uint32_t kErrorHandleEof = 38;
constexpr std::uint32_t kErrorNotSupported = 50;
constexpr std::uint32_t kErrorFileExists = 80;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorDiskFull = 112;
constexpr std::uint32_t kErrorCallNotImplemented = 120;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorDirNotEmpty = 145;
constexpr std::uint32_t kErrorAlreadyExists = 183;
constexpr std::uint32_t kErrorBadExeFormat = 193;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;
constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t kErrorDirectory = 267;
constexpr std::uint32_t kErrorNoAssociation = 1155;
constexpr std::uint32_t kErrorCancelled = 1223;
constexpr std::uint32_t kErrorInstallUserExit = 1602;
constexpr std::uint32_t kErrorResourceDataNotFound = 1812;
constexpr std::uint32_t kErrorResourceTypeNotFound = 1813;
constexpr std::uint32_t kErrorResourceNameNotFound = 1814;
constexpr std::uint32_t kErrorResourceLangNotFound = 1815;

// errno values without a Win32 counterpart live in the customer range, 0x20000000 + errno, so
// that their text is still the system's.
constexpr std::uint32_t ERRNO_CODE_BASE = 0x20000000;

constexpr HRESULT kHrOk = 0;
constexpr HRESULT HRESULT_INVALID_DATA = static_cast<HRESULT>(0x8007000D);
constexpr HRESULT HRESULT_NO_MORE_ITEMS = static_cast<HRESULT>(0x80070103);
constexpr HRESULT HRESULT_SHARING_VIOLATION = static_cast<HRESULT>(0x80070020);
constexpr HRESULT HRESULT_DISK_FULL = static_cast<HRESULT>(0x80070070);
constexpr HRESULT HRESULT_RESOURCE_DATA_NOT_FOUND = static_cast<HRESULT>(0x80070714);
constexpr HRESULT kHrFail = static_cast<HRESULT>(0x80004005);
constexpr HRESULT kHrOutOfMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kHrInvalidArg = static_cast<HRESULT>(0x80070057);

// An errno without a Win32 number keeps its own (with the failure bit): cut to 16 bits it
// would read as an unrelated Win32 error.
constexpr HRESULT HResultFromWin32(std::uint32_t code) {
    if (code > ERRNO_CODE_BASE && code < ERRNO_CODE_BASE + 0x10000)
        return static_cast<HRESULT>(code | 0x80000000u);
    return static_cast<std::int32_t>(code) <= 0
               ? static_cast<HRESULT>(code)
               : static_cast<HRESULT>((code & 0x0000FFFFu) | 0x80070000u);
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}
constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}

// The category named "system" whose values are Win32 error numbers (and HRESULTs).
const std::error_category& win32_category() noexcept;
inline std::error_code MakeWin32Error(std::uint32_t code) {
    return {static_cast<int>(code), win32_category()};
}

std::uint32_t Win32FromErrno(int err) noexcept;
// The Win32 number for the current errno.
std::uint32_t LastWin32Error() noexcept;
inline HRESULT HResultFromErrno(int err) noexcept {
    return HResultFromWin32(Win32FromErrno(err));
}
inline std::error_code ErrnoToWin32Error(int err) {
    return MakeWin32Error(Win32FromErrno(err));
}

// The system's English message for a Win32 code or an HRESULT, trailing white space removed;
// empty when the system has no text for it.
std::string Win32MessageText(std::uint32_t code);

// The message followed by " (0x%X)" for codes above 0xFFFF, else " (%d)".
std::string SystemErrorText(std::uint32_t code);

} // namespace cptlib
