#pragma once
// Splitting a fuzz input into a list of strings.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// The input cut at NUL bytes: each piece one argument (a trailing NUL makes a last empty one).
inline std::vector<std::string> SplitAtNul(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces;
    if (size == 0)
        return pieces;
    std::string piece;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            pieces.push_back(std::move(piece));
            piece.clear();
        } else {
            piece += static_cast<char>(data[i]);
        }
    }
    pieces.push_back(std::move(piece));
    return pieces;
}

} // namespace fuzz
