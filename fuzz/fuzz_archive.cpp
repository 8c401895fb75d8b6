// The whole archive-reading path over arbitrary archive bytes: the launcher's extraction worker
// reads a scratch archive file through the archive reader and writes the items into a scratch
// folder; nothing may appear outside that folder.
#include "ScratchFolder.h"
#include "launcher/ExtractThread.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Unpacked sizes above this are refused by the free-space check, so that a hostile size field
// cannot make one input write for minutes.
constexpr std::uint64_t kFreeSpace = 16u << 20;

// root/archive.7z, root/out/ (the extract folder), and nothing else in root.
const fs::path& Root() {
    static const fuzz::ScratchFolder root("sfx-fuzz-archive-");
    return root.Path();
}

void CheckNothingOutside(const fs::path& root) {
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name != "archive.7z" && name != "out") {
            std::fprintf(stderr, "extraction wrote outside its folder: %s\n", name.c_str());
            std::abort();
        }
    }
    // The extract folder itself must not have been replaced by a link.
    if (fs::is_symlink(root / "out"))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fs::path& root = Root();
    const fs::path archive = root / "archive.7z";
    {
        std::ofstream out(archive, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    const fs::path folder = root / "out";
    fs::create_directories(folder);

    sfx::ExtractionJob job;
    job.archivePath = archive.string();
    job.archiveIsLauncher = false;
    job.extractFolder = folder.string() + "/";
    job.deleteOnFailure = false;
    {
        sfx::CExtractThread thread;
        thread.SetFreeSpaceQuery([](const std::string&, std::uint64_t& free) {
            free = kFreeSpace;
            return std::uint32_t{0};
        });
        if (thread.Start(job))
            thread.Wait();
    }
    CheckNothingOutside(root);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
