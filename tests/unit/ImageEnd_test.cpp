#include "format/ImageEnd.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A PE file with two sections; the second one's raw data ends at 0x600, followed by a tail.
Bytes PeWithTail() {
    Bytes b(0x700, 0xEE);
    std::fill(b.begin(), b.begin() + 0x200, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, 0x80);
    std::memcpy(&b[0x80], "PE\0\0", 4);
    b[0x86] = 2;    // sections
    b[0x94] = 0xE0; // optional header size
    const std::size_t table = 0x80 + 24 + 0xE0;
    Put32(b, table + 16, 0x200);
    Put32(b, table + 20, 0x400);
    Put32(b, table + 40 + 16, 0x200);
    Put32(b, table + 40 + 20, 0x200);
    return b;
}

TEST(ProgramImageEnd, IsWhereTheLastSectionsRawDataEnds) {
    const Bytes pe = PeWithTail();
    EXPECT_EQ(sfx::ProgramImageEnd(pe), 0x600u);
    Bytes beyond = pe;
    Put32(beyond, 0x80 + 24 + 0xE0 + 20, 0x10000);
    EXPECT_FALSE(sfx::ProgramImageEnd(beyond));

    Bytes elf(64, 0);
    std::memcpy(elf.data(),
                "\x7F"
                "ELF",
                4);
    EXPECT_EQ(sfx::ProgramImageEnd(elf), 64u);
    EXPECT_FALSE(sfx::ProgramImageEnd(Bytes(elf.begin(), elf.begin() + 20)));
    EXPECT_FALSE(sfx::ProgramImageEnd(AsBytes("[main]\nProductName=x\n")));
}

} // namespace
