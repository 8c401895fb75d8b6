#include "launcher/SelfCheck.h"

#include "cptlib/platform/File.h"
#include "cptlib/platform/MappedFileView.h"
#include "format/ImageEnd.h"
#include "format/SizeSlot.h"
#include "launcher/Format.h"

#include <algorithm>
#include <optional>

namespace sfx {

namespace {

// Only the headers are needed.
constexpr std::uint64_t kHeaderViewLimit = 0x100000;

std::string ReadFailure(const cptlib::IStringResources& strings, cptlib::HRESULT hr) {
    return strings.GetText("SfxErrorReadArchive") + FormatText(" (%d)", hr);
}

} // namespace

std::string VerifyOwnFileSize(const std::filesystem::path& path,
                              const cptlib::IStringResources& strings) {
    cptlib::platform::FileDescriptor file;
    const cptlib::HRESULT hr = cptlib::platform::OpenFileForRead(file, path);
    if (cptlib::Failed(hr))
        return ReadFailure(strings, hr);
    return VerifyOwnFileSize(file, strings);
}

std::string VerifyOwnFileSize(const cptlib::platform::FileDescriptor& file,
                              const cptlib::IStringResources& strings) {
    using namespace cptlib::platform;
    std::optional<std::uint64_t> expected;
    {
        std::uint64_t size = 0;
        cptlib::HRESULT hr = QueryFileSize(file, size);
        if (cptlib::Failed(hr))
            return ReadFailure(strings, hr);
        MappedFileView view;
        hr = view.Map(file, static_cast<std::uint32_t>(std::min(size, kHeaderViewLimit)));
        if (cptlib::Failed(hr))
            return ReadFailure(strings, hr);

        using Rule = ExpectedFileSize::Rule;
        const ExpectedFileSize rule = ExpectedFileSizeRule(view.bytes());
        switch (rule.rule) {
        case Rule::NotProgram:
            return "File does not have EXE format.";
        case Rule::BadPeSignature:
            return "Invalid PE signature.";
        case Rule::CertificateTable:
            expected = rule.size;
            break;
        case Rule::SizeSlot:
            break;
        }
    }
    if (!expected) {
        expected = ReadSizeSlot(file);
        if (!expected)
            return "Resource " + std::string(kSizeSlotName) + " is not found.";
    }

    std::uint64_t actualSize = 0;
    const bool known = cptlib::Succeeded(cptlib::platform::QueryFileSize(file, actualSize));
    if (known && actualSize == *expected)
        return {};
    const std::int64_t actual = known ? static_cast<std::int64_t>(actualSize) : -1;
    return strings.GetText("SfxErrorBadArchive") + "\n\n" +
           FormatText(strings.GetText("ErrorSize"), static_cast<std::int64_t>(*expected), actual);
}

} // namespace sfx
