// Starting programs: what the started program gets (folder, streams, environment, signals,
// descriptors) through both ways of starting, and the program search over PATH.

#include "cptlib/platform/ChildProcess.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/ProgramSearch.h"
#include "cptlib/platform/Spawn.h"
#include "cptlib/platform/SpawnCollect.h"
#include "cptlib/platform/SpawnDetached.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace cptlib::platform;
using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteFile;
namespace fs = std::filesystem;

class Pipe {
public:
    Pipe() {
        if (::pipe2(fds_, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe2 failed");
    }
    ~Pipe() {
        CloseWrite();
        ::close(fds_[0]);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    int read() const { return fds_[0]; }
    int write() const { return fds_[1]; }
    void CloseWrite() {
        if (fds_[1] >= 0)
            ::close(fds_[1]);
        fds_[1] = -1;
    }
    // Everything written until the last write end closes.
    std::string Drain() {
        CloseWrite();
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = ::read(fds_[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

private:
    int fds_[2] = {-1, -1};
};

// Restores the signal state of the calling thread and process.
class SignalState {
public:
    SignalState() {
        ::pthread_sigmask(SIG_SETMASK, nullptr, &mask_);
        ::sigaction(SIGINT, nullptr, &interrupt_);
    }
    ~SignalState() {
        ::sigaction(SIGINT, &interrupt_, nullptr);
        ::pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
    }
    SignalState(const SignalState&) = delete;
    SignalState& operator=(const SignalState&) = delete;

private:
    sigset_t mask_{};
    struct sigaction interrupt_ {};
};

class ScopedCurrentFolder {
public:
    explicit ScopedCurrentFolder(const fs::path& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~ScopedCurrentFolder() {
        std::error_code ec;
        fs::current_path(previous_, ec);
    }
    ScopedCurrentFolder(const ScopedCurrentFolder&) = delete;
    ScopedCurrentFolder& operator=(const ScopedCurrentFolder&) = delete;

private:
    fs::path previous_;
};

// A descriptor opened the careless way: without close-on-exec, above the numbers the started
// tools use themselves.
class LeakyDescriptor {
public:
    LeakyDescriptor() {
        const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        fd_ = ::fcntl(fd, F_DUPFD, 60);
        ::close(fd);
    }
    ~LeakyDescriptor() { ::close(fd_); }
    LeakyDescriptor(const LeakyDescriptor&) = delete;
    LeakyDescriptor& operator=(const LeakyDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_ = -1;
};

// The two ways of starting, each returning the wait status of a program that ends by itself.
struct Starter {
    const char* name;
    std::function<int(const SpawnRequest&)> run;
};

const Starter kStarters[] = {
    {"Spawn",
     [](const SpawnRequest& request) {
         pid_t pid = -1;
         const int error = Spawn(request, pid);
         if (error != 0)
             return -1000 - error;
         return WaitForProcess(pid);
     }},
    {"SpawnDetached",
     [](const SpawnRequest& request) {
         const DetachedOutcome outcome = SpawnDetached(request, nullptr, std::chrono::seconds(20));
         if (outcome.kind == DetachedOutcome::Kind::Failed)
             return -1000 - outcome.error;
         if (outcome.kind != DetachedOutcome::Kind::Exited)
             return -1;
         return outcome.value << 8; // an exit status as waitpid reports it
     }},
};

TEST(Spawn, TheProgramGetsWhatTheRequestSaysAndNothingElse) {
    TempDir temp;
    const std::string folder = fs::canonical(temp.path()).string();
    struct Case {
        const char* name;
        // Fills the request; `fd3` is a write end the program may be given as descriptor 3.
        std::function<void(SpawnRequest&, int out, int fd3)> prepare;
        // Checks what the program wrote to its output and descriptor 3.
        std::function<void(const std::string& out, const std::string& fd3)> check;
    };
    ScopedEnv inherited("SPAWN_TEST_INHERITED", "from the caller");
    const LeakyDescriptor leaky;
    ASSERT_GE(leaky.get(), 60);
    const std::string leakyName = "/proc/self/fd/" + std::to_string(leaky.get());
    const auto shell = [](SpawnRequest& request, const std::string& script) {
        request.program = "/bin/sh";
        request.arguments = {"-c", script};
    };
    const Case cases[] = {
        {"working folder",
         [&](SpawnRequest& r, int, int) {
             shell(r, "pwd");
             r.directory = folder;
         },
         [&](const std::string& out, const std::string&) { EXPECT_EQ(out, folder + "\n"); }},
        {"the caller's environment",
         [&](SpawnRequest& r, int, int) { shell(r, "echo \"$SPAWN_TEST_INHERITED\""); },
         [](const std::string& out, const std::string&) { EXPECT_EQ(out, "from the caller\n"); }},
        {"a given environment replaces the caller's",
         [&](SpawnRequest& r, int, int) {
             shell(r, "echo \"${SPAWN_TEST_INHERITED:-unset} $SPAWN_TEST_GIVEN\"");
             r.environment = Environment{{"SPAWN_TEST_GIVEN", "given"}};
         },
         [](const std::string& out, const std::string&) { EXPECT_EQ(out, "unset given\n"); }},
        {"streams: null input, output and errors to given descriptors, a further descriptor",
         [&](SpawnRequest& r, int out, int fd3) {
             shell(r, "wc -c; echo error >&2; echo three >&3");
             r.input = Stream::Null();
             r.error = Stream::From(out);
             r.descriptors = {fd3};
         },
         [](const std::string& out, const std::string& fd3) {
             EXPECT_EQ(out, "0\nerror\n");
             EXPECT_EQ(fd3, "three\n");
         }},
        {"no descriptor beyond those asked for",
         [&](SpawnRequest& r, int, int fd3) {
             shell(r, "[ -e " + leakyName + " ] && echo leaked; echo fd3 >&3");
             r.descriptors = {fd3};
         },
         [](const std::string& out, const std::string& fd3) {
             EXPECT_EQ(out, "");
             EXPECT_EQ(fd3, "fd3\n");
         }},
        {"descriptors without close-on-exec, when asked to pass them on",
         [&](SpawnRequest& r, int, int) {
             shell(r, "[ -e " + leakyName + " ] && echo passed on");
             r.passOnInheritable = true;
         },
         [](const std::string& out, const std::string&) { EXPECT_EQ(out, "passed on\n"); }},
    };
    for (const Starter& starter : kStarters) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(starter.name) + ": " + c.name);
            Pipe out, fd3;
            SpawnRequest request;
            request.output = Stream::From(out.write());
            c.prepare(request, out.write(), fd3.write());
            const int status = starter.run(request);
            fd3.CloseWrite();
            const std::string text = out.Drain();
            const std::string third = fd3.Drain();
            ASSERT_TRUE(WIFEXITED(status)) << status;
            c.check(text, third);
        }
    }
}

TEST(Spawn, TheProgramStartsWithDefaultSignalsWhateverTheCallerBlocksOrIgnores) {
    const SignalState restore;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGINT, &ignore, nullptr), 0);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGUSR1);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, nullptr), 0);

    for (const Starter& starter : kStarters) {
        SCOPED_TRACE(starter.name);
        Pipe out;
        SpawnRequest request;
        // grep itself is the started program, so its own status shows what it was given.
        request.program = "/bin/grep";
        request.arguments = {"-E", "^Sig(Blk|Ign):", "/proc/self/status"};
        request.output = Stream::From(out.write());
        const int status = starter.run(request);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        std::istringstream lines(out.Drain());
        std::string blocked, ignored;
        lines >> blocked >> blocked >> ignored >> ignored;
        EXPECT_EQ(blocked, "0000000000000000");
        // Signals 32 and 33 are the C library's own, which its spawn leaves ignored.
        EXPECT_EQ(std::stoull(ignored, nullptr, 16) & ~(std::uint64_t(3) << 31), 0u) << ignored;
    }
}

TEST(Spawn, ABareNameIsNeverTakenFromTheCurrentFolder) {
    TempDir temp;
    const fs::path marker = temp / "ran";
    for (const char* name : {"planted", "msiexec"})
        testsupport::WriteExecutable(temp / name,
                                     "#!/bin/sh\necho ran > '" + marker.string() + "'\n");
    const ScopedCurrentFolder here(temp.path());
    ASSERT_EQ(::access("./planted", X_OK), 0);

    SpawnRequest request;
    request.program = "planted";
    pid_t pid = -1;
    EXPECT_EQ(Spawn(request, pid), ENOENT);
    const DetachedOutcome detached = SpawnDetached(request, nullptr, std::chrono::seconds(5));
    EXPECT_EQ(detached.kind, DetachedOutcome::Kind::Failed);
    EXPECT_EQ(detached.error, ENOENT);
    // The setup start of an installer database without an installer on PATH.
    ChildProcess setup;
    EXPECT_EQ(setup.Start("msiexec", {"/i", "x.msi"}, ""), 2u);
    EXPECT_FALSE(setup.Started());

    const ScopedEnv path("PATH", ":.:../" + temp.path().filename().string());
    EXPECT_EQ(FindProgram("planted"), "");
    EXPECT_EQ(FindProgram("msiexec"), "");
    EXPECT_FALSE(fs::exists(marker));
}

TEST(Spawn, CollectedOutputKeepsBothStreamsAndTheStatus) {
    SpawnRequest request;
    request.program = "/bin/sh";
    // More than a pipe holds on each stream, interleaved, so that reading one stream at a time
    // would wait for ever.
    request.arguments = {"-c", "i=0; while [ $i -lt 2000 ]; do echo out-$i; echo err-$i >&2; "
                               "i=$((i+1)); done; exit 7"};
    CollectedRun apart;
    ASSERT_EQ(RunCollectingOutput(request, apart), 0);
    EXPECT_EQ(WEXITSTATUS(apart.waitStatus), 7);
    EXPECT_EQ(apart.out.substr(0, 12), "out-0\nout-1\n");
    EXPECT_EQ(apart.err.substr(0, 12), "err-0\nerr-1\n");
    EXPECT_EQ(apart.out.size(), apart.err.size());

    CollectedRun merged;
    ASSERT_EQ(RunCollectingOutput(request, merged, true), 0);
    EXPECT_EQ(merged.err, "");
    EXPECT_EQ(merged.out.size(), apart.out.size() + apart.err.size());
    EXPECT_EQ(merged.out.substr(0, 12), "out-0\nerr-0\n");

    request.program = "/nonexistent/program";
    CollectedRun missing;
    EXPECT_EQ(RunCollectingOutput(request, missing), ENOENT);
    EXPECT_EQ(missing.waitStatus, -1);
}

// A program reads the text a pipe holds as its input, then the end; a text the pipe cannot
// hold is refused rather than blocking the caller.
TEST(SpawnCollect, APipeHoldingTextIsAProgramsInput) {
    FileDescriptor input;
    ASSERT_EQ(PipeHolding("line one\nline two", input), 0);
    SpawnRequest request;
    request.program = "/bin/cat";
    request.input = Stream::From(input.get());
    CollectedRun run;
    ASSERT_EQ(RunCollectingOutput(request, run), 0);
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), 0);
    EXPECT_EQ(run.out, "line one\nline two");

    FileDescriptor tooLarge;
    EXPECT_EQ(PipeHolding(std::string(std::size_t(16) << 20, 'x'), tooLarge), EMSGSIZE);
    EXPECT_FALSE(tooLarge);
}

TEST(ProgramSearch, OnlyExecutableFilesInAbsoluteFoldersCount) {
    TempDir temp;
    const fs::path a = temp / "a";
    const fs::path b = temp / "b";
    const fs::path c = temp / "c";
    fs::create_directories(a / "tool"); // a folder of that name
    fs::create_directories(b);
    fs::create_directories(c);
    WriteFile(b / "tool", "not executable\n");
    testsupport::WriteExecutable(c / "tool", "#!/bin/sh\n");
    const ScopedCurrentFolder here(temp.path());
    struct Case {
        std::string name;
        std::string path;
        std::string expected;
    };
    const Case cases[] = {
        {"tool", b.string(), ""},
        {"tool", a.string() + ":" + b.string() + ":" + c.string() + "/", (c / "tool").string()},
        {"tool", c.string() + ":" + b.string(), (c / "tool").string()},
        {"tool", ":relative:" + a.string(), ""},
        {"tool", "", ""},
        {"tool", ":", ""},
        {"tool", "c", ""},
        {"tool", "./c", ""},
        {"tool", "::c:" + c.string(), (c / "tool").string()},
        {"c/tool", c.string(), ""},
        {"", c.string(), ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name + " in " + k.path);
        EXPECT_EQ(FindProgram(k.name, k.path), k.expected);
    }
    const ScopedEnv path("PATH", "c:" + c.string());
    EXPECT_EQ(FindProgram("tool"), (c / "tool").string());
}

} // namespace

// The name started under counts when it leads to the running file, through a link or not;
// otherwise the running file's own path.
TEST(ProgramSearch, StartedAsPathIsTheNameThatLeadsToThisProgram) {
    TempDir temp;
    const fs::path module = GetModulePath();
    ASSERT_FALSE(module.empty());
    const fs::path links = temp / "links";
    fs::create_directories(links);
    fs::create_symlink(module, links / "run--phA1b2C3d4E5f6G7h8");
    fs::copy_file(module, links / "copy");
    const ScopedCurrentFolder here(temp.path());
    const ScopedEnv path("PATH", "links:" + links.string());
    const std::string cwd = temp.path().string() + "/";
    struct Case {
        std::string argument0;
        fs::path expected;
    };
    const Case cases[] = {
        {(links / "run--phA1b2C3d4E5f6G7h8").string(), links / "run--phA1b2C3d4E5f6G7h8"},
        {"links/run--phA1b2C3d4E5f6G7h8", cwd + "links/run--phA1b2C3d4E5f6G7h8"},
        {"./links/run--phA1b2C3d4E5f6G7h8", cwd + "./links/run--phA1b2C3d4E5f6G7h8"},
        {"run--phA1b2C3d4E5f6G7h8", links / "run--phA1b2C3d4E5f6G7h8"},
        {module.string(), module},
        // Names that lead elsewhere or nowhere.
        {(links / "copy").string(), module},
        {"copy", module},
        {"/nowhere/x--phA1b2C3d4E5f6G7h8", module},
        {"not-on-path", module},
        {"", module},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.argument0);
        EXPECT_EQ(StartedAsPath(k.argument0), k.expected);
    }
}
