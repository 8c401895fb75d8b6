#include "launcher/gui/ProductIcon.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/ErrorText.h"
#include "cptlib/resources/ResourceUtils.h"

#include <QByteArray>
#include <QImage>
#include <QPixmap>

#include <cstdint>
#include <iterator>
#include <string>

namespace sfx {

namespace {

constexpr std::uint16_t kProductIconId = 128;

std::string ReadResource(std::uint16_t type, std::uint16_t id) {
    const auto stream = cptlib::CreateStreamFromResource(
        cptlib::ResourceLocation{{}, type, id, std::nullopt}, std::ios_base::badbit);
    return std::string(std::istreambuf_iterator<char>(*stream), {});
}

std::uint32_t Le(const std::string& bytes, std::size_t at, int width) {
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

void PutLe(QByteArray& out, std::uint32_t value, int width) {
    for (int i = 0; i < width; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// One image of the group: PNG data as it is, a bitmap through a one-image .ico file.
QImage DecodeImage(const std::string& groupEntry, const std::string& data) {
    const QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
    if (bytes.startsWith("\x89PNG"))
        return QImage::fromData(bytes, "PNG");
    QByteArray ico;
    PutLe(ico, 0, 2);
    PutLe(ico, 1, 2);
    PutLe(ico, 1, 2);
    ico.append(groupEntry.data(), 12);
    PutLe(ico, 6 + 16, 4);
    ico.append(bytes);
    return QImage::fromData(ico, "ICO");
}

} // namespace

QIcon ProductIcon() {
    QIcon icon;
    try {
        const std::string group = ReadResource(cptlib::kRtGroupIcon, kProductIconId);
        constexpr std::size_t kHeader = 6, kEntry = 14;
        const std::size_t count = group.size() >= kHeader ? Le(group, 4, 2) : 0;
        for (std::size_t i = 0; i < count && kHeader + (i + 1) * kEntry <= group.size(); ++i) {
            const std::string entry = group.substr(kHeader + i * kEntry, kEntry);
            const auto id = static_cast<std::uint16_t>(Le(entry, 12, 2));
            const QImage image = DecodeImage(entry, ReadResource(cptlib::kRtIcon, id));
            if (!image.isNull())
                icon.addPixmap(QPixmap::fromImage(image));
        }
    } catch (const std::exception&) {
        SETUP_LOG(cptlib::Severity::Warning) << "No product icon: " << cptlib::ErrorText(0);
    }
    return icon;
}

} // namespace sfx
