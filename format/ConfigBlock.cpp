#include "format/ConfigBlock.h"

#include "cptlib/Utf.h"
#include "format/ConfigKey.h"

namespace sfx {

std::string DecryptConfigurationBlock(const std::uint8_t* block, std::size_t blockLength,
                                      const std::uint8_t* key, std::size_t keyLength) {
    if (block == nullptr || key == nullptr || keyLength != kAesKeySize ||
        blockLength <= kConfigIvSize)
        return {};
    const std::size_t n = blockLength - kConfigIvSize;
    std::string plain(n, '\0');
    const std::size_t m = AesCbcDecrypt(reinterpret_cast<std::uint8_t*>(plain.data()),
                                        block + kConfigIvSize, n, key, block);
    plain.resize(m);
    return plain;
}

namespace {

cptlib::HRESULT DecipherBlock(const MappedPayload& payload, std::string& text,
                              PayloadLayout* layout) {
    const auto key = MakeConfigKey();
    std::string plain = DecryptConfigurationBlock(
        payload.view.data() + payload.layout.blockOffset,
        static_cast<std::size_t>(payload.layout.blockSize), key.data(), key.size());
    // A damaged block or a foreign key deciphers to noise, which is as bad as a missing block.
    if (!cptlib::IsValidUtf8(plain))
        return cptlib::HRESULT_INVALID_DATA;
    text = std::move(plain);
    if (layout != nullptr)
        *layout = payload.layout;
    return cptlib::kHrOk;
}

} // namespace

cptlib::HRESULT ReadConfigurationBlock(const std::filesystem::path& path, std::string& text,
                                       PayloadLayout* layout) {
    text.clear();
    MappedPayload payload;
    const cptlib::HRESULT hr = MapPayload(path, payload);
    return cptlib::Failed(hr) ? hr : DecipherBlock(payload, text, layout);
}

cptlib::HRESULT ReadConfigurationBlock(const cptlib::platform::FileDescriptor& file,
                                       std::string& text, PayloadLayout* layout) {
    text.clear();
    MappedPayload payload;
    const cptlib::HRESULT hr = MapPayload(file, payload);
    return cptlib::Failed(hr) ? hr : DecipherBlock(payload, text, layout);
}

} // namespace sfx
