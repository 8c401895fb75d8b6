#include "cptlib/platform/DesktopOpener.h"

#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <grp.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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

// What the two children tell the caller through the report pipe.
enum class ReportKind : std::int32_t {
    StepFailed = 1, // the opener's process could not be prepared or replaced
    Exited = 2,
    Signaled = 3,
    StillRunning = 4,
    ForkFailed = 5,
};

enum class Step : std::int32_t { Stdin, Descriptors, Groups, GroupId, UserId, Directory, Exec };

constexpr const char* kStepNames[] = {"dup2",      "close_range", "setgroups", "setresgid",
                                      "setresuid", "chdir",       "execve"};

struct Report {
    ReportKind kind;
    std::int32_t value;
    std::int32_t error;
};

// Everything the children need, prepared before forking: after a fork of a threaded process
// only async-signal-safe calls are allowed.
struct Launch {
    std::vector<char*> argv;
    std::vector<char*> envp;
    bool switchUser = false;
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
    const char* directory = nullptr; // must be entered
    const char* home = nullptr;      // entered when possible
    int stdinFd = -1;
    int maxFd = 1024;
    std::int64_t handOverNanoseconds = 0;
};

void WriteReport(int fd, Report report) noexcept {
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void FailStep(int fd, Step step) noexcept {
    WriteReport(fd, {ReportKind::StepFailed, static_cast<std::int32_t>(step), errno});
    ::_exit(127);
}

long RawSetGroups(const std::vector<gid_t>& groups) noexcept {
#ifdef SYS_setgroups32
    return ::syscall(SYS_setgroups32, groups.size(), groups.data());
#else
    return ::syscall(SYS_setgroups, groups.size(), groups.data());
#endif
}

long RawSetResGid(gid_t gid) noexcept {
#ifdef SYS_setresgid32
    return ::syscall(SYS_setresgid32, gid, gid, gid);
#else
    return ::syscall(SYS_setresgid, gid, gid, gid);
#endif
}

long RawSetResUid(uid_t uid) noexcept {
#ifdef SYS_setresuid32
    return ::syscall(SYS_setresuid32, uid, uid, uid);
#else
    return ::syscall(SYS_setresuid, uid, uid, uid);
#endif
}

// The opener's process. The credentials are changed by raw system calls: the library's
// wrappers would try to reach the parent's other threads, which do not exist here.
[[noreturn]] void RunOpener(const Launch& launch, int reportFd) noexcept {
    // Handlers of the parent (its stop-signal pipe) must not run here; ignored signals such as
    // SIGPIPE would stay ignored across exec.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_DFL) {
            struct sigaction reset {};
            reset.sa_handler = SIG_DFL;
            ::sigaction(sig, &reset, nullptr);
        }
    }
    if (::dup2(launch.stdinFd, STDIN_FILENO) < 0)
        FailStep(reportFd, Step::Stdin);
    // No descriptor of this process may reach the opener, least of all a root one.
    if (::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < launch.maxFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (launch.switchUser) {
        if (RawSetGroups(launch.groups) != 0)
            FailStep(reportFd, Step::Groups);
        if (RawSetResGid(launch.gid) != 0)
            FailStep(reportFd, Step::GroupId);
        if (RawSetResUid(launch.uid) != 0)
            FailStep(reportFd, Step::UserId);
    }
    if (launch.directory != nullptr) {
        if (::chdir(launch.directory) != 0)
            FailStep(reportFd, Step::Directory);
    } else if (launch.home != nullptr) {
        (void)::chdir(launch.home);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(launch.argv[0], launch.argv.data(), launch.envp.data());
    FailStep(reportFd, Step::Exec);
}

std::int64_t MonotonicNanoseconds() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts the opener and reports how it ended, or that it still runs after the hand-over time;
// then leaves it to the system, so that nobody waits for an application run in the foreground.
[[noreturn]] void RunIntermediate(const Launch& launch, int reportFd) noexcept {
    // Signals stay blocked here, as the caller blocked them around the fork.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &defaultAction, nullptr);

    const pid_t opener = ::_Fork();
    if (opener < 0) {
        WriteReport(reportFd, {ReportKind::ForkFailed, 0, errno});
        ::_exit(1);
    }
    if (opener == 0)
        RunOpener(launch, reportFd);

    const std::int64_t deadline = MonotonicNanoseconds() + launch.handOverNanoseconds;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(opener, &status, WNOHANG);
        if (done == opener) {
            if (WIFEXITED(status))
                WriteReport(reportFd, {ReportKind::Exited, WEXITSTATUS(status), 0});
            else
                WriteReport(reportFd, {ReportKind::Signaled, WTERMSIG(status), 0});
            ::_exit(0);
        }
        if ((done < 0 && errno != EINTR) || MonotonicNanoseconds() >= deadline) {
            WriteReport(reportFd, {ReportKind::StillRunning, 0, 0});
            ::_exit(0);
        }
        const timespec pause{0, 10 * 1000 * 1000};
        ::nanosleep(&pause, nullptr);
    }
}

// Blocks every signal of the calling thread while it lives, so that no handler of this process
// runs in a child before the child has reset it.
class SignalBlock {
public:
    SignalBlock() {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_SETMASK, &all, &previous_);
    }
    ~SignalBlock() { ::pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    SignalBlock(const SignalBlock&) = delete;
    SignalBlock& operator=(const SignalBlock&) = delete;

private:
    sigset_t previous_{};
};

[[noreturn]] void ThrowOpenerError(std::error_code code, const std::string& message,
                                   const std::string& opener) {
    CPT_THROW(SystemError(code, message)
              << tag_errinfo_path(PathFromUtf8(opener)) << tag_errinfo_path_label("Opener"));
}

} // namespace

Environment CurrentEnvironment() {
    Environment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto eq = text.find('=');
        if (eq != std::string_view::npos && eq > 0)
            environment.emplace(std::string(text.substr(0, eq)), std::string(text.substr(eq + 1)));
    }
    return environment;
}

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

std::string FindOnPath(std::string_view program, const Environment& environment) {
    const auto it = environment.find("PATH");
    if (it == environment.end())
        return {};
    std::string_view rest = it->second;
    while (true) {
        const auto colon = rest.find(':');
        const std::string_view folder = rest.substr(0, colon);
        if (!folder.empty() && folder.front() == '/') {
            std::string candidate(folder);
            if (candidate.back() != '/')
                candidate += '/';
            candidate += program;
            struct stat st {};
            if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
                ::access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos)
            break;
        rest.remove_prefix(colon + 1);
    }
    return {};
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

    const std::string opener = FindOnPath(kOpenerName, environment);
    if (opener.empty())
        CPT_THROW(SystemError(MakeWin32Error(ERROR_FILE_NOT_FOUND),
                              std::string("The desktop opener ") + kOpenerName +
                                  " was not found on PATH"));

    // A name starting with "-" would be read as an option.
    std::string argument = target;
    if (!argument.empty() && argument.front() == '-')
        argument.insert(0, "./");

    std::vector<std::string> arguments = {opener, argument};
    std::vector<std::string> entries;
    entries.reserve(environment.size());
    for (const auto& [name, value] : environment)
        entries.push_back(name + "=" + value);

    Launch launch;
    for (auto& a : arguments)
        launch.argv.push_back(a.data());
    launch.argv.push_back(nullptr);
    for (auto& e : entries)
        launch.envp.push_back(e.data());
    launch.envp.push_back(nullptr);
    if (user) {
        launch.switchUser = true;
        launch.uid = static_cast<uid_t>(user->uid);
        launch.gid = static_cast<gid_t>(user->gid);
        launch.groups = GroupsOf(*user);
        if (!user->home.empty())
            launch.home = user->home.c_str();
    }
    if (!workingDirectory.empty())
        launch.directory = workingDirectory.c_str();
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        launch.maxFd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    launch.handOverNanoseconds =
        std::chrono::duration_cast<std::chrono::nanoseconds>(handOverTime).count();

    FileDescriptor devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devNull)
        ThrowOpenerError(ErrnoToWin32Error(errno), "The desktop opener could not be started",
                         opener);
    launch.stdinFd = devNull.get();

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        ThrowOpenerError(ErrnoToWin32Error(errno), "The desktop opener could not be started",
                         opener);
    FileDescriptor reportRead(fds[0]);
    FileDescriptor reportWrite(fds[1]);

    pid_t intermediate = -1;
    int forkError = 0;
    {
        SignalBlock block;
        intermediate = ::_Fork();
        if (intermediate == 0)
            RunIntermediate(launch, reportWrite.get());
        forkError = errno;
    }
    if (intermediate < 0)
        ThrowOpenerError(ErrnoToWin32Error(forkError), "The desktop opener could not be started",
                         opener);
    reportWrite.reset();

    std::vector<Report> reports;
    Report report{};
    std::size_t filled = 0;
    for (;;) {
        const ssize_t n = ::read(reportRead.get(), reinterpret_cast<char*>(&report) + filled,
                                 sizeof report - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
        if (filled == sizeof report) {
            reports.push_back(report);
            filled = 0;
        }
    }
    int status = 0;
    while (::waitpid(intermediate, &status, 0) < 0 && errno == EINTR) {
    }

    for (const Report& r : reports) {
        if (r.kind == ReportKind::StepFailed) {
            const auto step = static_cast<std::size_t>(r.value);
            const std::string what = step < std::size(kStepNames) ? kStepNames[step] : "setup";
            std::string message = "The desktop opener could not be started: " + what + " failed";
            if (user)
                message += " (as user " + std::to_string(user->uid) + ")";
            if (static_cast<Step>(r.value) == Step::Directory)
                CPT_THROW(SystemError(ErrnoToWin32Error(r.error), message)
                          << tag_errinfo_path(PathFromUtf8(opener))
                          << tag_errinfo_path_label("Opener")
                          << tag_errinfo_path2(PathFromUtf8(workingDirectory))
                          << tag_errinfo_path2_label("Folder"));
            ThrowOpenerError(ErrnoToWin32Error(r.error), message, opener);
        }
        if (r.kind == ReportKind::ForkFailed)
            ThrowOpenerError(ErrnoToWin32Error(r.error), "The desktop opener could not be started",
                             opener);
    }
    for (const Report& r : reports) {
        switch (r.kind) {
        case ReportKind::Exited:
            if (r.value == 0)
                return;
            ThrowOpenerError(
                MakeWin32Error(OpenerStatusCode(r.value)),
                "The desktop opener failed with exit status " + std::to_string(r.value), opener);
        case ReportKind::Signaled:
            ThrowOpenerError(MakeWin32Error(ERROR_OPEN_FAILED),
                             "The desktop opener was ended by signal " + std::to_string(r.value),
                             opener);
        case ReportKind::StillRunning:
            return;
        default:
            break;
        }
    }
    ThrowOpenerError(MakeWin32Error(ERROR_OPEN_FAILED), "The desktop opener could not be started",
                     opener);
}

} // namespace cptlib::platform
