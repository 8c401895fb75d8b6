// The own reader decodes every branch converter and the delta filter liblzma has, behind LZMA,
// LZMA2 or stored, enciphered or not, to the same bytes as 7zz; the archive library (which
// lacks some of them) is not asked.

#include "format/SevenZipReader.h"

#include "support/Archive.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <map>

namespace {

namespace fs = std::filesystem;
using namespace testsupport;

// Item name -> its bytes, as the own reader gives them; nullopt when it declines the archive.
std::optional<std::map<std::string, std::string>> ReadOwn(const fs::path& archive,
                                                          const std::string& password) {
    const auto reader =
        sfx::sevenzip::MakeSevenZipReader(archive.string(), 0, [&](std::string& out) {
            out = password;
            return cptlib::kHrOk;
        });
    if (!reader)
        return std::nullopt;
    std::map<std::string, std::string> items;
    sfx::ArchiveIndex index;
    EXPECT_TRUE(reader->ReadIndex(index).Ok());
    for (;;) {
        sfx::ArchiveItem item;
        bool more = false;
        const sfx::ArchiveStatus status = reader->NextItem(item, more);
        EXPECT_TRUE(status.Ok()) << status.code << " " << status.text;
        if (!status.Ok() || !more)
            break;
        if (item.type != sfx::ArchiveItemType::File)
            continue;
        std::string& bytes = items[item.name];
        for (;;) {
            std::span<const std::uint8_t> block;
            const sfx::ArchiveStatus read = reader->ReadBlock(block);
            EXPECT_TRUE(read.Ok()) << item.name << ": " << read.code << " " << read.text;
            if (!read.Ok() || block.empty())
                break;
            bytes.append(reinterpret_cast<const char*>(block.data()), block.size());
        }
    }
    return items;
}

// What `7zz x` gives: the files under `folder`, by their names relative to it.
std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).string()] = ReadFile(entry.path());
    return files;
}

// A program for each converter's machine: an ELF header, then instruction-like words
// (branches of every kind the converters look for: x86 E8, ARM BL, Thumb BL, PPC b, SPARC
// call, ARM64 BL/ADRP) so that converting changes bytes; the rest varied data.
std::string Program(std::uint16_t machine) {
    std::string bytes = "\x7f"
                        "ELF\x02\x01\x01";
    bytes.resize(18, '\0');
    bytes += static_cast<char>(machine & 0xFF);
    bytes += static_cast<char>(machine >> 8);
    bytes.resize(64, '\0');
    std::uint32_t x = 12345;
    for (int i = 0; i < 40000; ++i) {
        x = x * 1103515245 + 12345;
        const std::uint8_t r = static_cast<std::uint8_t>(x >> 16);
        switch (i % 6) {
        case 0:
            bytes += "\xe8";
            bytes += static_cast<char>(r);
            bytes += "\x10\x00\x00";
            break;
        case 1:
            bytes += static_cast<char>(r);
            bytes += "\x10\x00\xeb";
            break;
        case 2:
            bytes += "\x00\xf0";
            bytes += static_cast<char>(r);
            bytes += "\xf8";
            break;
        case 3:
            bytes += "\x48\x00";
            bytes += static_cast<char>(r);
            bytes += "\x01";
            break;
        case 4:
            bytes += static_cast<char>(r);
            bytes += "\x00\x00\x94";
            break;
        default:
            bytes += static_cast<char>(r | 0x90);
            bytes += "\x00\x00\x40";
            break;
        }
    }
    return bytes;
}

class SevenZipFilters : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(product / "arm64" / "tool", Program(0xB7));
        WriteFile(product / "x86" / "tool", Program(0x3E));
        WriteFile(product / "ls", ReadFile("/bin/ls"));
        WriteFile(product / "noise.bin", IncompressibleBytes(70000));
        std::string table;
        for (std::uint32_t i = 0; i < 30000; ++i)
            table.append(reinterpret_cast<const char*>(&i), 4);
        WriteFile(product / "table.bin", table);
        WriteFile(product / "empty", "");
    }

    // Packs the product with `options` and expects the own reader to give 7zz's files.
    void ExpectAsReference(const std::string& options, const std::string& password) {
        SCOPED_TRACE(options + (password.empty() ? "" : " with password"));
        const fs::path archive = dir / "a.7z";
        fs::remove(archive);
        fs::remove_all(dir / "reference");
        Pack7z(product, archive, options + (password.empty() ? "" : " -p" + ShellQuote(password)));
        const ProcessResult r =
            RunShell("7zz x -bso0 -bsp0 -p" + ShellQuote(password) + " -o" +
                     ShellQuote((dir / "reference").string()) + " " + ShellQuote(archive.string()));
        ASSERT_EQ(r.status, 0) << r.err;
        const auto ours = ReadOwn(archive, password);
        ASSERT_TRUE(ours.has_value()) << "the own reader declined the archive";
        const auto reference = Files(dir / "reference");
        EXPECT_EQ(ours->size(), reference.size());
        for (const auto& [name, bytes] : reference) {
            const auto found = ours->find(name);
            ASSERT_NE(found, ours->end()) << name;
            EXPECT_TRUE(found->second == bytes) << name << " differs";
        }
    }

    // The methods 7zz lists for the archive, e.g. "ARM64 LZMA2:20".
    std::string Methods(const fs::path& archive) {
        const ProcessResult r = RunShell("7zz l -slt " + ShellQuote(archive.string()));
        EXPECT_EQ(r.status, 0) << r.err;
        std::string methods;
        std::size_t at = 0;
        while ((at = r.out.find("\nMethod = ", at)) != std::string::npos) {
            at += 10;
            methods += r.out.substr(at, r.out.find('\n', at) - at) + ";";
        }
        return methods;
    }

    TempDir dir;
    const fs::path product = dir / "product";
};

TEST_F(SevenZipFilters, EveryFilterDecodesAsTheReferenceBehindEveryCoderAndCipher) {
    for (const std::string filter :
         {"ARM64", "ARM", "ARMT", "PPC", "SPARC", "IA64", "Delta:4", "BCJ"})
        for (const std::string coder : {"LZMA2", "LZMA", "Copy"})
            for (const std::string password : {"", "se cret"})
                ExpectAsReference("-m0=" + filter + " -m1=" + coder, password);
    // Two filters in a row (the outer one over the inner's output), a folder per file.
    ExpectAsReference("-m0=PPC -m1=Delta:3 -m2=LZMA2 -ms=off", "pw");
}

// 7zz picks the ARM64 converter by itself for ARM64 programs.
TEST_F(SevenZipFilters, APlainPackOfArm64ProgramsIsReadByTheOwnReader) {
    fs::remove_all(product / "x86");
    // A real program with its machine made ARM64 (0xB7): what 7zz looks at to pick the filter.
    std::string program = ReadFile("/bin/ls");
    program[18] = '\xB7';
    program[19] = '\0';
    WriteExecutable(product / "ls", program); // 7zz looks at programs only
    for (const std::string password : {"", "pw"}) {
        const fs::path archive = dir / ("plain" + password + ".7z");
        Pack7z(product, archive, password.empty() ? "" : "-p" + password);
        EXPECT_NE(Methods(archive).find("ARM64"), std::string::npos) << Methods(archive);
        ExpectAsReference("", password);
    }
}

} // namespace
