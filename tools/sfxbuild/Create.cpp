#include "sfxbuild/ArchiveMethods.h"
#include "sfxbuild/Build.h"
#include "sfxbuild/Check.h"
#include "sfxbuild/OutputFile.h"

#include "cptlib/Utf.h"
#include "format/ConfigKey.h"
#include "format/DataBlock.h"
#include "format/FileDigest.h"
#include "format/ImageEnd.h"
#include "format/Payload.h"
#include "format/SevenZipSignature.h"
#include "format/SizeSlot.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

namespace sfxbuild {

namespace {

// Cipher text that happens to hold the end marker would cut the block short; a new IV fixes it.
constexpr int kIvAttempts = 8;

std::string ReadFile(const std::filesystem::path& path, const std::string& what) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec))
        throw BuildError(what + " " + Quoted(path) + " is a folder");
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BuildError("cannot open " + what + " " + Quoted(path) + ": " + std::strerror(errno));
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw BuildError("cannot read " + what + " " + Quoted(path));
    return data;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

bool Contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// The file offset of the stub's 8-byte _VRN_VERIFY slot.
std::uint64_t VerifySlot(const std::string& stub, const std::filesystem::path& path) {
    const auto offset = sfx::SizeSlotOffset(AsBytes(stub));
    if (!offset)
        throw BuildError("stub " + Quoted(path) + " has no 8-byte _VRN_VERIFY resource");
    return *offset;
}

// The archive's size, after checking that it is a whole 7z archive.
std::uint64_t CheckArchive(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw BuildError("cannot open archive " + Quoted(path) + ": " + std::strerror(errno));
    std::uint8_t header[sfx::sevenzip::kSignatureHeaderSize] = {};
    in.read(reinterpret_cast<char*>(header), sizeof header);
    const auto claimed =
        sfx::sevenzip::ArchiveSize({header, static_cast<std::size_t>(in.gcount())});
    if (!claimed)
        throw BuildError("archive " + Quoted(path) + " is not a 7z archive");
    std::error_code ec;
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec)
        throw BuildError("cannot read archive " + Quoted(path) + ": " + ec.message());
    if (*claimed > size)
        throw BuildError("archive " + Quoted(path) + " is cut short: its header gives " +
                         std::to_string(*claimed) + " bytes, the file has " + std::to_string(size));
    return size;
}

std::array<std::uint8_t, 16> RandomIv() {
    std::array<std::uint8_t, 16> iv{};
    if (RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1)
        throw BuildError("cannot draw a random initialisation vector");
    return iv;
}

// Whether `inner` is `outer` or lies below it, after resolving links and dots.
bool IsWithin(const std::filesystem::path& inner, const std::filesystem::path& outer) {
    std::error_code e1, e2;
    auto a = std::filesystem::weakly_canonical(std::filesystem::absolute(inner), e1);
    auto b = std::filesystem::weakly_canonical(std::filesystem::absolute(outer), e2);
    if (e1 || e2)
        return false;
    if (a.filename().empty())
        a = a.parent_path();
    if (b.filename().empty())
        b = b.parent_path();
    return std::mismatch(b.begin(), b.end(), a.begin(), a.end()).first == b.end();
}

// Records the digest of the finished file in its digest slot; a stub without the slot makes
// files without a digest, as before.
void WriteDigest(const std::filesystem::path& path, std::span<const std::uint8_t> image,
                 std::uint64_t size) {
    const auto layout = sfx::DigestLayoutOf(image, size);
    if (!layout)
        return;
    std::ifstream in(path, std::ios::binary);
    const auto digest = sfx::ComputeDigest(
        *layout, [&](std::uint64_t offset, std::uint8_t* out, std::size_t length) {
            in.seekg(static_cast<std::streamoff>(offset));
            in.read(reinterpret_cast<char*>(out), static_cast<std::streamsize>(length));
            return in.gcount() == static_cast<std::streamsize>(length);
        });
    if (!digest)
        throw BuildError("cannot read back " + Quoted(path) + " to record its digest");
    std::fstream out(path, std::ios::in | std::ios::out | std::ios::binary);
    out.seekp(static_cast<std::streamoff>(layout->slotOffset));
    out.write(reinterpret_cast<const char*>(digest->data()),
              static_cast<std::streamsize>(digest->size()));
    out.close();
    if (!out)
        throw BuildError("cannot write the digest into " + Quoted(path));
}

} // namespace

void Create(const CreateOptions& options) {
    const auto& out = options.output;
    const std::string config = ReadFile(options.config, "configuration");
    if (!cptlib::IsValidUtf8(config))
        throw BuildError("configuration " + Quoted(options.config) + " is not valid UTF-8");

    std::string dataBlock;
    if (options.data) {
        try {
            dataBlock = sfx::MakeDataBlock(*options.data);
        } catch (const std::invalid_argument& e) {
            throw BuildError("cannot make " + Quoted(out) + ": " + e.what());
        }
    }

    std::string stub = ReadFile(options.stub, "stub");
    const auto imageEnd = sfx::ProgramImageEnd(AsBytes(stub));
    if (!imageEnd)
        throw BuildError("stub " + Quoted(options.stub) + " is not a program file (PE or ELF)");
    stub.resize(static_cast<std::size_t>(*imageEnd));
    const std::uint64_t verifyAt = VerifySlot(stub, options.stub);
    const std::string startMarker = sfx::StartMarker(), endMarker = sfx::EndMarker();
    if (Contains(stub, startMarker))
        throw BuildError("stub " + Quoted(options.stub) + " already carries a payload");

    // The IV, then the cipher text with PKCS#7 padding (1 to 16 bytes).
    const std::uint64_t blockSize = 16 + (config.size() / 16 + 1) * 16;
    // The launcher searches only the first 20 MiB, and positions up to 20 bytes before their end.
    const std::uint64_t endMarkerAt = stub.size() + startMarker.size() + blockSize;
    if (endMarkerAt + sfx::kMarkerSearchTail >= sfx::kMarkerSearchLimit)
        throw BuildError("cannot make " + Quoted(out) +
                         ": stub and configuration block exceed the 20 MiB the launcher searches");

    std::error_code ec;
    if (options.dir && !std::filesystem::is_directory(*options.dir, ec))
        throw BuildError("folder " + Quoted(*options.dir) + " does not exist or is not a folder");
    // Links that leave the folder, taken as what they point at (--follow).
    std::vector<std::string> followed;
    if (options.check) {
        if (options.archive) {
            CheckArchive(*options.archive);
            CheckArchiveMethods(*options.archive);
        }
        Problems problems;
        bool listed = true;
        const ItemNames items =
            options.dir ? CheckFolderItems(*options.dir, problems, options.follow, &followed)
                        : CheckArchiveItems(*options.archive, problems, &listed);
        CheckConfiguration(config, options.config, items,
                           options.dir ? "the folder " + Quoted(*options.dir)
                                       : "the archive " + Quoted(*options.archive),
                           options.stub, std::cerr, problems, listed);
        // All of them at once: a maker should not need a build per mistake.
        if (problems.lines.size() == 1)
            throw BuildError(problems.lines.front());
        if (!problems.Empty()) {
            for (const std::string& line : problems.lines)
                std::cerr << "sfxbuild: " << line << "\n";
            throw BuildError(std::to_string(problems.lines.size()) + " problems; " + Quoted(out) +
                             " was not written");
        }
    } else if (options.follow && options.dir) {
        Problems ignored;
        CheckFolderItems(*options.dir, ignored, true, &followed);
    }

    // The temporary files beside the output would be packed as well.
    if (options.dir && IsWithin(out.has_parent_path() ? out.parent_path() : ".", *options.dir))
        throw BuildError("output " + Quoted(out) + " lies inside the folder " +
                         Quoted(*options.dir) + " that is packed");

    PendingFile file(out, options.cleanup);
    std::optional<WorkFolder> work;
    std::filesystem::path archive;
    const bool reproducible = options.reproducible.has_value();
    if (options.dir) {
        work.emplace(out, options.cleanup);
        archive = work->path() / "payload.7z";
        std::filesystem::path folder = *options.dir;
        const std::optional<std::int64_t> latest =
            reproducible ? options.reproducible->latestTime : std::nullopt;
        if (latest || !followed.empty()) {
            folder = work->path() / "items";
            StageFolder(*options.dir, folder, latest, followed);
        }
        MakeArchive(folder, archive, options.pack, reproducible, options.cleanup);
    } else {
        archive = *options.archive;
    }
    const std::uint64_t archiveSize = CheckArchive(archive);

    const auto key = sfx::MakeConfigKey();
    std::string block;
    for (int attempt = 0; attempt < kIvAttempts && block.empty(); ++attempt) {
        block = EncryptConfiguration(
            config, key, reproducible ? DerivedIv(config, archive, attempt) : RandomIv());
        if (Contains(block, endMarker))
            block.clear();
    }
    if (block.empty())
        throw BuildError("cannot encipher " + Quoted(options.config) + " without the end marker");

    file.Write(stub);
    file.Write(startMarker);
    file.Write(block);
    file.Write(endMarker);
    file.Append(archive);
    file.Write(dataBlock);
    const std::uint64_t size = file.Size();
    if (size != endMarkerAt + endMarker.size() + archiveSize + dataBlock.size())
        throw BuildError("archive " + Quoted(archive) + " changed while it was copied");
    file.WriteAt(verifyAt, sfx::EncodeSizeSlot(size));
    file.Close();
    WriteDigest(file.path(), AsBytes(stub), size);

    // Read the result back the way the launcher does.
    const std::string front =
        ReadFileRange(file.path(), 0, std::min(size, sfx::kMarkerSearchLimit));
    const auto layout = sfx::FindPayload(AsBytes(front));
    if (!layout || layout->startMarker != stub.size() || layout->blockSize != block.size())
        throw BuildError("cannot make " + Quoted(out) +
                         ": the launcher would not find the configuration block");
    if (!dataBlock.empty()) {
        if (size < sfx::kDataBlockWindow)
            throw BuildError("cannot make " + Quoted(out) + ": the file is shorter than " +
                             std::to_string(sfx::kDataBlockWindow) +
                             " bytes, so the launcher cannot read its data block");
        const std::uint64_t windowAt = size - sfx::kDataBlockWindow;
        sfx::DataBlockPosition found;
        if (sfx::FindDataBlockIn(
                AsBytes(ReadFileRange(file.path(), windowAt, sfx::kDataBlockWindow)), found) !=
                sfx::DataBlockSearch::Found ||
            windowAt + found.start != size - dataBlock.size())
            throw BuildError("cannot make " + Quoted(out) +
                             ": the archive holds the data block's start marker");
    }
    using std::filesystem::perms;
    file.Commit(perms::owner_all | perms::group_read | perms::group_exec | perms::others_read |
                perms::others_exec);
}

} // namespace sfxbuild
