#pragma once
// Method ids beyond the reader's core ones, and the names people know the methods by.

#include <cstdint>
#include <string>

namespace sfx::sevenzip {

// Filters liblzma decodes; the properties have liblzma's layout.
enum FilterMethodId : std::uint64_t {
    kMethodDelta = 0x03,
    kMethodArm64 = 0x0A,
    kMethodPpc = 0x03030205,
    kMethodIa64 = 0x03030401,
    kMethodArm = 0x03030501,
    kMethodArmThumb = 0x03030701,
    kMethodSparc = 0x03030805,
};

// Methods only the archive library decodes.
enum LibraryMethodId : std::uint64_t {
    kMethodDeflate = 0x040108,
    kMethodDeflate64 = 0x040109,
    kMethodBzip2 = 0x040202,
    kMethodPpmd = 0x030401,
};

// "LZMA2", "ARM64", "7zAES", …; an unknown id as "method 0x…".
std::string MethodName(std::uint64_t method);

} // namespace sfx::sevenzip
