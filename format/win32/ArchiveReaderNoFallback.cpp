#include "format/ArchiveFallback.h"

#include "cptlib/Exceptions.h"
#include "cptlib/platform/OwnImage.h"

namespace sfx {

namespace {

// Every step fails alike: the own reader could not read the headers, or they name a method it
// does not decode. sfxbuild writes neither, so the archive counts as damaged.
class DeclinedReader final : public IArchiveReader {
public:
    explicit DeclinedReader(cptlib::HRESULT code) : status_{code, {}} {}
    ArchiveStatus ReadIndex(ArchiveIndex&) override { return status_; }
    ArchiveStatus NextItem(ArchiveItem&, bool& more) override {
        more = false;
        return status_;
    }
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override {
        block = {};
        return status_;
    }

private:
    ArchiveStatus status_;
};

} // namespace

std::unique_ptr<IArchiveReader> MakeFallbackReader(const std::string& path, std::uint64_t) {
    cptlib::platform::FileDescriptor file;
    const cptlib::HRESULT opened =
        cptlib::platform::OpenRegularFileForRead(file, cptlib::PathFromUtf8(path));
    return std::make_unique<DeclinedReader>(cptlib::Failed(opened) ? opened
                                                                   : cptlib::HRESULT_INVALID_DATA);
}

std::unique_ptr<IArchiveReader> MakeFallbackReader(const cptlib::platform::FileDescriptor& file,
                                                   std::uint64_t) {
    cptlib::platform::FileDescriptor own;
    const cptlib::HRESULT opened = cptlib::platform::ReopenFile(file, own);
    return std::make_unique<DeclinedReader>(cptlib::Failed(opened) ? opened
                                                                   : cptlib::HRESULT_INVALID_DATA);
}

} // namespace sfx
