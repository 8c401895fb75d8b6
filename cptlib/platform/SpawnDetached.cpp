#include "cptlib/platform/SpawnDetached.h"

#include "cptlib/platform/SpawnPlan.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cptlib::platform {

namespace {

// What the two children tell the caller through the report pipe.
enum class ReportKind : std::int32_t {
    StepFailed = 1, // the program's process could not be prepared or replaced
    Exited = 2,
    Signaled = 3,
    StillRunning = 4,
    ForkFailed = 5,
};

struct Report {
    ReportKind kind;
    std::int32_t value;
    std::int32_t error;
};

// Everything the children need beyond the plan, prepared before forking.
struct Launch {
    const detail::SpawnPlan* plan = nullptr;
    const char* program = nullptr;
    const char* directory = nullptr; // must be entered
    const char* home = nullptr;      // entered when possible
    const char* mustRead = nullptr;  // checked as the user
    const UserIdentity* user = nullptr;
    bool passOnInheritable = false;
    int maxFd = 1024;
    std::int64_t handOverNanoseconds = 0;
};

void WriteReport(int fd, Report report) noexcept {
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void FailStep(int fd, SpawnStep step) noexcept {
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

// The program's process. The credentials are changed by raw system calls: the library's
// wrappers would try to reach the parent's other threads, which do not exist here.
[[noreturn]] void RunProgram(const Launch& launch, int reportFd) noexcept {
    // Handlers of the parent must not run here; ignored signals would stay ignored across exec.
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction current {};
        if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_DFL) {
            struct sigaction reset {};
            reset.sa_handler = SIG_DFL;
            ::sigaction(sig, &reset, nullptr);
        }
    }
    const auto& moves = launch.plan->Moves();
    const int scratch = launch.plan->ScratchBase();
    const int count = static_cast<int>(moves.size());
    for (int i = 0; i < count; ++i)
        if (::dup2(moves[static_cast<std::size_t>(i)].source, scratch + i) < 0)
            FailStep(reportFd, SpawnStep::Streams);
    for (int i = 0; i < count; ++i)
        if (::dup2(scratch + i, moves[static_cast<std::size_t>(i)].target) < 0)
            FailStep(reportFd, SpawnStep::Streams);
    if (launch.passOnInheritable) {
        if (count > 0)
            ::close_range(static_cast<unsigned>(scratch),
                          static_cast<unsigned>(scratch + count - 1), 0);
    } else if (::close_range(static_cast<unsigned>(launch.plan->FirstUnasked()), ~0U,
                             CLOSE_RANGE_CLOEXEC) != 0) {
        // No descriptor of this process may reach the program, least of all a root one; the
        // report pipe stays open until the exec.
        for (int fd = launch.plan->FirstUnasked(); fd < launch.maxFd; ++fd)
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    if (launch.user != nullptr) {
        if (RawSetGroups(launch.user->groups) != 0)
            FailStep(reportFd, SpawnStep::Groups);
        if (RawSetResGid(launch.user->gid) != 0)
            FailStep(reportFd, SpawnStep::GroupId);
        if (RawSetResUid(launch.user->uid) != 0)
            FailStep(reportFd, SpawnStep::UserId);
        // Real and effective ids are the user's now: access() answers for that user. Only a
        // refusal stops here; anything else is the program's to report.
        if (launch.mustRead != nullptr && ::access(launch.mustRead, R_OK) != 0 &&
            (errno == EACCES || errno == EPERM))
            FailStep(reportFd, SpawnStep::Access);
    }
    if (launch.directory != nullptr) {
        if (::chdir(launch.directory) != 0)
            FailStep(reportFd, SpawnStep::Directory);
    } else if (launch.home != nullptr) {
        (void)::chdir(launch.home);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(launch.program, launch.plan->Argv(), launch.plan->Envp());
    FailStep(reportFd, SpawnStep::Exec);
}

std::int64_t MonotonicNanoseconds() noexcept {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts the program and reports how it ended, or that it still runs after the hand-over time;
// then leaves it to the system, so that nobody waits for an application run in the foreground.
[[noreturn]] void RunIntermediate(const Launch& launch, int reportFd) noexcept {
    // Signals stay blocked here, as the caller blocked them around the fork.
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    ::sigaction(SIGCHLD, &defaultAction, nullptr);

    const pid_t program = ::_Fork();
    if (program < 0) {
        WriteReport(reportFd, {ReportKind::ForkFailed, 0, errno});
        ::_exit(1);
    }
    if (program == 0)
        RunProgram(launch, reportFd);

    const std::int64_t deadline = MonotonicNanoseconds() + launch.handOverNanoseconds;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(program, &status, WNOHANG);
        if (done == program) {
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

DetachedOutcome Failed(SpawnStep step, int error) {
    DetachedOutcome outcome;
    outcome.step = step;
    outcome.error = error;
    return outcome;
}

} // namespace

const char* SpawnStepName(SpawnStep step) {
    switch (step) {
    case SpawnStep::Prepare:
        break;
    case SpawnStep::Streams:
        return "dup2";
    case SpawnStep::Groups:
        return "setgroups";
    case SpawnStep::GroupId:
        return "setresgid";
    case SpawnStep::UserId:
        return "setresuid";
    case SpawnStep::Directory:
        return "chdir";
    case SpawnStep::Exec:
        return "execve";
    case SpawnStep::Access:
        return "access";
    }
    return "";
}

DetachedOutcome SpawnDetached(const SpawnRequest& request, const UserIdentity* user,
                              std::chrono::nanoseconds handOver) {
    if (request.program.find('/') == std::string::npos)
        return Failed(SpawnStep::Exec, ENOENT);

    const bool needsNull = detail::NeedsNullDevice(request);
    const detail::OwnedDescriptor nullDevice(needsNull ? ::open("/dev/null", O_RDWR | O_CLOEXEC)
                                                       : -1);
    if (needsNull && nullDevice.get() < 0)
        return Failed(SpawnStep::Prepare, errno);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return Failed(SpawnStep::Prepare, errno);
    detail::OwnedDescriptor reportRead(fds[0]);
    detail::OwnedDescriptor reportWrite(fds[1]);
    // The write end must survive the program's descriptor moves until the exec.
    const int firstUnasked = 3 + static_cast<int>(request.descriptors.size());
    if (reportWrite.get() < firstUnasked) {
        reportWrite.reset(::fcntl(fds[1], F_DUPFD_CLOEXEC, firstUnasked));
        if (reportWrite.get() < 0)
            return Failed(SpawnStep::Prepare, errno);
    }
    const detail::SpawnPlan plan(request, nullDevice.get(), reportWrite.get());
    if (plan.Error() != 0)
        return Failed(SpawnStep::Streams, plan.Error());

    Launch launch;
    launch.plan = &plan;
    launch.program = request.program.c_str();
    launch.user = user;
    if (user != nullptr && !user->home.empty())
        launch.home = user->home.c_str();
    if (user != nullptr && !user->mustRead.empty())
        launch.mustRead = user->mustRead.c_str();
    if (!request.directory.empty())
        launch.directory = request.directory.c_str();
    launch.passOnInheritable = request.passOnInheritable;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        launch.maxFd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    launch.handOverNanoseconds = handOver.count();

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
        return Failed(SpawnStep::Prepare, forkError);
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
    WaitForProcess(intermediate);

    for (const Report& r : reports) {
        if (r.kind == ReportKind::StepFailed)
            return Failed(static_cast<SpawnStep>(r.value), r.error);
        if (r.kind == ReportKind::ForkFailed)
            return Failed(SpawnStep::Prepare, r.error);
    }
    for (const Report& r : reports) {
        switch (r.kind) {
        case ReportKind::Exited:
            return {DetachedOutcome::Kind::Exited, r.value, SpawnStep::Prepare, 0};
        case ReportKind::Signaled:
            return {DetachedOutcome::Kind::Signaled, r.value, SpawnStep::Prepare, 0};
        case ReportKind::StillRunning:
            return {DetachedOutcome::Kind::StillRunning, 0, SpawnStep::Prepare, 0};
        default:
            break;
        }
    }
    return Failed(SpawnStep::Prepare, 0);
}

} // namespace cptlib::platform
