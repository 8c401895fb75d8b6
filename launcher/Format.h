#pragma once
// Fills the directives of texts from the string tables. Translated texts may hold other
// directives or another number of them than the code passes, so a mismatch must never fail.

#include <array>
#include <concepts>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace sfx {

class FormatArg {
public:
    template <std::signed_integral T>
    FormatArg(T value) : value_(static_cast<std::int64_t>(value)) {}
    template <std::unsigned_integral T>
    FormatArg(T value) : value_(static_cast<std::uint64_t>(value)) {}
    FormatArg(std::string_view text) : value_(std::string(text)) {}
    FormatArg(const std::string& text) : value_(text) {}
    FormatArg(const char* text) : value_(std::string(text != nullptr ? text : "")) {}

    // Numbers in decimal, text as it is: whichever directive takes the argument.
    std::string ToString() const;

private:
    std::variant<std::int64_t, std::uint64_t, std::string> value_;
};

// Replaces "%d", "%I64d" and "%s" with the arguments in order and "%%" with "%". A directive
// without an argument left stays as written; other '%' sequences are copied; surplus arguments
// are ignored.
std::string FormatTextList(std::string_view format, std::span<const FormatArg> args);

// Every `from` in `text` replaced by `to`, left to right; inserted text is not searched again. An
// empty `from` changes nothing.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

template <class... Args> std::string FormatText(std::string_view format, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return FormatTextList(format, list);
}

} // namespace sfx
