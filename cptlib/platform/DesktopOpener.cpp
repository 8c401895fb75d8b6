#include "cptlib/platform/DesktopOpener.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/SpawnDetached.h"

#include <cerrno>
#include <charconv>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace cptlib::platform {

namespace {

constexpr const char* kOpenerName = "xdg-open";

// Exit statuses of xdg-open mapped to the nearest system error.
constexpr std::uint32_t ERROR_OPEN_FAILED = 110;

std::uint32_t OpenerStatusCode(int status) {
    switch (status) {
    case 1: // syntax error
        return ERROR_INVALID_PARAMETER;
    case 2: // the file does not exist
        return ERROR_FILE_NOT_FOUND;
    case 3: // no tool for the file
        return ERROR_NO_ASSOCIATION;
    default: // the action failed
        return ERROR_OPEN_FAILED;
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
                SystemError(MakeWin32Error(ERROR_INVALID_DATA),
                            std::string(name) + " does not hold a user id: \"" + text + "\""));
        if (uid == 0)
            continue;
        auto account = LookUpAccount(uid);
        if (!account)
            CPT_THROW(SystemError(MakeWin32Error(ERROR_INVALID_DATA),
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
        CPT_THROW(SystemError(MakeWin32Error(ERROR_FILE_NOT_FOUND),
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
        ThrowOpenerError(MakeWin32Error(ERROR_OPEN_FAILED),
                         "The desktop opener was ended by signal " + std::to_string(outcome.value),
                         opener);
    case DetachedOutcome::Kind::StillRunning:
        return;
    case DetachedOutcome::Kind::Failed:
        break;
    }
    const std::error_code code =
        outcome.error != 0 ? ErrnoToWin32Error(outcome.error) : MakeWin32Error(ERROR_OPEN_FAILED);
    if (outcome.step == SpawnStep::Prepare)
        ThrowOpenerError(code, "The desktop opener could not be started", opener);
    std::string message = std::string("The desktop opener could not be started: ") +
                          SpawnStepName(outcome.step) + " failed";
    if (user)
        message += " (as user " + std::to_string(user->uid) + ")";
    if (outcome.step == SpawnStep::Directory)
        CPT_THROW(SystemError(code, message)
                  << tag_errinfo_path(PathFromUtf8(opener)) << tag_errinfo_path_label("Opener")
                  << tag_errinfo_path2(PathFromUtf8(workingDirectory))
                  << tag_errinfo_path2_label("Folder"));
    ThrowOpenerError(code, message, opener);
}

} // namespace cptlib::platform
