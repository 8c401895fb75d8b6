#include "launcher/SetupCommand.h"

#include "cptlib/Utf.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/Machine.h"
#include "launcher/App.h"
#include "launcher/ProgressDialogSettings.h"

#include <cwctype>
#include <exception>
#include <optional>

namespace sfx {

namespace {

constexpr std::string_view kBase64Alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    const auto pos = kBase64Alphabet.find(c);
    return pos == std::string_view::npos ? -1 : static_cast<int>(pos);
}

// White space as the rest of the configuration handling sees it: per code point. Bytes that
// are not UTF-8 count as one character that is not white space.
bool IsSpaceAt(std::string_view text, std::size_t i, std::size_t& length) {
    char32_t cp = 0;
    length = cptlib::DecodeUtf8At(text, i, cp);
    if (length == 0) {
        length = 1;
        return false;
    }
    return std::iswspace(static_cast<std::wint_t>(cp)) != 0;
}

struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The value of the first "-x" or "/x" (either letter case) followed by white space and a run
// of other characters.
std::optional<Span> FindPackedValue(std::string_view parameters) {
    for (std::size_t i = 0; i + 1 < parameters.size(); ++i) {
        if ((parameters[i] != '-' && parameters[i] != '/') ||
            (parameters[i + 1] != 'x' && parameters[i + 1] != 'X'))
            continue;
        std::size_t j = i + 2;
        std::size_t length = 0;
        std::size_t spaces = 0;
        while (j < parameters.size() && IsSpaceAt(parameters, j, length)) {
            j += length;
            ++spaces;
        }
        if (spaces == 0)
            continue;
        const std::size_t begin = j;
        while (j < parameters.size() && !IsSpaceAt(parameters, j, length))
            j += length;
        if (j > begin)
            return Span{begin, j};
    }
    return std::nullopt;
}

void AppendPiece(std::string& text, std::string_view piece) {
    if (!text.empty())
        text += ' ';
    text += piece;
}

} // namespace

std::string EncodeBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v =
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
            static_cast<unsigned char>(bytes[i + 2]);
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += kBase64Alphabet[(v >> 6) & 63];
        out += kBase64Alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kBase64Alphabet[(v >> 18) & 63];
        out += kBase64Alphabet[(v >> 12) & 63];
        out += rest == 2 ? kBase64Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string DecodeBase64Prefix(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int value = Base64Value(c);
        if (value < 0)
            break; // "=" included: it is outside the alphabet
        bits = (bits << 6) | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::string SetupFileName(const SettingsStore& settings, const std::string& culture,
                          bool is32BitOn64Bit) {
    const std::string section = "LANG_" + culture;
    std::string file = settings.GetString(section, "SetupFileName",
                                          settings.GetString("main", "SetupFileName", "setup.exe"));
    if (is32BitOn64Bit) {
        std::string file64 = settings.GetString(section, "SetupFileName64",
                                                settings.GetString("main", "SetupFileName64", ""));
        if (!file64.empty())
            file = std::move(file64);
    }
    return file;
}

std::string ReplaceExtractDir(std::string_view text, const std::string& extractDir) {
    constexpr std::string_view kName = "[ExtractDir]";
    std::string out;
    std::size_t position = 0;
    for (std::size_t found; (found = text.find(kName, position)) != std::string_view::npos;
         position = found + kName.size()) {
        out.append(text.substr(position, found - position));
        out += extractDir;
    }
    out.append(text.substr(position));
    return out;
}

void AppendPackedArguments(std::string& parameters, std::string_view addonDirPacked,
                           const std::vector<std::string>& packedArguments) {
    std::string packed;
    if (!addonDirPacked.empty()) {
        if (addonDirPacked.back() == '/' || addonDirPacked.back() == '\\')
            addonDirPacked.remove_suffix(1);
        AppendPiece(packed, QuoteArgument("/AddonDir"));
        AppendPiece(packed, QuoteArgument(addonDirPacked));
    }
    for (const std::string& argument : packedArguments)
        AppendPiece(packed, QuoteArgument(argument));
    if (packed.empty())
        return;

    // The pieces are already the bytes the setup receives (UTF-8, or raw bytes of a path that
    // is not), so no conversion can fail here and nothing is dropped.
    try {
        std::string result;
        if (const auto value = FindPackedValue(parameters)) {
            const std::string_view token(parameters.data() + value->begin,
                                         value->end - value->begin);
            std::string text = DecodeBase64Prefix(cptlib::LowBytesOfUtf16(token));
            text += ' ';
            text += packed;
            result = parameters.substr(0, value->begin) +
                     cptlib::WidenBytesToUtf8(EncodeBase64(text)) + parameters.substr(value->end);
        } else {
            result = parameters + " -x " + cptlib::WidenBytesToUtf8(EncodeBase64(packed));
        }
        parameters = std::move(result);
    } catch (const std::exception&) {
        // The parameters stay as they were.
    }
}

void AppendAddonDirArgument(std::string& parameters, const std::string& addonDir) {
    if (addonDir.empty())
        return;
    AppendPiece(parameters, QuoteArgument("/addondir") + " " + QuoteArgument(addonDir));
}

void AppendOwnArguments(std::string& parameters, const std::vector<std::string>& arguments) {
    for (const std::string& argument : arguments)
        AppendPiece(parameters, QuoteArgument(argument));
}

SetupCommandSystem CurrentSetupCommandSystem() {
    SetupCommandSystem system;
    system.is32BitOn64Bit = cptlib::platform::Is32BitProcessOn64BitKernel();
    system.folderProperties = cptlib::GetFolderProperties();
    return system;
}

SetupCommand ComposeSetupCommand(const SettingsStore& settings, const SetupCommandInput& input,
                                 const SetupCommandSystem& system) {
    const std::string section = "LANG_" + input.culture;
    SetupCommand command;
    command.showCommand =
        settings.GetInt(section, "SetupShow", settings.GetInt("main", "SetupShow", 1));
    command.setupFile = SetupFileName(settings, input.culture, system.is32BitOn64Bit);
    command.setupParams =
        settings.GetString(section, "SetupParams", settings.GetString("main", "SetupParams", ""));

    const boost::regex& pattern = cptlib::PlaceholderPattern();
    command.setupFile =
        cptlib::ExpandPlaceholders(command.setupFile, system.folderProperties, pattern, true);
    command.setupParams =
        cptlib::ExpandPlaceholders(command.setupParams, system.folderProperties, pattern, true);
    command.setupFile = ReplaceExtractDir(command.setupFile, input.extractDir);
    command.setupParams = ReplaceExtractDir(command.setupParams, input.extractDir);

    AppendPackedArguments(command.setupParams, input.addonDirPacked, input.packedArguments);
    AppendAddonDirArgument(command.setupParams, input.addonDir);
    if (settings.GetInt("main", "ForwardOwnParameters", 1) == 1)
        AppendOwnArguments(command.setupParams, input.forwardedArguments);
    return command;
}

void FillSetupCommand(ProgressDialogSettings& record, const CApp& app) {
    SetupCommandInput input;
    input.culture = record.culture;
    input.extractDir = record.extractDir;
    input.addonDirPacked = app.addonDirPacked;
    input.addonDir = app.addonDir;
    input.packedArguments = app.packedArguments;
    input.forwardedArguments = app.forwardedArguments;
    SetupCommand command = ComposeSetupCommand(app.settings, input, CurrentSetupCommandSystem());
    record.setupFile = std::move(command.setupFile);
    record.setupParams = std::move(command.setupParams);
    record.showCommand = command.showCommand;
}

} // namespace sfx
