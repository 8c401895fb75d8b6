#pragma once
// The x86 branch converter with four inputs: the main bytes, the targets of calls and of jumps
// (big-endian, absolute), and a range-coded stream that tells which branches were converted.

#include "format/SevenZipFolder.h"

#include <array>
#include <memory>

namespace sfx::sevenzip {

std::unique_ptr<ByteStream> MakeBcj2Decoder(std::array<std::unique_ptr<ByteStream>, 4> inputs,
                                            std::uint64_t size);

} // namespace sfx::sevenzip
