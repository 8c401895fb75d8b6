#include "launcher/SelfCheck.h"

#include "cptlib/SystemError.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

class EnglishStrings : public cptlib::IStringResources {
public:
    void AddLoader(std::shared_ptr<cptlib::IStringResourceLoader>) override {}
    void RemoveLoaders() override {}
    std::vector<std::shared_ptr<cptlib::IStringResourceLoader>> GetLoaders() const override {
        return {};
    }
    cptlib::CultureSet GetAllCultures() const override { return {"en-US"}; }
    void Load(const std::string&) override {}
    void Clear() override { texts_.clear(); }
    std::string GetCulture() const override { return "en-US"; }
    std::string GetText(const std::string& id) const override {
        const auto found = texts_.find(id);
        return found == texts_.end() ? std::string() : found->second;
    }
    void SetText(const std::string& id, const std::string& text) override { texts_[id] = text; }
    std::set<std::string> GetIds() const override {
        std::set<std::string> ids;
        for (const auto& [id, text] : texts_)
            ids.insert(id);
        return ids;
    }

private:
    cptlib::StringMap texts_ = {
        {"SfxErrorReadArchive", "The compressed setup file could not be read."},
        {"SfxErrorBadArchive", "The setup file is corrupted. If you downloaded this file from "
                               "the Internet, please download it again."},
        {"ErrorSize", "Expected file size: %I64d\nActual file size: %I64d"},
    };
};

const std::string kBadArchive = "The setup file is corrupted. If you downloaded this file from "
                                "the Internet, please download it again.\n\n";

std::string SizeMessage(std::int64_t expected, std::int64_t actual) {
    return kBadArchive + "Expected file size: " + std::to_string(expected) +
           "\nActual file size: " + std::to_string(actual);
}

void Put16(Bytes& b, std::size_t at, std::uint16_t v) {
    for (std::size_t i = 0; i < 2; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A resource directory tree holding kRtRcData "_VRN_VERIFY" (neutral language) with `verify`
// as its bytes; `dataAddress` is the address the data entry counts from.
Bytes ResourceTree(const Bytes& verify, std::uint32_t dataAddress) {
    Bytes r(0x70 + verify.size(), 0);
    // type directory: one id entry, kRtRcData
    Put16(r, 14, 1);
    Put32(r, 16, 10);
    Put32(r, 20, 0x80000000u | 0x18);
    // name directory: one named entry
    Put16(r, 0x18 + 12, 1);
    Put32(r, 0x18 + 16, 0x80000000u | 0x58);
    Put32(r, 0x18 + 20, 0x80000000u | 0x30);
    // language directory: neutral
    Put16(r, 0x30 + 14, 1);
    Put32(r, 0x30 + 16, 0);
    Put32(r, 0x30 + 20, 0x48);
    // data entry
    Put32(r, 0x48, dataAddress + 0x70);
    Put32(r, 0x48 + 4, static_cast<std::uint32_t>(verify.size()));
    // the name: a length and UTF-16 characters
    const std::string name = "_VRN_VERIFY";
    Put16(r, 0x58, static_cast<std::uint16_t>(name.size()));
    for (std::size_t i = 0; i < name.size(); ++i)
        Put16(r, 0x5A + 2 * i, static_cast<std::uint8_t>(name[i]));
    std::copy(verify.begin(), verify.end(), r.begin() + 0x70);
    return r;
}

struct PeLayout {
    bool pe32Plus = false;
    std::uint32_t securityOffset = 0;
    std::uint32_t securitySize = 0;
    std::uint32_t directoryCount = 16;
    // The _VRN_VERIFY resource: its bytes, or none for an image without resources.
    std::optional<Bytes> verify;
};

constexpr std::size_t kPeHeader = 0x80;
constexpr std::size_t kImageSize = 0x400; // headers, then .rsrc raw data at 0x200

Bytes Le64(std::uint64_t v) {
    Bytes b(8);
    for (std::size_t i = 0; i < 8; ++i)
        b[i] = static_cast<std::uint8_t>(v >> (8 * i));
    return b;
}

// A minimal program image with a resource section that holds kRtRcData "_VRN_VERIFY".
Bytes MakePe(const PeLayout& layout) {
    Bytes b(kImageSize, 0);
    b[0] = 'M';
    b[1] = 'Z';
    Put32(b, 0x3C, kPeHeader);
    std::memcpy(&b[kPeHeader], "PE\0\0", 4);
    const std::size_t coff = kPeHeader + 4;
    const std::uint16_t optionalSize = layout.pe32Plus ? 240 : 224;
    Put16(b, coff, layout.pe32Plus ? 0x8664 : 0x14C);
    Put16(b, coff + 2, 1); // one section
    Put16(b, coff + 16, optionalSize);
    Put16(b, coff + 18, 0x0102);
    const std::size_t opt = coff + 20;
    const std::size_t shift = layout.pe32Plus ? 16 : 0;
    Put16(b, opt, layout.pe32Plus ? 0x20B : 0x10B);
    Put32(b, opt + 32, 0x1000); // section alignment
    Put32(b, opt + 36, 0x200);  // file alignment
    Put32(b, opt + 56, 0x2000); // size of image
    Put32(b, opt + 60, 0x200);  // size of headers
    Put32(b, opt + 92 + shift, layout.directoryCount);
    const std::size_t dirs = opt + 96 + shift;
    const std::uint32_t rsrcRva = 0x1000, rsrcFile = 0x200, rsrcSize = 0x80;
    static_assert(kImageSize - rsrcFile >= rsrcSize);
    if (layout.verify) {
        Put32(b, dirs + 2 * 8, rsrcRva);
        Put32(b, dirs + 2 * 8 + 4, rsrcSize);
    }
    Put32(b, dirs + 4 * 8, layout.securityOffset);
    Put32(b, dirs + 4 * 8 + 4, layout.securitySize);
    const std::size_t section = opt + optionalSize;
    std::memcpy(&b[section], ".rsrc", 5);
    Put32(b, section + 8, rsrcSize);
    Put32(b, section + 12, rsrcRva);
    Put32(b, section + 16, 0x200);
    Put32(b, section + 20, rsrcFile);
    Put32(b, section + 36, 0x40000040);
    if (layout.verify) {
        const Bytes tree = ResourceTree(*layout.verify, rsrcRva);
        std::copy(tree.begin(), tree.end(), b.begin() + rsrcFile);
    }
    return b;
}

void Put64(Bytes& b, std::size_t at, std::uint64_t v) {
    for (std::size_t i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A minimal 64-bit ELF image; with `verify`, its .rsrc section holds the resource tree.
Bytes MakeElf(const std::optional<Bytes>& verify) {
    Bytes b(64, 0);
    const std::uint8_t ident[] = {0x7F, 'E', 'L', 'F', 2, 1, 1};
    std::copy(std::begin(ident), std::end(ident), b.begin());
    Put16(b, 16, 3);  // shared object
    Put16(b, 18, 62); // x86-64
    Put32(b, 20, 1);
    const Bytes tree = verify ? ResourceTree(*verify, 0) : Bytes(16, 0);
    const std::uint64_t treeOffset = b.size();
    b.insert(b.end(), tree.begin(), tree.end());
    const std::string names(verify ? "\0.rsrc\0.shstrtab\0" : "\0.data\0.shstrtab\0", 17);
    const std::uint64_t namesOffset = b.size();
    b.insert(b.end(), names.begin(), names.end());
    b.resize((b.size() + 7) / 8 * 8, 0);
    const std::uint64_t sectionHeaders = b.size();
    b.resize(b.size() + 3 * 64, 0);
    Put64(b, 40, sectionHeaders);
    Put16(b, 52, 64); // header size
    Put16(b, 58, 64); // section header size
    Put16(b, 60, 3);
    Put16(b, 62, 2); // names in section 2
    const std::size_t rsrc = sectionHeaders + 64, strtab = sectionHeaders + 128;
    Put32(b, rsrc, 1);
    Put32(b, rsrc + 4, 1); // program bits
    Put64(b, rsrc + 8, 2); // allocated
    Put64(b, rsrc + 24, treeOffset);
    Put64(b, rsrc + 32, tree.size());
    Put64(b, rsrc + 48, 4);
    Put32(b, strtab, 7);
    Put32(b, strtab + 4, 3); // string table
    Put64(b, strtab + 24, namesOffset);
    Put64(b, strtab + 32, names.size());
    Put64(b, strtab + 48, 1);
    return b;
}

class VerifyOwnFileSizeTest : public testsupport::ScratchTest {
protected:
    std::filesystem::path Write(const Bytes& data) {
        const auto path = folder_ / ("file" + std::to_string(counter_++));
        testsupport::WriteFile(path, data);
        return path;
    }

    std::string Verify(const Bytes& data) { return sfx::VerifyOwnFileSize(Write(data), strings_); }

    static Bytes Grow(Bytes data, std::size_t size, std::uint8_t fill = 0x37) {
        data.resize(size, fill);
        return data;
    }

    EnglishStrings strings_;
    int counter_ = 0;
};

TEST_F(VerifyOwnFileSizeTest, UnsignedImageComparesWithTheResource) {
    const std::size_t end = 5000; // image, payload and archive
    const Bytes file = Grow(MakePe({.verify = Le64(end)}), end);
    EXPECT_EQ(Verify(file), "");
    EXPECT_EQ(Verify(Grow(file, end + 1)), SizeMessage(end, end + 1));
    EXPECT_EQ(Verify(Grow(file, end - 1)), SizeMessage(end, end - 1));
}

TEST_F(VerifyOwnFileSizeTest, SignedImageComparesWithTheCertificateTable) {
    for (bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        // archive ends at 4999, padding to 5000, certificate of 300 bytes; the resource says
        // where the archive ended, as the build tool wrote it
        const Bytes file = Grow(MakePe({.pe32Plus = pe32Plus,
                                        .securityOffset = 5000,
                                        .securitySize = 300,
                                        .verify = Le64(4999)}),
                                5300);
        EXPECT_EQ(Verify(file), "");
        EXPECT_EQ(Verify(Grow(file, 5301)), SizeMessage(5300, 5301));

        // signature stripped: security entry zero, file cut back to the archive's end
        EXPECT_EQ(Verify(Grow(MakePe({.pe32Plus = pe32Plus, .verify = Le64(4999)}), 4999)), "");
    }
}

TEST_F(VerifyOwnFileSizeTest, CertificateEndIsAThirtyTwoBitSum) {
    const Bytes file =
        MakePe({.securityOffset = 0xFFFFFF00u, .securitySize = 0x200, .verify = Le64(0x400)});
    EXPECT_EQ(Verify(file), SizeMessage(0x100, 0x400));
}

TEST_F(VerifyOwnFileSizeTest, ShortDirectoryListHasNoSecurityEntry) {
    // The bytes where the security entry would be belong to something else then.
    const Bytes file = Grow(
        MakePe({.securityOffset = 7, .securitySize = 9, .directoryCount = 4, .verify = Le64(2000)}),
        2000);
    EXPECT_EQ(Verify(file), "");
}

TEST_F(VerifyOwnFileSizeTest, ElfImageComparesWithTheResource) {
    const std::size_t end = 3000;
    const Bytes file = Grow(MakeElf(Le64(end)), end);
    EXPECT_EQ(Verify(file), "");
    EXPECT_EQ(Verify(Grow(file, end + 1)), SizeMessage(end, end + 1));
    EXPECT_EQ(Verify(Grow(MakeElf(Le64(0)), end)), SizeMessage(0, end)); // slot never written
    EXPECT_EQ(Verify(Grow(MakeElf(std::nullopt), end)), "Resource _VRN_VERIFY is not found.");
    EXPECT_EQ(Verify(Grow(MakeElf(Bytes(4, 0)), end)), "Resource _VRN_VERIFY is not found.");
}

TEST_F(VerifyOwnFileSizeTest, MalformedFilesGiveTheirMessages) {
    const std::string notExe = "File does not have EXE format.";
    const std::string badPe = "Invalid PE signature.";
    const std::string noResource = "Resource _VRN_VERIFY is not found.";

    Bytes badSignature = MakePe({.verify = Le64(0x400)});
    badSignature[kPeHeader + 1] = 'X';
    Bytes farHeader = MakePe({.verify = Le64(0x400)});
    Put32(farHeader, 0x3C, 0xFFFFFFF0u);
    Bytes headerAtTheEnd = MakePe({.verify = Le64(0x400)});
    Put32(headerAtTheEnd, 0x3C, 0x3FE); // signature would run past the end
    Bytes cutInOptionalHeader(MakePe({.verify = Le64(0x400)}));
    cutInOptionalHeader.resize(kPeHeader + 100);

    struct Case {
        const char* name;
        Bytes data;
        std::string expected;
    };
    const Case cases[] = {
        {"text file", Bytes{'h', 'e', 'l', 'l', 'o'}, notExe},
        {"one byte", Bytes{'M'}, notExe},
        {"ELF signature cut", Bytes{0x7F, 'E', 'L'}, notExe},
        {"MZ only", Bytes{'M', 'Z'}, badPe},
        {"MZ without room for the header pointer", Grow(Bytes{'M', 'Z'}, 0x3E), badPe},
        {"bad PE signature", badSignature, badPe},
        {"header pointer beyond the file", farHeader, badPe},
        {"signature past the end", headerAtTheEnd, badPe},
        // headers cut before the security entry: no signature, so the resource decides
        {"headers cut short", cutInOptionalHeader, noResource},
        {"no resources", MakePe({}), noResource},
        {"resource of 7 bytes", MakePe({.verify = Bytes(7, 0)}), noResource},
        {"resource of 9 bytes", MakePe({.verify = Bytes(9, 0)}), noResource},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Verify(c.data), c.expected);
    }
}

TEST_F(VerifyOwnFileSizeTest, UnreadableFileGivesTheReadMessageWithTheCode) {
    const std::string readError = "The compressed setup file could not be read. (";
    EXPECT_EQ(sfx::VerifyOwnFileSize(folder_ / "absent", strings_),
              readError + std::to_string(cptlib::HResultFromWin32(cptlib::kErrorFileNotFound)) +
                  ")");
    EXPECT_EQ(sfx::VerifyOwnFileSize(folder_, strings_),
              readError + std::to_string(cptlib::HResultFromWin32(cptlib::kErrorAccessDenied)) +
                  ")");
    // Nothing to map in an empty file.
    EXPECT_EQ(Verify({}),
              readError + std::to_string(cptlib::HResultFromWin32(cptlib::kErrorHandleEof)) + ")");
}

} // namespace
