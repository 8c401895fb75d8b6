#include "launcher/SetupCommand.h"

#include "cptlib/Utf.h"
#include "cptlib/localization/FolderProperties.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/Machine.h"
#include "cptlib/platform/ProgramSearch.h"
#include "launcher/ExtractFolder.h"
#include "launcher/Format.h"
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

// Whether the character before `i` is white space (or `i` starts the text).
bool StartsToken(std::string_view text, std::size_t i) {
    if (i == 0)
        return true;
    // Back to the lead byte of the character before.
    std::size_t lead = i - 1;
    while (lead > 0 && (static_cast<unsigned char>(text[lead]) & 0xC0) == 0x80)
        --lead;
    std::size_t length = 0;
    return IsSpaceAt(text, lead, length) && lead + length == i;
}

// The value of the first whole token "-x" or "/x" (either letter case) followed by white space
// and a run of other characters. Inside a token, such as a path ending in "/x", it is no switch.
std::optional<Span> FindPackedValue(std::string_view parameters) {
    for (std::size_t i = 0; i + 1 < parameters.size(); ++i) {
        if ((parameters[i] != '-' && parameters[i] != '/') ||
            (parameters[i + 1] != 'x' && parameters[i + 1] != 'X') || !StartsToken(parameters, i))
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

std::string LowerAscii(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// The extension of the last path component with its dot, lower case; empty without one.
std::string Extension(const std::string& path) {
    const std::string name = LastPathComponent(path);
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : LowerAscii(name.substr(dot));
}

bool IsFolderOrMissing(const std::string& path) {
    bool isFolder = false;
    return cptlib::platform::QueryIsFolder(path, isFolder) != cptlib::kErrorSuccess || isFolder;
}

// The program that installs installer databases; its bare name when none is installed: a bare
// name is never started, so the start fails with "file not found" and nothing runs.
std::string InstallerProgram() {
    std::string program = cptlib::platform::FindProgram("msiexec");
    if (program.empty())
        program = cptlib::platform::FindProgram("msiexec.exe");
    return program.empty() ? std::string("msiexec") : program;
}

std::string_view WithoutTrailingSlash(std::string_view folder) {
    if (!folder.empty() && IsPathSeparator(folder.back()))
        folder.remove_suffix(1);
    return folder;
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

bool SetupRunsFromExtractFolder(const std::string& setupFile) {
    std::string_view rest = setupFile;
    constexpr std::string_view kExtractDir = "[ExtractDir]";
    if (rest.starts_with(kExtractDir))
        rest.remove_prefix(kExtractDir.size());
    else if (!rest.empty() && (IsAbsolutePath(std::string(rest)) || rest.front() == '['))
        return false; // elsewhere, or below another folder placeholder
    const std::string extension = Extension(std::string(rest));
    return extension != ".msi" && extension != ".ms_";
}

std::string ResolveSetupFile(const std::string& extractDir, const std::string& setupFile,
                             const cptlib::platform::FolderHandle* folder) {
    if (IsAbsolutePath(setupFile))
        return setupFile;
    const std::string direct = JoinPath(extractDir, setupFile);
    if (!IsFolderOrMissing(folder ? cptlib::platform::PathThrough(*folder, setupFile) : direct))
        return direct;
    return JoinPath(extractDir, "product/" + setupFile);
}

std::string RebaseOnExtractDir(std::string_view text, std::string_view from, std::string_view to) {
    return ReplaceAll(text, WithoutTrailingSlash(from), WithoutTrailingSlash(to));
}

std::string QuoteSwitch(std::string_view item) {
    if (item.empty())
        return "\"\"";
    // Backslashes right before a quote are doubled as well, so the setup reads back the same
    // text; the bare rule would lose them.
    std::string quoted;
    std::size_t backslashes = 0;
    for (const char c : item) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"') {
                quoted.append(backslashes, '\\');
                quoted += '\\';
            }
            backslashes = 0;
        }
        quoted += c;
    }
    if (item.find_first_of(" \t\r\n") != std::string_view::npos) {
        if (quoted.back() == '\\')
            quoted.append(backslashes, '\\');
        quoted = '"' + quoted + '"';
    }
    return quoted;
}

void AppendPackedArguments(std::string& parameters, std::string_view addonDirPacked,
                           const std::vector<std::string>& packedArguments) {
    std::string packed;
    if (!addonDirPacked.empty()) {
        // The root keeps its only separator.
        if (addonDirPacked.size() > 1 &&
            (addonDirPacked.back() == '/' || addonDirPacked.back() == '\\'))
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

SetupCommand ComposeSetupCommand(const SettingsStore& settings, const StartupState& state,
                                 const SetupCommandSystem& system) {
    const std::string section = "LANG_" + state.culture;
    const std::string extractDir = AddTrailingSlash(state.extractDir);
    SetupCommand command;
    command.showCommand =
        settings.GetInt(section, "SetupShow", settings.GetInt("main", "SetupShow", 1));
    command.setupFile = SetupFileName(settings, state.culture, system.is32BitOn64Bit);
    command.setupParams =
        settings.GetString(section, "SetupParams", settings.GetString("main", "SetupParams", ""));

    const boost::regex& pattern = cptlib::PlaceholderPattern();
    command.setupFile =
        cptlib::ExpandPlaceholders(command.setupFile, system.folderProperties, pattern, true);
    command.setupParams =
        cptlib::ExpandPlaceholders(command.setupParams, system.folderProperties, pattern, true);
    command.setupFile = ReplaceAll(command.setupFile, "[ExtractDir]", extractDir);
    command.setupParams = ReplaceAll(command.setupParams, "[ExtractDir]", extractDir);

    AppendPackedArguments(command.setupParams, state.addonDirPacked, state.packedArguments);
    AppendAddonDirArgument(command.setupParams, state.addonDir);
    if (settings.GetInt("main", "ForwardOwnParameters", 1) == 1)
        AppendOwnArguments(command.setupParams, state.forwardedArguments);
    return command;
}

SetupLaunchInfo ComposeSetupLaunch(const ProgressDialogSettings& settings,
                                   const std::string& composedExtractDir,
                                   const std::filesystem::path& programFile,
                                   std::shared_ptr<const cptlib::platform::FolderHandle> folder) {
    SetupLaunchInfo info;
    info.extractDir = settings.extractDir;
    info.folder = std::move(folder);
    info.showCommand = settings.showCommand;
    info.programFile = programFile;
    info.startedAs = settings.startedAs;
    info.programImage = settings.ownFile;

    std::string setupFile = settings.setupFile;
    std::string setupParams = settings.setupParams;
    // The command was composed before the folder was made; a folder chosen or renamed since
    // must reach the setup, not the name that was never used.
    if (!composedExtractDir.empty() && composedExtractDir != settings.extractDir) {
        setupFile = RebaseOnExtractDir(setupFile, composedExtractDir, settings.extractDir);
        setupParams = RebaseOnExtractDir(setupParams, composedExtractDir, settings.extractDir);
    }

    std::string file = ResolveSetupFile(settings.extractDir, setupFile, info.folder.get());
    std::string switches;
    const std::string extension = Extension(file);
    if (extension == ".msi" || extension == ".ms_") {
        AppendPiece(switches, QuoteSwitch("/i"));
        AppendPiece(switches, QuoteSwitch(file));
        file = InstallerProgram();
    } else if (settings.forwardResourceData) {
        if (!settings.ownValuesFile) {
            info.valuesFile = JoinPath(settings.extractDir, "SetupValues.dat");
            AppendPiece(switches, QuoteSwitch("-m"));
            AppendPiece(switches, QuoteSwitch(info.valuesFile));
        }
        if (settings.cultureChosen && settings.showLanguageDialog) {
            AppendPiece(switches, QuoteSwitch("/l"));
            AppendPiece(switches, QuoteSwitch(settings.culture));
        }
    }
    if (!setupParams.empty())
        AppendPiece(switches, setupParams);
    info.parameters = std::move(switches);
    info.setupFile = std::move(file);
    return info;
}

} // namespace sfx
