#include "cptlib/platform/FolderSafety.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/win32/NtFiles.h"
#include "cptlib/platform/win32/Security.h"

#include <deque>
#include <filesystem>

namespace cptlib::platform {

namespace {

void PushParts(std::deque<std::string>& pending, const std::string& path) {
    std::deque<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find_first_of("\\/", start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start)
            parts.emplace_back(path, start, end - start);
        start = end + 1;
    }
    pending.insert(pending.begin(), parts.begin(), parts.end());
}

std::string Join(const std::string& folder, const std::string& name) {
    return !folder.empty() && folder.back() == '\\' ? folder + name : folder + "\\" + name;
}

// "C:\", "\\server\share\": where the walk starts; empty when the path is not absolute.
std::string RootOf(const std::string& path) {
    const std::filesystem::path wide(Widen(path));
    if (!wide.is_absolute())
        return {};
    std::string root = Narrow(wide.root_path().wstring());
    for (char& c : root)
        if (c == '/')
            c = '\\';
    return root;
}

} // namespace

bool OthersMayReplaceEntries(const std::string& folder) {
    HANDLE handle = nullptr;
    if (nt::OpenAt(nullptr, folder, READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_OPEN,
                   FILE_DIRECTORY_FILE, handle, true) != 0)
        return false;
    const bool others = security::OthersMayChange(handle, true);
    CloseHandle(handle);
    return others;
}

bool OpenFolderSafely(const std::string& path, FolderHandle& folder, FolderRefusal& refusal) {
    using Reason = FolderRefusal::Reason;
    folder.Close();
    refusal = {};
    const auto refuse = [&](Reason reason, const std::string& where, std::uint32_t error) {
        refusal = {reason, where, 0, error};
        return false;
    };
    std::string shown = RootOf(path);
    if (shown.empty())
        return refuse(Reason::Failed, path, kErrorInvalidParameter);
    FileDescriptor current;
    const auto openRoot = [&](const std::string& root) -> std::uint32_t {
        HANDLE handle = nullptr;
        if (const auto error = nt::OpenAt(nullptr, root, nt::kFolderAccess, FILE_OPEN,
                                          FILE_DIRECTORY_FILE, handle, true))
            return error;
        current.reset(handle);
        shown = root;
        return 0;
    };
    if (const auto error = openRoot(shown))
        return refuse(Reason::Failed, shown, error);
    if (security::OthersMayChange(static_cast<HANDLE>(current.get()), false))
        return refuse(Reason::OthersMayWrite, shown, 0);

    std::deque<std::string> pending;
    PushParts(pending, path.substr(shown.size()));
    int links = 0;
    while (!pending.empty()) {
        const std::string name = pending.front();
        pending.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            // Back up by name: every folder of `shown` was found unchangeable by others.
            const std::string root = RootOf(shown);
            const auto cut = shown.find_last_of('\\', shown.size() - 2);
            const std::string above =
                shown.size() <= root.size() || cut < root.size() ? root : shown.substr(0, cut);
            if (const auto error = openRoot(above))
                return refuse(Reason::Failed, above, error);
            continue;
        }
        const std::string where = Join(shown, name);
        HANDLE handle = nullptr;
        std::uint32_t error = nt::OpenAt(static_cast<HANDLE>(current.get()), name,
                                         nt::kFolderAccess, FILE_OPEN, 0, handle);
        if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
            // Made in a folder nobody else can change: the new entry stays this one.
            error = nt::OpenAt(static_cast<HANDLE>(current.get()), name, nt::kFolderAccess,
                               FILE_OPEN_IF, FILE_DIRECTORY_FILE, handle);
        }
        if (error != 0)
            return refuse(Reason::Failed, where, error);
        FileDescriptor next(handle);
        nt::Identity identity;
        if (const auto failed = nt::IdentityOf(handle, identity))
            return refuse(Reason::Failed, where, failed);
        if (nt::IsReparse(identity)) {
            if (security::OthersMayChange(handle, false))
                return refuse(Reason::OthersLink, where, 0);
            if (++links > 40)
                return refuse(Reason::Failed, where, ERROR_CANT_RESOLVE_FILENAME);
            // Followed by walking its target from that target's root, with the same checks.
            HANDLE target = nullptr;
            if (const auto failed = nt::OpenAt(static_cast<HANDLE>(current.get()), name,
                                               FILE_READ_ATTRIBUTES, FILE_OPEN, 0, target, true))
                return refuse(Reason::Failed, where, failed);
            const std::string resolved = nt::PathOfHandle(target);
            CloseHandle(target);
            const std::string root = RootOf(resolved);
            if (root.empty())
                return refuse(Reason::Failed, where, kErrorPathNotFound);
            PushParts(pending, resolved.substr(root.size()));
            if (const auto failed = openRoot(root))
                return refuse(Reason::Failed, root, failed);
            if (security::OthersMayChange(static_cast<HANDLE>(current.get()), false))
                return refuse(Reason::OthersMayWrite, root, 0);
            continue;
        }
        if (!nt::IsFolder(identity))
            return refuse(Reason::Failed, where, kErrorDirectory);
        if (security::OthersMayChange(handle, false))
            return refuse(Reason::OthersMayWrite, where, 0);
        current = std::move(next);
        shown = where;
    }
    folder.fd_ = current.release();
    return true;
}

bool RunningAsRoot() {
    // The Windows form of root: a token with the Administrators group active (an elevated
    // one, where UAC splits tokens).
    BOOL member = FALSE;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return false;
    if (!CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    return member != FALSE;
}

} // namespace cptlib::platform
