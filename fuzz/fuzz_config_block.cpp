// The configuration block: the marker search over a launcher file's bytes, the decipher of the
// block between the markers, and the settings grammar with its lookups over arbitrary text.
#include "format/ConfigBlock.h"
#include "format/ConfigKey.h"
#include "format/Payload.h"
#include "format/SettingsStore.h"

#include "cptlib/Utf.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

namespace {

// What the launcher does with the text: parse it, then look up every section and key.
void ReadSettings(std::string_view text) {
    sfx::SettingsStore settings;
    settings.Parse(text);
    for (const std::string& section : settings.GetSectionNames()) {
        for (const std::string& key : settings.GetKeys(section)) {
            // A key that is listed is found, also in another case of its name.
            const std::string value = settings.GetString(section, key, "");
            if (settings.GetString(cptlib::ToLowerUtf8(section), cptlib::ToLowerUtf8(key), "") !=
                value)
                std::abort();
            settings.GetInt(section, key, -1);
        }
    }
    settings.GetString("Config", "Title", "");
    settings.GetInt("Config", "ExtractDialogWidth", 0);
    sfx::TrimWideSpace(text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const auto key = sfx::MakeConfigKey();
    if (const auto layout = sfx::FindPayload(bytes)) {
        if (layout->blockOffset + layout->blockSize > size || layout->archiveOffset > size ||
            layout->blockSize == 0)
            std::abort();
        const std::string plain = sfx::DecryptConfigurationBlock(
            data + layout->blockOffset, static_cast<std::size_t>(layout->blockSize), key.data(),
            key.size());
        if (cptlib::IsValidUtf8(plain))
            ReadSettings(plain);
    }
    // The block itself as cipher text, and the bytes as the deciphered text.
    sfx::DecryptConfigurationBlock(data, size, key.data(), key.size());
    ReadSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
