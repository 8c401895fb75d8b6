#pragma once
// Exception types and the error information that rides along with them.

#include <boost/exception/error_info.hpp>
#include <boost/exception/errinfo_api_function.hpp>
#include <boost/exception/errinfo_file_name.hpp>
#include <boost/exception/exception.hpp>
#include <boost/exception/info.hpp>
#include <boost/throw_exception.hpp>

#include <cstdint>
#include <exception>
#include <stdexcept>
#include <filesystem>
#include <ios>
#include <string>
#include <system_error>
#include <type_traits>

namespace cptlib {

enum class FileOp : int { Open = 0, Read = 1, Write = 2, Seek = 3, Flush = 4 };

// Bit sets of the file device.
enum class FileOpenMode : std::uint32_t { None = 0, In = 1, Out = 2, Ate = 4, App = 8, Trunc = 16 };
enum class FileShareMode : std::uint32_t { None = 0, Read = 1, Write = 2, Delete = 4 };

template <class E>
concept BitSetEnum = std::is_same_v<E, FileOpenMode> || std::is_same_v<E, FileShareMode>;
template <BitSetEnum E> constexpr E operator|(E a, E b) {
    return static_cast<E>(static_cast<std::uint32_t>(a) | static_cast<std::uint32_t>(b));
}
template <BitSetEnum E> constexpr bool HasFlag(E set, E flag) {
    return (static_cast<std::uint32_t>(set) & static_cast<std::uint32_t>(flag)) != 0;
}

using tag_errinfo_path = boost::error_info<struct tag_errinfo_path_, std::filesystem::path>;
using tag_errinfo_path2 = boost::error_info<struct tag_errinfo_path2_, std::filesystem::path>;
using tag_errinfo_path_label = boost::error_info<struct tag_errinfo_path_label_, std::string>;
using tag_errinfo_path2_label = boost::error_info<struct tag_errinfo_path2_label_, std::string>;
using tag_errinfo_code = boost::error_info<struct tag_errinfo_code_, std::error_code>;
using tag_errinfo_file_op = boost::error_info<struct tag_errinfo_file_op_, FileOp>;
using tag_errinfo_openmode = boost::error_info<struct tag_errinfo_openmode_, FileOpenMode>;
using tag_errinfo_sharemode = boost::error_info<struct tag_errinfo_sharemode_, FileShareMode>;
using tag_errinfo_handle = boost::error_info<struct tag_errinfo_handle_, std::int32_t>;

// Builds a path from UTF-8 bytes without the locale's conversion (a plain std::string would be
// read in the ANSI code page on Windows).
inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The path's name as UTF-8 bytes, the reverse of PathFromUtf8.
inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

class FileException : public std::ios_base::failure, public boost::exception {
public:
    FileException(const std::string& message, std::error_code code)
        : std::ios_base::failure(message, code) {
        *this << tag_errinfo_code(code);
    }
};

class AppResourceError : public FileException {
public:
    using FileException::FileException;
};

// Records the throwing function's signature, the source file and the line.
#define CPT_THROW(e) BOOST_THROW_EXCEPTION(e)

// A std::system_error (or another standard exception) that can carry error information.
template <class Base> class WithInfo : public Base, public boost::exception {
public:
    using Base::Base;
};
using SystemError = WithInfo<std::system_error>;
using RuntimeError = WithInfo<std::runtime_error>;

// An outer failure that keeps the exception being handled as its cause; construct it inside a
// catch block.
template <class Base> class NestedError : public Base, public std::nested_exception {
public:
    using Base::Base;
};

} // namespace cptlib
