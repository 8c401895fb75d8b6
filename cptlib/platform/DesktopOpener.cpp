#include "cptlib/platform/DesktopOpener.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SpawnDetached.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace cptlib::platform {

namespace {

constexpr const char* kOpenerName = "xdg-open";

// Exit statuses of xdg-open mapped to the nearest system error.
constexpr std::uint32_t kErrorOpenFailed = 110;

std::uint32_t OpenerStatusCode(int status) {
    switch (status) {
    case 1: // syntax error
        return kErrorInvalidParameter;
    case 2: // the file does not exist
        return kErrorFileNotFound;
    case 3: // no tool for the file
        return kErrorNoAssociation;
    default: // the action failed
        return kErrorOpenFailed;
    }
}

bool HasValue(const Environment& environment, const char* name) {
    const auto it = environment.find(name);
    return it != environment.end() && !it->second.empty();
}

bool IsDirectoryOf(const std::string& path, std::uint32_t uid) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == uid;
}

bool IsSocket(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::optional<UserAccount> LookUpAccount(std::uint32_t uid) {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 4096);
    for (;;) {
        struct passwd entry {};
        struct passwd* found = nullptr;
        const int err =
            ::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (err != 0 || found == nullptr)
            return std::nullopt;
        return UserAccount{uid, static_cast<std::uint32_t>(entry.pw_gid),
                           entry.pw_name ? entry.pw_name : "", entry.pw_dir ? entry.pw_dir : ""};
    }
}

std::vector<gid_t> GroupsOf(const UserAccount& user) {
    int count = 32;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    while (::getgrouplist(user.name.c_str(), static_cast<gid_t>(user.gid), groups.data(), &count) <
           0) {
        if (count <= static_cast<int>(groups.size()))
            count = static_cast<int>(groups.size()) * 2;
        groups.resize(static_cast<std::size_t>(count));
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

// The kernel's POSIX ACL extended attribute: a version, then (tag, permissions, id) entries
// sorted by tag and id, little-endian.
constexpr const char* kAclAttribute = "system.posix_acl_access";
constexpr std::uint32_t kAclVersion = 2;
constexpr std::uint16_t kAclUserObj = 0x01, kAclUser = 0x02, kAclGroupObj = 0x04, kAclGroup = 0x08,
                        kAclMask = 0x10, kAclOther = 0x20;
constexpr std::uint32_t kAclNoId = 0xFFFFFFFFu;

struct AclEntry {
    std::uint16_t tag;
    std::uint16_t perm;
    std::uint32_t id;
};

void PutLittle(std::vector<unsigned char>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

std::uint32_t GetLittle(const unsigned char* in, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = (value << 8) | in[i];
    return value;
}

// The entries of the path's ACL; those its mode implies when it has none.
int ReadAcl(const std::string& path, mode_t mode, std::vector<AclEntry>& entries) {
    entries.clear();
    std::vector<unsigned char> raw(4 + 8 * 64);
    const ssize_t size = ::lgetxattr(path.c_str(), kAclAttribute, raw.data(), raw.size());
    if (size < 0 && errno != ENODATA)
        return errno;
    if (size >= 4 && GetLittle(raw.data(), 4) == kAclVersion) {
        for (ssize_t at = 4; at + 8 <= size; at += 8)
            entries.push_back({static_cast<std::uint16_t>(GetLittle(&raw[at], 2)),
                               static_cast<std::uint16_t>(GetLittle(&raw[at + 2], 2)),
                               GetLittle(&raw[at + 4], 4)});
        return 0;
    }
    entries = {{kAclUserObj, static_cast<std::uint16_t>((mode >> 6) & 7), kAclNoId},
               {kAclGroupObj, static_cast<std::uint16_t>((mode >> 3) & 7), kAclNoId},
               {kAclOther, static_cast<std::uint16_t>(mode & 7), kAclNoId}};
    return 0;
}

// Adds `perm` for the user (keeping what the user had) and widens the mask just enough.
int GrantUser(const std::string& path, mode_t mode, std::uint32_t uid, std::uint16_t perm) {
    std::vector<AclEntry> entries;
    if (const int error = ReadAcl(path, mode, entries))
        return error;
    bool found = false;
    for (auto& entry : entries)
        if (entry.tag == kAclUser && entry.id == uid) {
            entry.perm |= perm;
            found = true;
        }
    if (!found)
        entries.push_back({kAclUser, perm, uid});
    std::uint16_t mask = 0;
    bool hasMask = false;
    for (const auto& entry : entries) {
        if (entry.tag == kAclUser || entry.tag == kAclGroup || entry.tag == kAclGroupObj)
            mask |= entry.perm;
        hasMask = hasMask || entry.tag == kAclMask;
    }
    if (!hasMask)
        entries.push_back({kAclMask, 0, kAclNoId});
    for (auto& entry : entries)
        if (entry.tag == kAclMask)
            entry.perm = mask;
    std::sort(entries.begin(), entries.end(), [](const AclEntry& a, const AclEntry& b) {
        return a.tag != b.tag ? a.tag < b.tag : a.id < b.id;
    });
    std::vector<unsigned char> raw;
    PutLittle(raw, kAclVersion, 4);
    for (const auto& entry : entries) {
        PutLittle(raw, entry.tag, 2);
        PutLittle(raw, entry.perm, 2);
        PutLittle(raw, entry.id, 4);
    }
    return ::lsetxattr(path.c_str(), kAclAttribute, raw.data(), raw.size(), 0) == 0 ? 0 : errno;
}

[[noreturn]] void ThrowOpenerError(std::error_code code, const std::string& message,
                                   const std::string& opener) {
    CPT_THROW(SystemError(code, message)
              << tag_errinfo_path(PathFromUtf8(opener)) << tag_errinfo_path_label("Opener"));
}

} // namespace

std::optional<UserAccount> DelegatingUser(const Environment& environment,
                                          std::uint32_t effectiveUid) {
    if (effectiveUid != 0)
        return std::nullopt;
    for (const char* name : {"PKEXEC_UID", "SUDO_UID"}) {
        const auto it = environment.find(name);
        if (it == environment.end())
            continue;
        const std::string& text = it->second;
        std::uint32_t uid = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), uid);
        if (text.empty() || ec != std::errc() || end != text.data() + text.size())
            CPT_THROW(
                SystemError(MakeWin32Error(kErrorInvalidData),
                            std::string(name) + " does not hold a user id: \"" + text + "\""));
        if (uid == 0)
            continue;
        auto account = LookUpAccount(uid);
        if (!account)
            CPT_THROW(SystemError(MakeWin32Error(kErrorInvalidData),
                                  std::string(name) + " names no user account: " + text));
        return account;
    }
    return std::nullopt;
}

Environment EnvironmentForUser(Environment environment, const UserAccount& user,
                               const std::string& runtimeRoot) {
    environment["HOME"] = user.home;
    environment["USER"] = user.name;
    environment["LOGNAME"] = user.name;

    const std::string runtime = runtimeRoot + "/" + std::to_string(user.uid);
    if (IsDirectoryOf(runtime, user.uid))
        environment["XDG_RUNTIME_DIR"] = runtime;
    else if (auto it = environment.find("XDG_RUNTIME_DIR");
             it != environment.end() && !IsDirectoryOf(it->second, user.uid))
        environment.erase(it);

    if (auto it = environment.find("XDG_RUNTIME_DIR"); it != environment.end()) {
        const std::string bus = it->second + "/bus";
        if (IsSocket(bus))
            environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + bus;
    }
    return environment;
}

std::uint32_t ShareWithDelegatingUser(const std::string& folder, const std::string& file) {
    const std::optional<UserAccount> user =
        DelegatingUser(CurrentEnvironment(), static_cast<std::uint32_t>(::geteuid()));
    if (!user)
        return 0;
    std::string base = folder;
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    if (base.empty() || base.front() != '/' || file.size() <= base.size() + 1 ||
        file.compare(0, base.size(), base) != 0 || file[base.size()] != '/')
        return kErrorAccessDenied;

    // The folder, each folder below it on the way, then the file; none may be a link.
    std::vector<std::string> chain = {base};
    for (std::size_t at = file.find('/', base.size() + 1); at != std::string::npos;
         at = file.find('/', at + 1))
        if (at > chain.back().size())
            chain.push_back(file.substr(0, at));
    chain.push_back(file);
    for (std::size_t i = 0; i < chain.size(); ++i) {
        const bool isFile = i + 1 == chain.size();
        struct stat st {};
        if (::lstat(chain[i].c_str(), &st) != 0)
            return LastWin32Error();
        if (S_ISLNK(st.st_mode) || (!isFile && !S_ISDIR(st.st_mode)))
            return kErrorAccessDenied;
        const std::uint16_t perm = isFile ? 4 : 5; // read; read and search
        int error = GrantUser(chain[i], st.st_mode, user->uid, perm);
        if (error == EOPNOTSUPP || error == ENOTSUP) {
            // No ACLs here: the entry becomes the user's, with the owner's rights it needs.
            if (::lchown(chain[i].c_str(), static_cast<uid_t>(user->uid), static_cast<gid_t>(-1)) !=
                    0 ||
                ::chmod(chain[i].c_str(), st.st_mode | (static_cast<mode_t>(perm) << 6)) != 0)
                error = errno;
            else
                error = 0;
        }
        if (error != 0)
            return Win32FromErrno(error);
    }
    return 0;
}

void OpenWithDesktop(const std::string& target, const std::string& workingDirectory,
                     std::chrono::milliseconds handOverTime) {
    Environment environment = CurrentEnvironment();
    if (!HasValue(environment, "DISPLAY") && !HasValue(environment, "WAYLAND_DISPLAY"))
        CPT_THROW(SystemError(std::make_error_code(std::errc::not_supported),
                              "No desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set"));

    const std::optional<UserAccount> user =
        DelegatingUser(environment, static_cast<std::uint32_t>(::geteuid()));
    if (user)
        environment = EnvironmentForUser(std::move(environment), *user);

    const auto path = environment.find("PATH");
    const std::string opener =
        FindProgram(kOpenerName, path != environment.end() ? path->second : std::string());
    if (opener.empty())
        CPT_THROW(SystemError(MakeWin32Error(kErrorFileNotFound),
                              std::string("The desktop opener ") + kOpenerName +
                                  " was not found on PATH"));

    // A name starting with "-" would be read as an option.
    std::string argument = target;
    if (!argument.empty() && argument.front() == '-')
        argument.insert(0, "./");

    SpawnRequest request;
    request.program = opener;
    request.arguments = {argument};
    request.directory = workingDirectory;
    request.environment = std::move(environment);
    request.input = Stream::Null();
    UserIdentity identity;
    if (user) {
        // xdg-open says "file not found" for a file it may not read.
        if (!target.empty() && target.front() == '/')
            identity.mustRead = target;
        identity.uid = static_cast<uid_t>(user->uid);
        identity.gid = static_cast<gid_t>(user->gid);
        identity.groups = GroupsOf(*user);
        identity.home = user->home;
    }
    const DetachedOutcome outcome =
        SpawnDetached(request, user ? &identity : nullptr,
                      std::chrono::duration_cast<std::chrono::nanoseconds>(handOverTime));

    switch (outcome.kind) {
    case DetachedOutcome::Kind::Exited:
        if (outcome.value == 0)
            return;
        ThrowOpenerError(
            MakeWin32Error(OpenerStatusCode(outcome.value)),
            "The desktop opener failed with exit status " + std::to_string(outcome.value), opener);
    case DetachedOutcome::Kind::Signaled:
        ThrowOpenerError(MakeWin32Error(kErrorOpenFailed),
                         "The desktop opener was ended by signal " + std::to_string(outcome.value),
                         opener);
    case DetachedOutcome::Kind::StillRunning:
        return;
    case DetachedOutcome::Kind::Failed:
        break;
    }
    const std::error_code code =
        outcome.error != 0 ? ErrnoToWin32Error(outcome.error) : MakeWin32Error(kErrorOpenFailed);
    if (outcome.step == SpawnStep::Prepare)
        ThrowOpenerError(code, "The desktop opener could not be started", opener);
    std::string message = std::string("The desktop opener could not be started: ") +
                          SpawnStepName(outcome.step) + " failed";
    if (user)
        message += " (as user " + std::to_string(user->uid) + ")";
    if (outcome.step == SpawnStep::Access)
        CPT_THROW(SystemError(code, "The file cannot be read by user " +
                                        std::to_string(user ? user->uid : 0))
                  << tag_errinfo_path(PathFromUtf8(target)));
    if (outcome.step == SpawnStep::Directory)
        CPT_THROW(SystemError(code, message)
                  << tag_errinfo_path(PathFromUtf8(opener)) << tag_errinfo_path_label("Opener")
                  << tag_errinfo_path2(PathFromUtf8(workingDirectory))
                  << tag_errinfo_path2_label("Folder"));
    ThrowOpenerError(code, message, opener);
}

} // namespace cptlib::platform
