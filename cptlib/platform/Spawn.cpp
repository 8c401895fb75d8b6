#include "cptlib/platform/Spawn.h"

#include "cptlib/platform/SignalWatch.h"
#include "cptlib/platform/SpawnPlan.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cptlib::platform {

namespace {

class SpawnAttributes {
public:
    SpawnAttributes() { error_ = ::posix_spawnattr_init(&attributes_); }
    ~SpawnAttributes() {
        if (error_ == 0)
            ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    int error() const { return error_; }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_{};
    int error_ = 0;
};

class SpawnFileActions {
public:
    SpawnFileActions() { error_ = ::posix_spawn_file_actions_init(&actions_); }
    ~SpawnFileActions() {
        if (error_ == 0)
            ::posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnFileActions(const SpawnFileActions&) = delete;
    SpawnFileActions& operator=(const SpawnFileActions&) = delete;
    int error() const { return error_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    int error_ = 0;
};

// The caller's threads may block signals and the caller may ignore some (an ignored signal
// stays ignored across exec): the program starts with none blocked and all at their defaults,
// except those that whoever started this process had ignored (`nohup`, a background job).
int ResetSignals(posix_spawnattr_t* attributes, short moreFlags) {
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    const sigset_t& inherited = detail::SignalsIgnoredAtStart();
    for (int number = 1; number < NSIG; ++number)
        if (sigismember(&inherited, number) == 1)
            sigdelset(&all, number);
    if (int error = ::posix_spawnattr_setsigmask(attributes, &none))
        return error;
    if (int error = ::posix_spawnattr_setsigdefault(attributes, &all))
        return error;
    return ::posix_spawnattr_setflags(
        attributes, static_cast<short>(POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | moreFlags));
}

int AddDescriptorActions(posix_spawn_file_actions_t* actions, const detail::SpawnPlan& plan,
                         bool passOnInheritable) {
    const auto& moves = plan.Moves();
    const int scratch = plan.ScratchBase();
    for (std::size_t i = 0; i < moves.size(); ++i)
        if (int error = ::posix_spawn_file_actions_adddup2(actions, moves[i].source,
                                                           scratch + static_cast<int>(i)))
            return error;
    for (std::size_t i = 0; i < moves.size(); ++i)
        if (int error = ::posix_spawn_file_actions_adddup2(actions, scratch + static_cast<int>(i),
                                                           moves[i].target))
            return error;
    if (!passOnInheritable)
        return ::posix_spawn_file_actions_addclosefrom_np(actions, plan.FirstUnasked());
    for (std::size_t i = 0; i < moves.size(); ++i)
        if (int error = ::posix_spawn_file_actions_addclose(actions, scratch + static_cast<int>(i)))
            return error;
    return 0;
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

int Spawn(const SpawnRequest& request, pid_t& pid) {
    if (request.program.find('/') == std::string::npos)
        return ENOENT;
    const bool needsNull = detail::NeedsNullDevice(request);
    const detail::OwnedDescriptor nullDevice(needsNull ? ::open("/dev/null", O_RDWR | O_CLOEXEC)
                                                       : -1);
    if (needsNull && nullDevice.get() < 0)
        return errno;
    const detail::SpawnPlan plan(request, nullDevice.get());
    if (plan.Error() != 0)
        return plan.Error();

    SpawnAttributes attributes;
    SpawnFileActions actions;
    if (attributes.error() != 0)
        return attributes.error();
    if (actions.error() != 0)
        return actions.error();
    const bool ownSession = !request.controllingTerminal.empty();
    if (int error = ResetSignals(attributes.get(), ownSession ? POSIX_SPAWN_SETSID : 0))
        return error;
    if (request.directoryDescriptor >= 0)
        if (int error =
                ::posix_spawn_file_actions_addfchdir_np(actions.get(), request.directoryDescriptor))
            return error;
    if (!request.directory.empty())
        if (int error =
                ::posix_spawn_file_actions_addchdir_np(actions.get(), request.directory.c_str()))
            return error;
    if (int error = AddDescriptorActions(actions.get(), plan, request.passOnInheritable))
        return error;
    if (ownSession) {
        // A session leader that opens a terminal without O_NOCTTY makes it its controlling
        // terminal; the descriptor itself is not kept.
        const int fd = plan.ScratchBase() + static_cast<int>(plan.Moves().size());
        if (int error = ::posix_spawn_file_actions_addopen(
                actions.get(), fd, request.controllingTerminal.c_str(), O_RDWR, 0))
            return error;
        if (int error = ::posix_spawn_file_actions_addclose(actions.get(), fd))
            return error;
    }

    pid_t started = -1;
    const int error = ::posix_spawn(&started, request.program.c_str(), actions.get(),
                                    attributes.get(), plan.Argv(), plan.Envp());
    if (error == 0)
        pid = started;
    return error;
}

int WaitForProcess(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return status;
}

} // namespace cptlib::platform
