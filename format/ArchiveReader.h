#pragma once
// Reading the 7z archive: the item list and total size from the headers, then every item with
// its data. The only code that knows the archive library; the build tool checks with it.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sfx {

constexpr cptlib::HRESULT kHrAbort = static_cast<cptlib::HRESULT>(0x80004004);
constexpr cptlib::HRESULT kHrNotImpl = static_cast<cptlib::HRESULT>(0x80004001);
constexpr cptlib::HRESULT kHrUnexpected = static_cast<cptlib::HRESULT>(0x8000FFFF);
constexpr cptlib::HRESULT HRESULT_CRC_ERROR = static_cast<cptlib::HRESULT>(0x80070017);
// Enciphered item data did not decode with the password given (kErrorInvalidPassword).
constexpr cptlib::HRESULT HRESULT_WRONG_PASSWORD = static_cast<cptlib::HRESULT>(0x80070056);
// The headers themselves are enciphered; nothing can be listed without a password
// (kErrorFileEncrypted).
constexpr cptlib::HRESULT HRESULT_HEADERS_ENCRYPTED = static_cast<cptlib::HRESULT>(0x80071772);
// A link that leads out of the extract folder, or an item to be made through such a link:
// refused by design (kErrorCantResolveFilename).
constexpr cptlib::HRESULT HRESULT_LINK_REFUSED = static_cast<cptlib::HRESULT>(0x80070781);

// The outcome of a reading step. A failure carries either a code (data error, CRC error,
// unsupported method, or a system error reading the file) or, with code 0, the library's text.
struct ArchiveStatus {
    cptlib::HRESULT code = cptlib::kHrOk;
    std::string text;

    bool Ok() const { return code == cptlib::kHrOk && text.empty(); }
};

enum class ArchiveItemType { File, Folder, Symlink, HardLink };

struct ArchiveItem {
    std::string name; // relative path with "/" separators, as stored
    ArchiveItemType type = ArchiveItemType::File;
    bool hasMode = false;   // the archive keeps Unix permissions for the item
    std::uint32_t mode = 0; // permission bits when hasMode
    std::uint64_t size = 0; // unpacked bytes; a link's target counts as its data
    std::string linkTarget; // Symlink: the target; HardLink: the name of the earlier item
    std::optional<std::int64_t> mtime; // seconds since 1970, when the archive keeps it
    bool special = false; // a device, socket or FIFO in the archive (extracted as a file)
};

struct ArchiveIndex {
    std::vector<ArchiveItem> items;
    std::uint64_t totalSize = 0; // all unpacked bytes, link targets included
};

class IArchiveReader {
public:
    virtual ~IArchiveReader() = default;

    // First pass: every item and the total unpacked size, from the headers alone.
    virtual ArchiveStatus ReadIndex(ArchiveIndex& index) = 0;

    // Extraction pass: the next item with its link target; `more` is false at the end.
    virtual ArchiveStatus NextItem(ArchiveItem& item, bool& more) = 0;

    // The next piece of the current item's data, valid until the next call; empty at the end
    // of the item.
    virtual ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) = 0;

    // Asked (from the reading thread) during long steps such as deriving a key: true ends
    // the step with kHrAbort, and nothing further is started ahead.
    virtual void SetCancelCheck(std::function<bool()> cancelled) { (void)cancelled; }
};

// Asked for the password each time a folder of enciphered items begins: kHrOk with the password
// in `password`, or a failure (kHrAbort when the user refused) that ends the extraction.
using PasswordSource = std::function<cptlib::HRESULT(std::string& password)>;

// A reader of the 7z archive that fills the file from `offset` on (data may follow it). Call
// it from one thread only. An archive whose headers claim more than its size allows is
// refused by the own reader alone, never handed on to the library.
// Without a password source, enciphered items fail with kHrAbort.
std::unique_ptr<IArchiveReader> MakeArchiveReader(const std::string& path, std::uint64_t offset,
                                                  PasswordSource password = {});
// The same for a file opened before; the reader reads it through a descriptor of its own that
// is opened through `file`, never through a name.
std::unique_ptr<IArchiveReader> MakeArchiveReader(const cptlib::platform::FileDescriptor& file,
                                                  std::uint64_t offset,
                                                  PasswordSource password = {});

} // namespace sfx
