#include "format/SevenZipMethods.h"

#include "format/SevenZipHeader.h"

#include <cstdio>

namespace sfx::sevenzip {

std::string MethodName(std::uint64_t method) {
    switch (method) {
    case kMethodCopy:
        return "Copy";
    case kMethodLzma:
        return "LZMA";
    case kMethodLzma2:
        return "LZMA2";
    case kMethodBcj:
        return "BCJ";
    case kMethodBcj2:
        return "BCJ2";
    case kMethodAes:
        return "7zAES";
    case kMethodDelta:
        return "Delta";
    case kMethodArm64:
        return "ARM64";
    case kMethodPpc:
        return "PPC";
    case kMethodIa64:
        return "IA64";
    case kMethodArm:
        return "ARM";
    case kMethodArmThumb:
        return "ARMT";
    case kMethodSparc:
        return "SPARC";
    case kMethodDeflate:
        return "Deflate";
    case kMethodDeflate64:
        return "Deflate64";
    case kMethodBzip2:
        return "BZip2";
    case kMethodPpmd:
        return "PPMd";
    case 0x0B:
        return "RISCV";
    case 0x020302:
        return "Swap2";
    case 0x020304:
        return "Swap4";
    case 0x04F71101:
        return "Zstandard";
    default: {
        char text[32];
        std::snprintf(text, sizeof text, "method 0x%llX", static_cast<unsigned long long>(method));
        return text;
    }
    }
}

} // namespace sfx::sevenzip
