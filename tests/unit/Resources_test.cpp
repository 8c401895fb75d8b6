#include "cptlib/Exceptions.h"
#include "cptlib/platform/Process.h"
#include "cptlib/resources/ResourceTree.h"
#include "cptlib/resources/ResourceUtils.h"
#include "rescomp/ResourceCompiler.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/ScopedEnv.h"
#include "support/StringTables.h"
#include "support/TempDir.h"

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

namespace {

using cptlib::HRESULT;
using cptlib::ResourceId;
using rescomp::Resource;
using Bytes = std::vector<std::uint8_t>;

const HRESULT kBadFormat = cptlib::HResultFromWin32(cptlib::kErrorBadExeFormat);
const HRESULT kTypeNotFound = cptlib::HResultFromWin32(cptlib::kErrorResourceTypeNotFound);
const HRESULT kNameNotFound = cptlib::HResultFromWin32(cptlib::kErrorResourceNameNotFound);

void Put16(Bytes& b, std::size_t at, std::uint16_t v, bool big = false) {
    for (std::size_t i = 0; i < 2; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (big ? 8 * (1 - i) : 8 * i));
}
void Put32(Bytes& b, std::size_t at, std::uint32_t v, bool big = false) {
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (big ? 8 * (3 - i) : 8 * i));
}
void Put64(Bytes& b, std::size_t at, std::uint64_t v, bool big = false) {
    for (std::size_t i = 0; i < 8; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (big ? 8 * (7 - i) : 8 * i));
}
std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

Bytes ToBytes(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::string Text(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// A small program file: headers, a .text section and the .rsrc section, whose tree is compiled
// for its address.
constexpr std::uint32_t kRsrcRva = 0x2000;
constexpr std::size_t kRsrcFile = 0x400;

Bytes MakePe(const std::vector<Resource>& resources, bool pe32Plus = false) {
    const std::string tree = rescomp::BuildResourceTree(resources, kRsrcRva);
    const std::size_t raw = (tree.size() + 0x1FF) / 0x200 * 0x200;
    Bytes b(kRsrcFile + raw, 0);
    b[0] = 'M';
    b[1] = 'Z';
    const std::size_t pe = 0x80;
    Put32(b, 0x3C, pe);
    std::memcpy(&b[pe], "PE\0\0", 4);
    const std::size_t coff = pe + 4;
    const std::uint16_t optionalSize = pe32Plus ? 240 : 224;
    Put16(b, coff, pe32Plus ? 0x8664 : 0x14C);
    Put16(b, coff + 2, 2);
    Put16(b, coff + 16, optionalSize);
    const std::size_t opt = coff + 20;
    const std::size_t shift = pe32Plus ? 16 : 0;
    Put16(b, opt, pe32Plus ? 0x20B : 0x10B);
    Put32(b, opt + 92 + shift, 16);
    Put32(b, opt + 96 + shift + 16, kRsrcRva);
    Put32(b, opt + 96 + shift + 20, static_cast<std::uint32_t>(tree.size()));
    const std::size_t sections = opt + optionalSize;
    const auto section = [&](std::size_t i, const char* name, std::uint32_t va, std::uint32_t size,
                             std::uint32_t file) {
        const std::size_t s = sections + 40 * i;
        std::memcpy(&b[s], name, std::strlen(name));
        Put32(b, s + 8, size);
        Put32(b, s + 12, va);
        Put32(b, s + 16, size);
        Put32(b, s + 20, file);
    };
    section(0, ".text", 0x1000, 0x200, 0x200);
    section(1, ".rsrc", kRsrcRva, static_cast<std::uint32_t>(raw), kRsrcFile);
    std::copy(tree.begin(), tree.end(), b.begin() + kRsrcFile);
    return b;
}

// A small ELF file: header, the tree (addresses relative to the section), the section names and
// the section headers [null, .shstrtab, .rsrc].
constexpr std::size_t kElfTree = 0x100;

Bytes MakeElf(const std::vector<Resource>& resources, bool is64, bool big = false) {
    const std::string tree = rescomp::BuildResourceTree(resources);
    const std::string names("\0.shstrtab\0.rsrc\0", 17);
    const std::size_t namesAt = kElfTree + tree.size();
    const std::size_t headersAt = (namesAt + names.size() + 7) / 8 * 8;
    const std::size_t entry = is64 ? 64 : 40;
    Bytes b(headersAt + 3 * entry, 0);
    b[0] = 0x7F;
    b[1] = 'E';
    b[2] = 'L';
    b[3] = 'F';
    b[4] = is64 ? 2 : 1;
    b[5] = big ? 2 : 1;
    b[6] = 1;
    if (is64) {
        Put64(b, 0x28, headersAt, big);
        Put16(b, 0x3A, 64, big);
        Put16(b, 0x3C, 3, big);
        Put16(b, 0x3E, 1, big);
    } else {
        Put32(b, 0x20, static_cast<std::uint32_t>(headersAt), big);
        Put16(b, 0x2E, 40, big);
        Put16(b, 0x30, 3, big);
        Put16(b, 0x32, 1, big);
    }
    std::copy(tree.begin(), tree.end(), b.begin() + kElfTree);
    std::copy(names.begin(), names.end(), b.begin() + namesAt);
    const auto header = [&](std::size_t i, std::uint32_t name, std::uint32_t type,
                            std::uint64_t offset, std::uint64_t size) {
        const std::size_t h = headersAt + i * entry;
        Put32(b, h, name, big);
        Put32(b, h + 4, type, big);
        if (is64) {
            Put64(b, h + 0x18, offset, big);
            Put64(b, h + 0x20, size, big);
        } else {
            Put32(b, h + 0x10, static_cast<std::uint32_t>(offset), big);
            Put32(b, h + 0x14, static_cast<std::uint32_t>(size), big);
        }
    };
    header(1, 1, 3, namesAt, names.size());
    header(2, 11, 1, kElfTree, tree.size());
    return b;
}

std::string Ico(std::initializer_list<std::pair<int, std::string>> images) {
    std::string ico(6 + 16 * images.size(), '\0');
    ico[2] = 1;
    ico[4] = static_cast<char>(images.size());
    std::size_t i = 0;
    for (const auto& [size, data] : images) {
        const std::size_t e = 6 + 16 * i++;
        ico[e] = static_cast<char>(size);
        ico[e + 1] = static_cast<char>(size);
        ico[e + 4] = 1;
        ico[e + 6] = 32;
        const auto length = static_cast<std::uint32_t>(data.size());
        const auto offset = static_cast<std::uint32_t>(ico.size());
        for (int k = 0; k < 4; ++k) {
            ico[e + 8 + static_cast<std::size_t>(k)] = static_cast<char>(length >> (8 * k));
            ico[e + 12 + static_cast<std::size_t>(k)] = static_cast<char>(offset >> (8 * k));
        }
        ico += data;
    }
    return ico;
}

// The resources of a launcher stub in small: slots, string tables in three languages, an icon.
std::vector<Resource> StubResources() {
    std::vector<Resource> r = {
        {"ZQ_XML_STRING", 1, 1041, "<ja/>"},
        {"ZQ_XML_STRING", 1, 7, "<de/>"},
        {"ZQ_XML_STRING", 1, 1033, "<en/>"},
        {cptlib::kRtRcData, "VRNID", 0, std::string(256, '\0')},
        {cptlib::kRtRcData, "_VRN_VERIFY", 0, std::string("\x10\x20\x30\0\0\0\0\0", 8)},
        {cptlib::kRtRcData, "ZQ_BRINDLE_PHASH", 0, std::string(34, '\0')},
        {cptlib::kRtRcData, 7, 0, "seven"},
        {cptlib::kRtManifest, 1, 1033, "<assembly/>"},
    };
    auto icons = rescomp::IconResources(Ico({{16, "small"}, {32, "large image"}}), 128, 1033, 1);
    r.insert(r.end(), icons.begin(), icons.end());
    return r;
}

class FileFixture : public testsupport::ScratchTest {
protected:
    std::filesystem::path Write(const std::string& name, const Bytes& data) {
        const auto path = folder_ / name;
        testsupport::WriteFile(path, data);
        return path;
    }
};

using testsupport::ScopedEnv;

std::string ReadAll(std::istream& in) {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// --- the compiler's tree ------------------------------------------------------------------

TEST(ResourceCompiler, OrdersNamedEntriesFirstAndEachGroupAsTheFormatRequires) {
    const std::vector<Resource> resources = {
        {cptlib::kRtRcData, 9, 0, "a"},
        {cptlib::kRtRcData, "zeta", 0, "b"},
        {cptlib::kRtRcData, 3, 0, "c"},
        {cptlib::kRtRcData, "ALPHA", 0, "d"},
        {cptlib::kRtRcData, "_VRN_VERIFY", 0, "e"},
        {"ZQ_XML_STRING", 1, 0, "f"},
        {"ABC", 1, 0, "g"},
        {cptlib::kRtIcon, 1, 0, "h"},
    };
    const std::string tree = rescomp::BuildResourceTree(resources);
    const Bytes bytes = ToBytes(tree);
    // Root: two named types, then two numbered ones.
    EXPECT_EQ(bytes[12] | (bytes[13] << 8), 2);
    EXPECT_EQ(bytes[14] | (bytes[15] << 8), 2);

    const auto reader = cptlib::ResourceTree::FromSection(bytes);
    std::vector<cptlib::ResourceInfo> all;
    ASSERT_EQ(reader.EnumAll(all), cptlib::kHrOk);
    std::vector<std::string> order;
    for (const auto& info : all)
        order.push_back(info.type.ToString() + "/" + info.name.ToString() + "=" +
                        Text(reader.Bytes(info.data)));
    // Names are upper-cased; '_' (0x5F) sorts after the letters.
    EXPECT_EQ(order, (std::vector<std::string>{"ABC/#1=g", "ZQ_XML_STRING/#1=f", "#3/#1=h",
                                               "#10/ALPHA=d", "#10/ZETA=b", "#10/_VRN_VERIFY=e",
                                               "#10/#3=c", "#10/#9=a"}));
    // Data is 8-byte aligned and addressed from the tree's start.
    for (const auto& info : all)
        EXPECT_EQ(info.data.offset % 8, 0u);
}

TEST(ResourceCompiler, AddressesDataFromTheBaseAddress) {
    const std::vector<Resource> resources = {{cptlib::kRtRcData, 1, 0, "payload"}};
    const Bytes at0 = ToBytes(rescomp::BuildResourceTree(resources, 0));
    const Bytes at1000 = ToBytes(rescomp::BuildResourceTree(resources, 0x1000));
    ASSERT_EQ(at0.size(), at1000.size());
    // The one data entry follows the three directories of one entry each.
    const std::size_t dataEntry = 3 * (16 + 8);
    const std::uint32_t offset = Get32(at0, dataEntry);
    EXPECT_EQ(Get32(at1000, dataEntry), offset + 0x1000);
    EXPECT_EQ(Get32(at0, dataEntry + 4), 7u);
    EXPECT_EQ(Text(std::span(at0).subspan(offset, 7)), "payload");
}

TEST(ResourceCompiler, RefusesDuplicates) {
    const std::vector<Resource> resources = {{cptlib::kRtRcData, "slot", 0, "a"},
                                             {cptlib::kRtRcData, "SLOT", 0, "b"}};
    EXPECT_THROW(rescomp::BuildResourceTree(resources), rescomp::CompileError);
}

TEST(ResourceCompiler, SplitsAnIconIntoImagesAndTheirDirectory) {
    const std::string ico = Ico({{16, "sixteen"}, {48, "forty-eight"}});
    const auto resources = rescomp::IconResources(ico, 128, 1033, 5);
    ASSERT_EQ(resources.size(), 3u);
    EXPECT_EQ(resources[0].type.id, cptlib::kRtIcon);
    EXPECT_EQ(resources[0].name.id, 5);
    EXPECT_EQ(resources[0].data, "sixteen");
    EXPECT_EQ(resources[1].name.id, 6);
    EXPECT_EQ(resources[1].data, "forty-eight");
    const auto& group = resources[2];
    EXPECT_EQ(group.type.id, cptlib::kRtGroupIcon);
    EXPECT_EQ(group.name.id, 128);
    EXPECT_EQ(group.language, 1033);
    const Bytes g = ToBytes(group.data);
    ASSERT_EQ(g.size(), 6u + 2 * 14);
    EXPECT_EQ(g[2], 1);
    EXPECT_EQ(g[4], 2);
    // Each entry: the file's first 12 bytes (width 48 in the second), then the image number.
    EXPECT_EQ(g[6 + 14], 48);
    EXPECT_EQ(Get32(g, 6 + 14 + 8), 11u);
    EXPECT_EQ(g[6 + 12] | (g[6 + 13] << 8), 5);
    EXPECT_EQ(g[6 + 14 + 12] | (g[6 + 14 + 13] << 8), 6);
}

TEST(ResourceCompiler, RefusesDamagedIcons) {
    std::string outside = Ico({{16, "abc"}});
    outside[6 + 8] = 100; // length beyond the file
    const std::string cases[] = {"", std::string("\0\0\2\0\1\0", 6), std::string("\0\0\1\0\2\0", 6),
                                 outside, Ico({{16, ""}})};
    for (const auto& ico : cases)
        EXPECT_THROW(rescomp::IconResources(ico, 1, 0, 1), rescomp::CompileError)
            << testing::PrintToString(ico);
}

class ManifestTest : public FileFixture {
protected:
    std::vector<Resource> Load(const std::string& text) {
        Write("app.ico", ToBytes(Ico({{16, "img16"}, {32, "img32"}})));
        Write("table.xml", ToBytes("<t/>"));
        const auto path = Write("r.manifest", ToBytes(text));
        std::vector<std::filesystem::path> inputs;
        auto result = rescomp::LoadManifest(path, inputs);
        inputs_ = inputs;
        return result;
    }
    std::vector<std::filesystem::path> inputs_;
};

TEST_F(ManifestTest, ReadsEveryKindOfSource) {
    const auto resources = Load("# comment\n"
                                "\n"
                                "RT_MANIFEST 1 1033 file:table.xml\n"
                                "  RT_GROUP_ICON  128 1033 icon:app.ico  \n"
                                "ZQ_XML_STRING 1 1033 file:table.xml\n"
                                "RT_RCDATA _vrn_verify 0 zero:8\n"
                                "10 VRNID 0 zero:256\n");
    ASSERT_EQ(resources.size(), 7u);
    EXPECT_EQ(resources[0].type.id, cptlib::kRtManifest);
    EXPECT_EQ(resources[0].data, "<t/>");
    EXPECT_EQ(resources[1].type.id, cptlib::kRtIcon);
    EXPECT_EQ(resources[1].name.id, 1);
    EXPECT_EQ(resources[2].name.id, 2);
    EXPECT_EQ(resources[3].type.id, cptlib::kRtGroupIcon);
    EXPECT_EQ(resources[4].type.name, "ZQ_XML_STRING");
    EXPECT_EQ(resources[4].language, 1033);
    EXPECT_EQ(resources[5].name.name, "_VRN_VERIFY");
    EXPECT_EQ(resources[5].data, std::string(8, '\0'));
    EXPECT_EQ(resources[6].type.id, cptlib::kRtRcData);
    EXPECT_EQ(resources[6].data.size(), 256u);
    // The dependency list: the manifest and each file once per use.
    EXPECT_EQ(inputs_.size(), 4u);
    EXPECT_EQ(inputs_.front().filename(), "r.manifest");
}

TEST_F(ManifestTest, NamesTheLineOfAnError) {
    const std::pair<const char*, const char*> cases[] = {
        {"RT_RCDATA X 0\n", ":1: expected TYPE NAME LANGUAGE SOURCE"},
        {"# ok\nRT_RCDATA X 0 paper:1\n", ":2: unknown source kind 'paper'"},
        {"RT_RCDATA X 0 zero:\n", ":1: source 'zero:' is not KIND:ARGUMENT"},
        {"RT_RCDATA X 0 zero:1x\n", ":1: '1x' is not a size"},
        {"RT_RCDATA X 70000 zero:1\n", ":1: language '70000' is not a number"},
        {"RT_RCDATA 9X 0 zero:1\n", ":1: name '9X' is neither a number nor a name"},
        {"RT_RCDATA X-Y 0 zero:1\n", ":1: name 'X-Y' is neither"},
        {"RT_RCDATA X 0 icon:app.ico\n", ":1: an icon source needs the type RT_GROUP_ICON"},
        {"RT_RCDATA X 0 file:missing.xml\n", ":1: cannot open '"},
    };
    for (const auto& [text, expected] : cases) {
        try {
            Load(text);
            ADD_FAILURE() << "no error for " << text;
        } catch (const rescomp::CompileError& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("r.manifest") + expected),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST_F(ManifestTest, TheProjectManifestCompiles) {
    std::vector<std::filesystem::path> inputs;
    const auto resources =
        rescomp::LoadManifest(SFX_SOURCE_DIR "/resources/resources.manifest", inputs);
    const Bytes tree = ToBytes(rescomp::BuildResourceTree(resources));
    const auto reader = cptlib::ResourceTree::FromSection(tree);
    const std::pair<const char*, std::uint32_t> slots[] = {
        {"_VRN_VERIFY", 8}, {"VRNID", 256}, {"VRNID2", 256}, {"ZQ_BRINDLE_PHASH", 34}};
    for (const auto& [name, size] : slots) {
        cptlib::ResourceData data;
        ASSERT_EQ(reader.Find(cptlib::kRtRcData, name, {}, data), cptlib::kHrOk) << name;
        EXPECT_EQ(data.size, size);
        EXPECT_EQ(data.language, 0);
        const auto bytes = reader.Bytes(data);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](auto b) { return b == 0; }));
    }
    const std::uint16_t english[] = {1033};
    cptlib::ResourceData data;
    EXPECT_EQ(reader.Find("ZQ_XML_STRING", 1, english, data), cptlib::kHrOk);
    EXPECT_EQ(data.language, 1033);
    EXPECT_EQ(reader.Find(cptlib::kRtManifest, 1, english, data), cptlib::kHrOk);
    EXPECT_EQ(reader.Find(cptlib::kRtGroupIcon, 128, english, data), cptlib::kHrOk);
    EXPECT_EQ(data.size, 6u + 5 * 14); // 16, 32, 48, 64 and 96 pixels
}

// --- reading program files -------------------------------------------------------------------

class ReadFileResourceTest : public FileFixture {};

TEST_F(ReadFileResourceTest, ReadsSlotsFromPeAndElfFiles) {
    const std::pair<const char*, Bytes> files[] = {
        {"pe32", MakePe(StubResources(), false)},
        {"pe32plus", MakePe(StubResources(), true)},
        {"elf32", MakeElf(StubResources(), false)},
        {"elf64", MakeElf(StubResources(), true)},
        {"elf64be", MakeElf(StubResources(), true, true)},
    };
    for (const auto& [name, image] : files) {
        SCOPED_TRACE(name);
        const auto path = Write(name, image);
        std::string bytes;
        std::uint32_t size = 0;
        ASSERT_EQ(cptlib::ReadFileResource(path, "_VRN_VERIFY", bytes, &size), cptlib::kHrOk);
        EXPECT_EQ(bytes, std::string("\x10\x20\x30\0\0\0\0\0", 8));
        EXPECT_EQ(size, 8u);
        ASSERT_EQ(cptlib::ReadFileResource(path, "ZQ_BRINDLE_PHASH", bytes), cptlib::kHrOk);
        EXPECT_EQ(bytes, std::string(34, '\0'));
        // Names are compared as the platform does, without regard to case; "#7" is the number.
        ASSERT_EQ(cptlib::ReadFileResource(path, "vrnid", bytes), cptlib::kHrOk);
        EXPECT_EQ(bytes.size(), 256u);
        ASSERT_EQ(cptlib::ReadFileResource(path, "#7", bytes), cptlib::kHrOk);
        EXPECT_EQ(bytes, "seven");
        EXPECT_EQ(cptlib::ReadFileResource(path, "VRNID2", bytes, &size), kNameNotFound);
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(size, 0u);

        std::vector<std::string> names;
        ASSERT_EQ(cptlib::EnumRcDataNames(path, names), cptlib::kHrOk);
        EXPECT_EQ(names,
                  (std::vector<std::string>{"VRNID", "ZQ_BRINDLE_PHASH", "_VRN_VERIFY", "#7"}));

        // The file offset points at the bytes themselves, for writing in place.
        std::uint64_t offset = 0;
        ASSERT_EQ(cptlib::LocateFileResource(path, cptlib::kRtRcData, "_VRN_VERIFY", std::nullopt,
                                             offset, size),
                  cptlib::kHrOk);
        ASSERT_LE(offset + size, image.size());
        EXPECT_EQ(Text(std::span(image).subspan(offset, size)),
                  std::string("\x10\x20\x30\0\0\0\0\0", 8));
    }
}

TEST_F(ReadFileResourceTest, RefusesFilesThatAreNoPrograms) {
    const auto text = Write("notes.txt", ToBytes("MY notes"));
    const auto empty = Write("empty", {});
    const auto one = Write("one", {'M'});
    for (const auto& path : {text, empty, one}) {
        std::string bytes;
        std::vector<std::string> names;
        EXPECT_EQ(cptlib::ReadFileResource(path, "VRNID", bytes),
                  cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND);
        EXPECT_EQ(cptlib::EnumRcDataNames(path, names), cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND);
    }
    std::string bytes;
    EXPECT_EQ(cptlib::ReadFileResource(folder_ / "missing.exe", "VRNID", bytes),
              cptlib::HResultFromWin32(cptlib::kErrorFileNotFound));
}

TEST_F(ReadFileResourceTest, AProgramWithoutRcDataHasNoMoreItems) {
    const std::vector<Resource> onlyStrings = {{"ZQ_XML_STRING", 1, 1033, "<en/>"}};
    const auto pe = Write("pe", MakePe(onlyStrings));
    Bytes noResources = MakePe(onlyStrings);
    Put32(noResources, 0x80 + 24 + 96 + 16, 0); // resource directory entry cleared
    const auto bare = Write("bare", noResources);
    for (const auto& path : {pe, bare}) {
        std::vector<std::string> names{"stale"};
        EXPECT_EQ(cptlib::EnumRcDataNames(path, names), cptlib::HRESULT_NO_MORE_ITEMS);
        EXPECT_TRUE(names.empty());
    }
    std::string bytes;
    EXPECT_EQ(cptlib::ReadFileResource(pe, "VRNID", bytes), kTypeNotFound);
    EXPECT_EQ(cptlib::ReadFileResource(bare, "VRNID", bytes),
              cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND);
}

// This test program as a file whose section headers lie in the first 100 MiB that the reader
// maps. A sanitizer build outgrows that even without symbols, so its resource section is copied
// alone into an ELF file of its own, at the same address, behind the same kind of headers.
std::filesystem::path OwnImageOnDisk() {
    const auto self = cptlib::platform::GetModulePath();
    if (std::filesystem::file_size(self) < 0x6400000)
        return self;
    static const testsupport::TempDir folder;
    const auto copy = folder / "unit_tests";
    if (!std::filesystem::exists(copy)) {
        const std::string objcopy = cptlib::platform::FindProgram("objcopy");
        EXPECT_FALSE(objcopy.empty());
        EXPECT_EQ(
            testsupport::RunProcess({objcopy, "--only-section=.rsrc", self.string(), copy.string()})
                .status,
            0);
    }
    return copy;
}

// Our own program carries the project's tree: on disk through the ELF section headers, and in
// memory through the linked section; both must agree.
TEST(OwnImage, CarriesTheZeroFilledSlots) {
    const auto self = OwnImageOnDisk();
    std::vector<std::string> names;
    ASSERT_EQ(cptlib::EnumRcDataNames(self, names), cptlib::kHrOk);
    EXPECT_EQ(names, (std::vector<std::string>{"VRNID", "VRNID2", "ZQ_BRINDLE_PHASH", "_VRN_DIGEST",
                                               "_VRN_VERIFY"}));
    const std::pair<const char*, std::size_t> slots[] = {{"_VRN_VERIFY", 8},
                                                         {"_VRN_DIGEST", 32},
                                                         {"VRNID", 256},
                                                         {"VRNID2", 256},
                                                         {"ZQ_BRINDLE_PHASH", 34}};
    for (const auto& [name, size] : slots) {
        std::string bytes;
        ASSERT_EQ(cptlib::ReadFileResource(self, name, bytes), cptlib::kHrOk) << name;
        EXPECT_EQ(bytes, std::string(size, '\0')) << name;
    }
}

TEST(OwnImage, StreamsTheEnglishTableInPlace) {
    const std::string expected = testsupport::ReadFile(testsupport::StringTableFile("en-US.xml"));
    ASSERT_FALSE(expected.empty());

    const cptlib::ResourceLocation location{{}, "ZQ_XML_STRING", 1, 1033};
    const auto stream = cptlib::CreateStreamFromResource(location, std::ios_base::badbit);
    EXPECT_EQ(stream->exceptions(), std::ios_base::badbit);
    EXPECT_EQ(ReadAll(*stream), expected);
    // The same bytes through the file on disk.
    cptlib::ResourceLocation onDisk = location;
    onDisk.module = OwnImageOnDisk();
    EXPECT_EQ(ReadAll(*cptlib::CreateStreamFromResource(onDisk, {})), expected);

    // Seeking back re-reads.
    stream->clear();
    stream->seekg(3);
    std::string start(5, '\0');
    stream->read(start.data(), 5);
    EXPECT_EQ(start, "<?xml");
}

TEST(OwnImage, AMissingResourceNamesItsLocation) {
    const std::string self = cptlib::platform::GetModulePath().string();
    struct Case {
        cptlib::ResourceLocation location;
        std::string path;
        int code;
    };
    const Case cases[] = {
        {{{}, "ZQ_XML_STRUNG", 1, 1031},
         self + "\\resType:ZQ_XML_STRUNG\\resID:#1\\lcid:1031",
         1813},
        {{{}, cptlib::kRtRcData, "NOPE", std::nullopt}, self + "\\resType:#10\\resID:NOPE", 1814},
        {{"/nonexistent/setup.bin", "ZQ_XML_STRING", 1, std::nullopt},
         "/nonexistent/setup.bin\\resType:ZQ_XML_STRING\\resID:#1",
         2},
    };
    for (const auto& c : cases) {
        try {
            cptlib::CreateStreamFromResource(c.location, {});
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const cptlib::AppResourceError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Failed to load resource", 0), 0u) << e.what();
            EXPECT_EQ(e.code(), cptlib::MakeWin32Error(static_cast<std::uint32_t>(c.code)));
            const auto* path = boost::get_error_info<cptlib::tag_errinfo_path>(e);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(path->string(), c.path);
        }
    }
}

// --- language choice -----------------------------------------------------------------------

class LanguageTest : public FileFixture {
protected:
    std::string Table(std::optional<std::uint16_t> language,
                      const std::vector<std::uint16_t>& carried = {1041, 7, 1033}) {
        std::vector<Resource> resources;
        for (const std::uint16_t id : carried)
            resources.push_back({"ZQ_XML_STRING", 1, id, std::to_string(id)});
        resources.push_back({cptlib::kRtRcData, "VRNID", 0, "slot"});
        const auto path = Write("tables" + std::to_string(counter_++), MakePe(resources));
        return ReadAll(*cptlib::CreateStreamFromResource({path, "ZQ_XML_STRING", 1, language}, {}));
    }
    int counter_ = 0;
};

TEST_F(LanguageTest, ExplicitLanguageFallsBackToItsNeutralThenEnglishThenTheFirst) {
    const std::pair<std::uint16_t, const char*> cases[] = {
        {1041, "1041"}, // present
        {1031, "7"},    // de-DE finds the German table
        {3079, "7"},    // de-AT too
        {7, "7"},       //
        {1060, "1033"}, // sl-SI: none of its own, so en-US
        {2057, "1033"}, // en-GB: neutral 9 is absent, so en-US
        {0, "1033"},    //
    };
    for (const auto& [language, expected] : cases)
        EXPECT_EQ(Table(language), expected) << language;
    // Without en-US the first table in directory order (lowest id) answers.
    EXPECT_EQ(Table(1060, {2052, 1041}), "1041");
}

TEST_F(LanguageTest, WithoutLanguageTheUsersLanguageComesFirst) {
    ScopedEnv messages("LC_MESSAGES", "C");
    ScopedEnv lang("LANG", "C");
    {
        ScopedEnv all("LC_ALL", "de_AT.UTF-8");
        EXPECT_EQ(Table(std::nullopt), "7");
    }
    {
        ScopedEnv all("LC_ALL", "ja_JP.UTF-8");
        EXPECT_EQ(Table(std::nullopt), "1041");
    }
    {
        ScopedEnv all("LC_ALL", "C");
        EXPECT_EQ(Table(std::nullopt), "1033");
        EXPECT_EQ(Table(std::nullopt, {2052, 1041}), "1041");
    }
    // The slots are neutral and found by either rule.
    std::string bytes;
    const auto path = Write("slots", MakePe({{cptlib::kRtRcData, "VRNID", 0, "slot"}}));
    ScopedEnv all("LC_ALL", "fr_FR.UTF-8");
    EXPECT_EQ(cptlib::ReadFileResource(path, "VRNID", bytes), cptlib::kHrOk);
    EXPECT_EQ(bytes, "slot");
}

TEST(LanguageCandidates, FollowTheFallbackOrder) {
    using V = std::vector<std::uint16_t>;
    EXPECT_EQ(cptlib::LanguageCandidates(1031, 1041), (V{1031, 7, 1033}));
    EXPECT_EQ(cptlib::LanguageCandidates(std::nullopt, 3082), (V{3082, 10, 1033}));
    EXPECT_EQ(cptlib::LanguageCandidates(std::nullopt, std::nullopt), (V{1033}));
    EXPECT_EQ(cptlib::LanguageCandidates(1033, std::nullopt), (V{1033, 9}));
}

TEST(LanguageCandidates, UsersLanguagesInOrderChineseByScriptBareLanguagesWithACountry) {
    using V = std::vector<std::uint16_t>;
    struct Case {
        V userLanguages;
        V expected;
    };
    const Case cases[] = {
        {{3076}, {3076, 1028, 4, 1033}},          // zh-HK: traditional
        {{5124}, {5124, 1028, 4, 1033}},          // zh-MO
        {{0x7C04}, {0x7C04, 1028, 4, 1033}},      // zh-Hant
        {{4100}, {4100, 2052, 4, 1033}},          // zh-SG: simplified
        {{4}, {4, 2052, 1033}},                   // zh-Hans
        {{0x11, 7}, {0x11, 1041, 7, 1031, 1033}}, // ja, de
        {{0x7C14}, {0x7C14, 1044, 0x14, 1033}},   // nb
        {{3079, 1041}, {3079, 7, 1041, 0x11, 1033}},
        {{}, {1033}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cptlib::LanguageCandidates(std::nullopt, c.userLanguages), c.expected)
            << c.userLanguages.size();
    // A language given wins over the user's.
    EXPECT_EQ(cptlib::LanguageCandidates(3076, V{1031}), (V{3076, 1028, 4, 1033}));
}

// --- damaged and hostile files -------------------------------------------------------------

struct Damage {
    const char* what;
    std::function<void(Bytes&)> apply;
    HRESULT open;   // result of opening the tree
    HRESULT lookup; // result of finding VRNID when the tree opened
};

// Offsets inside the PE of MakePe(StubResources()): the tree starts at kRsrcFile.
std::size_t PeTreeEntry(std::size_t i) {
    return kRsrcFile + 16 + 8 * i;
}

TEST(HostileFiles, DamagedHeadersAndTreesGiveErrors) {
    const std::size_t pe = 0x80, opt = pe + 24, sections = opt + 224;
    const Damage cases[] = {
        {"header offset beyond the file", [](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0u); }, kBadFormat,
         0},
        {"no PE signature", [&](Bytes& b) { b[pe] = 'X'; }, kBadFormat, 0},
        {"unknown optional header", [&](Bytes& b) { Put16(b, opt, 0x999); }, kBadFormat, 0},
        {"optional header beyond the file", [&](Bytes& b) { Put16(b, pe + 20, 0xFFFF); },
         kBadFormat, 0},
        {"section table beyond the file", [&](Bytes& b) { Put16(b, pe + 6, 0xFFFF); }, kBadFormat,
         0},
        {"two data directories", [&](Bytes& b) { Put32(b, opt + 92, 2); },
         cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND, 0},
        {"tree address in no section", [&](Bytes& b) { Put32(b, opt + 96 + 16, 0x9000); },
         cptlib::HRESULT_INVALID_DATA, 0},
        {"section raw data beyond the file",
         [&](Bytes& b) { Put32(b, sections + 40 + 20, 0x7FFFFFF0u); }, cptlib::HRESULT_INVALID_DATA,
         0},
        {"huge entry count", [](Bytes& b) { Put16(b, kRsrcFile + 14, 0xFFFF); }, cptlib::kHrOk,
         cptlib::HRESULT_INVALID_DATA},
        {"type directory beyond the tree",
         [](Bytes& b) { Put32(b, PeTreeEntry(2) + 4, 0x8FFFFFF0u); }, cptlib::kHrOk,
         cptlib::HRESULT_INVALID_DATA},
        {"type entry pointing at data",
         [](Bytes& b) { Put32(b, PeTreeEntry(2) + 4, Get32(b, PeTreeEntry(2) + 4) & 0x7FFFFFFF); },
         cptlib::kHrOk, cptlib::HRESULT_INVALID_DATA},
        {"type directory pointing at the root (a loop)",
         [](Bytes& b) { Put32(b, PeTreeEntry(2) + 4, 0x80000000u); }, cptlib::kHrOk, kNameNotFound},
        {"language directory pointing at the root (a loop)",
         [](Bytes& b) {
             const std::uint32_t names = Get32(b, PeTreeEntry(2) + 4) & 0x7FFFFFFF;
             Put32(b, kRsrcFile + names + 16 + 4, 0x80000000u);
         },
         cptlib::kHrOk, cptlib::HRESULT_INVALID_DATA},
        {"name string beyond the tree",
         [](Bytes& b) {
             // The first entry under kRtRcData is the named VRNID.
             const std::uint32_t names = Get32(b, PeTreeEntry(2) + 4) & 0x7FFFFFFF;
             Put32(b, kRsrcFile + names + 16, 0x80000000u | 0x7FFFFF00u);
         },
         cptlib::kHrOk, cptlib::HRESULT_INVALID_DATA},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes image = MakePe(StubResources());
        c.apply(image);
        cptlib::ResourceTree tree;
        ASSERT_EQ(cptlib::ResourceTree::Open(image, tree), c.open);
        if (c.open != cptlib::kHrOk)
            continue;
        cptlib::ResourceData data;
        EXPECT_EQ(tree.Find(cptlib::kRtRcData, "VRNID", {}, data), c.lookup);
    }
}

TEST(HostileFiles, DamagedDataEntriesGiveErrors) {
    // One resource: the data entry follows the three directories.
    const std::vector<Resource> one = {{cptlib::kRtRcData, 5, 0, "abc"}};
    const std::size_t dataEntry = kRsrcFile + 3 * 24;
    const std::pair<const char*, std::function<void(Bytes&)>> cases[] = {
        {"address in no section", [&](Bytes& b) { Put32(b, dataEntry, 0x50000); }},
        {"size beyond the section", [&](Bytes& b) { Put32(b, dataEntry + 4, 0x10000); }},
        {"size wraps around", [&](Bytes& b) { Put32(b, dataEntry + 4, 0xFFFFFFFFu); }},
        {"language entry pointing at a directory",
         [&](Bytes& b) { Put32(b, kRsrcFile + 2 * 24 + 20, 0x80000000u); }},
    };
    for (const auto& [what, apply] : cases) {
        SCOPED_TRACE(what);
        Bytes image = MakePe(one);
        apply(image);
        cptlib::ResourceTree tree;
        ASSERT_EQ(cptlib::ResourceTree::Open(image, tree), cptlib::kHrOk);
        cptlib::ResourceData data;
        EXPECT_EQ(tree.Find(cptlib::kRtRcData, 5, {}, data), cptlib::HRESULT_INVALID_DATA);
        std::vector<cptlib::ResourceInfo> all;
        EXPECT_EQ(tree.EnumAll(all), cptlib::HRESULT_INVALID_DATA);
    }
}

TEST(HostileFiles, DamagedElfHeadersGiveErrors) {
    for (const bool is64 : {false, true}) {
        const Bytes good = MakeElf(StubResources(), is64);
        const std::size_t shoff = is64 ? 0x28 : 0x20, shnum = is64 ? 0x3C : 0x30,
                          shstrndx = is64 ? 0x3E : 0x32, entsize = is64 ? 0x3A : 0x2E;
        const std::size_t headers = is64 ? Get32(good, shoff) : Get32(good, shoff);
        const std::size_t entry = is64 ? 64 : 40;
        const std::size_t rsrcSize = headers + 2 * entry + (is64 ? 0x20 : 0x14);
        const Damage cases[] = {
            {"unknown class", [](Bytes& b) { b[4] = 3; }, kBadFormat, 0},
            {"section headers beyond the file", [&](Bytes& b) { Put32(b, shoff, 0xFFFFFF00u); },
             kBadFormat, 0},
            {"entry size too small", [&](Bytes& b) { Put16(b, entsize, 8); }, kBadFormat, 0},
            {"too many sections", [&](Bytes& b) { Put16(b, shnum, 0x7FFF); }, kBadFormat, 0},
            {"name table index out of range", [&](Bytes& b) { Put16(b, shstrndx, 7); }, kBadFormat,
             0},
            {".rsrc beyond the file", [&](Bytes& b) { Put32(b, rsrcSize, 0x7FFFFFFFu); },
             kBadFormat, 0},
            {"no section headers", [&](Bytes& b) { Put32(b, shoff, 0); },
             cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND, 0},
            {"section renamed",
             [&](Bytes& b) {
                 const std::string name(".rsrc");
                 *std::search(b.begin() + kElfTree, b.end(), name.begin(), name.end()) = 'x';
             },
             cptlib::HRESULT_RESOURCE_DATA_NOT_FOUND, 0},
            {"root directory cut off", [&](Bytes& b) { Put32(b, rsrcSize, 8); }, cptlib::kHrOk,
             cptlib::HRESULT_INVALID_DATA},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (is64 ? " (64-bit)" : " (32-bit)"));
            Bytes image = good;
            c.apply(image);
            cptlib::ResourceTree tree;
            ASSERT_EQ(cptlib::ResourceTree::Open(image, tree), c.open);
            if (c.open != cptlib::kHrOk)
                continue;
            cptlib::ResourceData data;
            EXPECT_EQ(tree.Find(cptlib::kRtRcData, "VRNID", {}, data), c.lookup);
        }
    }
}

// Directories shared by many parents would make a full walk visit billions of entries.
TEST(HostileFiles, SharedDirectoriesDoNotMakeAWalkExplode) {
    const std::size_t n = 4000;
    Bytes tree(16 + 8 * n + 16, 0);
    Put16(tree, 14, static_cast<std::uint16_t>(n));
    for (std::size_t i = 0; i < n; ++i) {
        Put32(tree, 16 + 8 * i, static_cast<std::uint32_t>(i + 1));
        Put32(tree, 16 + 8 * i + 4, 0x80000000u); // every type is the root again
    }
    const auto reader = cptlib::ResourceTree::FromSection(tree);
    const auto started = std::chrono::steady_clock::now();
    std::vector<cptlib::ResourceInfo> all;
    EXPECT_EQ(reader.EnumAll(all), cptlib::HRESULT_INVALID_DATA);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

// Every cut and random damage either fails or yields bytes inside the image.
TEST(HostileFiles, TruncatedAndMutatedImagesStayInBounds) {
    const Bytes images[] = {MakePe(StubResources()), MakePe(StubResources(), true),
                            MakeElf(StubResources(), false), MakeElf(StubResources(), true)};
    const auto check = [](const Bytes& image) {
        cptlib::ResourceTree tree;
        if (cptlib::Failed(cptlib::ResourceTree::Open(image, tree)))
            return;
        std::vector<cptlib::ResourceInfo> all;
        if (tree.EnumAll(all) == cptlib::kHrOk) {
            for (const auto& info : all)
                ASSERT_LE(info.data.offset + info.data.size, image.size());
        }
        cptlib::ResourceData data;
        if (tree.Find("ZQ_XML_STRING", 1, {}, data) == cptlib::kHrOk) {
            ASSERT_LE(data.offset + data.size, image.size());
        }
    };
    for (const Bytes& good : images) {
        for (std::size_t cut = 0; cut < good.size(); ++cut)
            check(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
        std::mt19937 random(7);
        for (int round = 0; round < 3000; ++round) {
            Bytes image = good;
            for (int k = 0; k < 4; ++k)
                image[random() % image.size()] = static_cast<std::uint8_t>(random());
            check(image);
        }
    }
}

} // namespace
