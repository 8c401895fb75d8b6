#include "launcher/ExtractOnly.h"

#include "cptlib/DisplayText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/FolderSafety.h"
#include "launcher/ExtractFolder.h"
#include "launcher/StartupState.h"

namespace sfx {

namespace {

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

[[noreturn]] void ThrowSystemError(std::uint32_t code, const char* text) {
    CPT_THROW(cptlib::SystemError(cptlib::MakeWin32Error(code), text));
}

} // namespace

cptlib::MessageBoxContent MakeOverwriteQuestion(const std::string& existingName,
                                                const cptlib::IStringResources& strings) {
    cptlib::MessageBoxContent box;
    box.caption = cptlib::GetAppName();
    // In the run's language; a table without the text keeps the system's words.
    box.mainInstruction = strings.GetText("OverwriteFileExists");
    if (box.mainInstruction.empty())
        box.mainInstruction = cptlib::Win32MessageText(cptlib::kErrorFileExists);
    box.content = "\"" + cptlib::DisplayName(LastPathComponent(existingName)) + "\"\n\n" +
                  strings.GetText("OverwriteAllQuestion");
    box.iconKind = cptlib::IconKind::Warning;
    box.flags = cptlib::MBF_ATTENTION;
    box.buttons = {{cptlib::kIdOk, false, strings.GetText("OverwriteAllButton")},
                   {cptlib::kIdCancel, true, strings.GetText("Cancel")}};
    return box;
}

std::string GetDisplayName(const std::string& path) {
    bool isFolder = false;
    const std::uint32_t error = path.empty() ? cptlib::kErrorInvalidParameter
                                             : cptlib::platform::QueryIsFolder(path, isFolder);
    if (error != cptlib::kErrorSuccess)
        ThrowSystemError(error, "Could not get display name from path");
    const std::string name = LastPathComponent(path);
    return name.empty() ? "/" : name;
}

std::string PathToUrl(const std::string& path) {
    if (!IsAbsolutePath(path))
        ThrowSystemError(cptlib::kErrorInvalidParameter, "Could not create URL from path");
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || c == '/') {
            url += ch;
        } else {
            url += '%';
            url += kHex[c >> 4];
            url += kHex[c & 0xF];
        }
    }
    return url;
}

std::string UrlToPath(const std::string& url) {
    constexpr std::string_view kScheme = "file://";
    if (url.size() <= kScheme.size() || url.compare(0, kScheme.size(), kScheme) != 0 ||
        url[kScheme.size()] != '/')
        ThrowSystemError(cptlib::kErrorInvalidParameter, "Could not create path from URL");
    std::string path;
    for (std::size_t i = kScheme.size(); i < url.size(); ++i) {
        if (url[i] != '%') {
            path += url[i];
            continue;
        }
        const int high = i + 2 < url.size() ? HexValue(url[i + 1]) : -1;
        const int low = high >= 0 ? HexValue(url[i + 2]) : -1;
        if (low < 0)
            ThrowSystemError(cptlib::kErrorInvalidParameter, "Could not create path from URL");
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return path;
}

std::string ExtractFolderLinkText(const std::string& extractDir) {
    try {
        // The folder must exist; the whole path says where it is, not just its name.
        GetDisplayName(extractDir);
        const std::string url = PathToUrl(AddTrailingSlash(extractDir));
        // The link syntax has no escapes for its own separators.
        if (extractDir.find_first_of("|>") != std::string::npos)
            return extractDir;
        return "<LINK " + extractDir + "|" + url + ">";
    } catch (const std::exception&) {
        return extractDir;
    }
}

void FinishExtractOnly(int uiLevel, const std::string& extractDir,
                       const std::vector<std::string>& extractedNames,
                       const cptlib::IStringResources& strings, IProgressView& view) {
    if (uiLevel < UiBasic)
        return;
    cptlib::MessageBoxContent box;
    box.caption = cptlib::GetAppName();
    box.mainInstruction = strings.GetText("ExtractSuccess");
    box.content = ExtractFolderLinkText(extractDir);
    box.iconKind = cptlib::IconKind::Information;
    box.flags = cptlib::MBF_ATTENTION;
    box.buttons = {{cptlib::kIdOk, false, strings.GetText("OK")}};
    box.linkHandler = [&](const std::string&) {
        return view.OpenExtractFolder(extractDir, extractedNames);
    };
    view.ShowExtractSuccess(box, extractDir);
}

namespace {

std::string UserName(std::uint32_t uid) {
    return cptlib::platform::UserNameOf(uid);
}

} // namespace

std::string OpenTargetFolder(const std::string& folder,
                             std::shared_ptr<const cptlib::platform::FolderHandle>& handle) {
    namespace platform = cptlib::platform;
    handle.reset();
    if (!platform::RunningAsRoot())
        return {};
    auto opened = std::make_shared<platform::FolderHandle>();
    platform::FolderRefusal refusal;
    if (platform::OpenFolderSafely(folder, *opened, refusal)) {
        handle = std::move(opened);
        return {};
    }
    using Reason = platform::FolderRefusal::Reason;
    std::string named = folder;
    while (named.size() > 1 && IsPathSeparator(named.back()))
        named.pop_back();
    const std::string target = cptlib::DisplayName(named);
    const std::string where = cptlib::DisplayName(refusal.where);
    const std::string because = "; a run as root does not extract to '" + target +
                                "', since that user could swap what is written there for a "
                                "link to a place of their choosing.";
    switch (refusal.reason) {
    case Reason::OtherOwner:
        return "The folder '" + where + "' belongs to another user (" + UserName(refusal.owner) +
               ")" + because;
    case Reason::OthersLink:
        return "'" + where + "' is a symbolic link of another user (" + UserName(refusal.owner) +
               ") in a folder open to all" + because;
    case Reason::OthersMayWrite:
        return "The folder '" + where +
               "' can be changed by other users (they may write to it and it is not sticky); a "
               "run as root does not extract to '" +
               target + "', since they could swap what is written there.";
    case Reason::Failed:
    case Reason::None:
        break;
    }
    return "Cannot create \"" + where + "\": " + cptlib::SystemErrorText(refusal.error);
}

} // namespace sfx
