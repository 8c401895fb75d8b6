// Runs on a machine that other users share: a launcher file replaced while it runs, names that
// would drive the terminal, folder names another user predicts and plants, folders of killed
// runs, and folders that others could swap under a run as root. TMPDIR points into the test's
// folder, so that what a run leaves there shows.

#include "cptlib/platform/FolderLock.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <thread>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uid_t kNobody = 65534;

std::vector<fs::path> RunFoldersIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().rfind("vrn", 0) == 0)
            found.push_back(entry.path());
    return found;
}

class SharedMachine : public ::testing::Test {
protected:
    void SetUp() override {
        stub = SmallStub(dir.path());
        fs::create_directories(tmp);
    }

    // A launcher whose setup.sh writes `mark` to the file "ran".
    fs::path Make(const std::string& name, const std::string& config, const std::string& mark,
                  const std::string& extraScript = "") {
        const fs::path product = dir / (name + "-product");
        WriteExecutable(product / "setup.sh", "#!/bin/sh\n" + extraScript + "echo " + mark + " > " +
                                                  (dir / "ran").string() + "\n");
        WriteFile(dir / (name + ".cfg"), config);
        const fs::path out = dir / name;
        const auto r = CreateLauncher(dir / (name + ".cfg"), product, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    std::map<std::string, std::string> Environment() const {
        return {{"PATH", "/usr/bin:/bin"},
                {"HOME", dir.path().string()},
                {"LANG", "en_US.UTF-8"},
                {"TERM", "xterm"},
                {"TMPDIR", tmp.string()},
                {"SFX_LOG", (dir / "log").string()},
                {"XDG_CACHE_HOME", (dir / "cache").string()}};
    }

    ProcessResult Run(const fs::path& launcher, std::vector<std::string> args = {},
                      std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), launcher.string());
        auto merged = Environment();
        for (auto& [key, value] : env)
            merged[key] = value;
        return RunProcess(args, merged, dir.path().string());
    }

    std::string Ran() const { return fs::exists(dir / "ran") ? ReadFile(dir / "ran") : ""; }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

const std::string kPlain = "[main]\nProductName=Demo\nSetupFileName=setup.sh\n";

// The file that is running is the one that is read, whatever is put under its name meanwhile.
TEST_F(SharedMachine, AFileReplacedWhileAPromptWaitsIsNotRead) {
    const fs::path first = Make(
        "first", kPlain + "[LANG_en-US]\nProductName=Demo\n[LANG_de-DE]\nProductName=D\n", "first");
    // Another product whose setup has another name: its setup.sh would tell on itself.
    const fs::path second = Make("second",
                                 "[main]\nProductName=Other\nSetupFileName=other.sh\n"
                                 "[LANG_en-US]\nProductName=Other\n",
                                 "wrong");
    WriteExecutable(dir / "second-product/other.sh",
                    "#!/bin/sh\necho second > " + (dir / "ran").string() + "\n");
    ASSERT_EQ(CreateLauncher(dir / "second.cfg", dir / "second-product", second, stub).status, 0);

    PseudoTerminal terminal;
    terminal.Start({first.string()}, Environment(), dir.path().string());
    ASSERT_TRUE(terminal.WaitFor("q = Cancel: ", 20s)) << terminal.Output();
    fs::rename(second, first);
    terminal.Type("1\n");
    EXPECT_EQ(terminal.WaitForExit(20s), 0) << terminal.Output() << ReadFile(dir / "log");
    EXPECT_EQ(Ran(), "first\n") << terminal.Output();
    EXPECT_TRUE(RunFoldersIn(tmp).empty());
}

// An item whose name holds escape sequences fails to extract; every place that names it shows
// the sequences as text.
TEST_F(SharedMachine, NamesWithEscapeSequencesAreShownEscaped) {
    const std::string evil = "dir\x1b]0;owned\x07\x1b[2J";
    const fs::path product = dir / "evil-product";
    WriteFile(product / (evil + "/inner.txt"), "inside\n");
    const fs::path archive = Pack7z(product, dir / "evil.7z");
    WriteFile(dir / "config.txt", "[main]\nProductName=Demo\n");
    const fs::path launcher = dir / "evil-launcher";
    ASSERT_EQ(CreateLauncherFromArchive(dir / "config.txt", archive, launcher, stub).status, 0);
    // A file where the item's folder must go.
    WriteFile(dir / "out" / evil, "in the way\n");

    const auto r = Run(launcher, {"/x", (dir / "out").string(), "/overwriteanswer", "YesToAll"});
    EXPECT_NE(r.status, 0) << r.err;
    const std::string log = ReadFile(dir / "log");
    for (const auto& [where, text] : {std::pair{"terminal", r.err}, std::pair{"log", log}}) {
        EXPECT_EQ(text.find('\x1b'), std::string::npos) << where << ": " << text;
        EXPECT_EQ(text.find('\x07'), std::string::npos) << where << ": " << text;
    }
    EXPECT_NE(r.err.find("dir\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << r.err;
    EXPECT_NE(log.find("dir\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << log;
}

// The folder names of the generator as it was once seeded: the start time and the process id.
std::vector<std::string> PredictedNames(std::uint32_t seed, int count) {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::vector<std::string> names;
    std::uint32_t state = seed;
    for (int n = 0; n < count; ++n) {
        std::string name = "vrn";
        for (int i = 0; i < 8; ++i) {
            state = state * 214013u + 2531011u;
            name += kAlphabet[((state >> 16) & 0x7FFF) % 36];
        }
        names.push_back(name);
    }
    return names;
}

TEST_F(SharedMachine, PlantedPredictedNamesDoNotStopARun) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "planting as another user needs root";
    // A shared temporary folder, as /tmp is.
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
    const fs::path launcher = Make("plain", kPlain, "ran");
    PseudoTerminal terminal;
    // The shell becomes the launcher with the same process id once a line arrives, so its id
    // is known before the launcher starts.
    terminal.Start({"/bin/sh", "-c", "read line; exec \"$0\"", launcher.string()}, Environment(),
                   dir.path().string());
    const auto pid = static_cast<std::uint32_t>(terminal.Pid());
    const auto now = static_cast<std::uint32_t>(std::time(nullptr));
    int planted = 0;
    for (std::uint32_t t = now; t < now + 3; ++t)
        for (const auto& name : PredictedNames(t ^ pid, 100)) {
            const fs::path folder = tmp / name;
            if (fs::create_directory(folder) && ::chown(folder.c_str(), kNobody, kNobody) == 0)
                ++planted;
        }
    ASSERT_GE(planted, 290);
    terminal.Type("\n");
    EXPECT_EQ(terminal.WaitForExit(20s), 0) << terminal.Output() << ReadFile(dir / "log");
    EXPECT_EQ(Ran(), "ran\n");
    // Another user's folders are theirs: all still there, and nothing else.
    EXPECT_EQ(RunFoldersIn(tmp).size(), static_cast<std::size_t>(planted));
}

TEST_F(SharedMachine, TheNextRunRemovesFoldersOfKilledRunsOnly) {
    const fs::path pidFile = dir / "setup.pid";
    const fs::path launcher =
        Make("slow", kPlain, "ran", "echo $$ > " + pidFile.string() + "\nsleep 30\n");
    PseudoTerminal terminal;
    terminal.Start({launcher.string()}, Environment(), dir.path().string());
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    // The shell makes the file before it writes the number into it.
    const auto written = [&] { return fs::exists(pidFile) && ReadFile(pidFile).ends_with('\n'); };
    while (!written() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(written()) << terminal.Output();
    terminal.Signal(SIGKILL);
    EXPECT_EQ(terminal.WaitForExit(5s), 128 + SIGKILL);
    ::kill(std::stoi(ReadFile(pidFile)), SIGKILL);
    const auto left = RunFoldersIn(tmp);
    ASSERT_EQ(left.size(), 1u) << "the killed run leaves its folder";

    // A live run's folder, and a folder of another user.
    fs::create_directory(tmp / "vrnlive1234");
    cptlib::platform::FolderLock live;
    ASSERT_EQ(cptlib::platform::LockOwnFolder((tmp / "vrnlive1234").string(), live), 0u);
    const bool root = ::geteuid() == 0;
    if (root) {
        fs::create_directory(tmp / "vrnother123");
        ASSERT_EQ(::chown((tmp / "vrnother123").c_str(), kNobody, kNobody), 0);
    }

    fs::remove(dir / "log");
    const auto r = Run(Make("quick", kPlain, "quick"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Ran(), "quick\n");
    EXPECT_FALSE(fs::exists(left[0]));
    EXPECT_NE(ReadFile(dir / "log").find(left[0].string()), std::string::npos)
        << ReadFile(dir / "log");
    EXPECT_TRUE(fs::exists(tmp / "vrnlive1234"));
    if (root) {
        EXPECT_TRUE(fs::exists(tmp / "vrnother123"));
    }
}

// Others may rename entries in a folder they can write without the sticky bit: the run goes to
// the next place.
TEST_F(SharedMachine, ATemporaryFolderOthersCanWriteWithoutTheStickyBitIsPassedOver) {
    fs::permissions(tmp, fs::perms::all);
    fs::create_directories(dir / "runtime");
    fs::permissions(dir / "runtime", fs::perms::owner_all);
    const fs::path launcher =
        Make("plain", kPlain, "ran", "pwd > " + (dir / "where").string() + "\n");
    const auto r = Run(launcher, {}, {{"XDG_RUNTIME_DIR", (dir / "runtime").string()}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Ran(), "ran\n");
    EXPECT_TRUE(fs::is_empty(tmp));
    EXPECT_EQ(ReadFile(dir / "where").rfind((dir / "runtime").string(), 0), 0u)
        << ReadFile(dir / "where");
}

// As root, /x refuses a folder that another user owns, or one to be made in such a folder,
// naming that user's folder, and writes nothing there; root's own link to root's own folder is
// followed, wherever it stands in the path.
TEST_F(SharedMachine, RootRefusesPlantedExtractFolders) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    const fs::path launcher = Make("plain", kPlain, "ran");
    fs::create_directories(dir / "mine");
    fs::create_directory_symlink(dir / "mine", dir / "link");
    // Planted by another user, as that user.
    fs::create_directories(dir / "shared");
    fs::permissions(dir / "shared", fs::perms::all | fs::perms::sticky_bit);
    fs::create_directories(dir / "open");
    fs::permissions(dir / "open", fs::perms::all);
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    const auto planted = RunProcess({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", "mkdir", (dir / "shared/planted").string()});
    if (planted.status != 0) {
        fs::create_directory(dir / "shared/planted");
        ASSERT_EQ(::chown((dir / "shared/planted").c_str(), kNobody, kNobody), 0);
    }
    const std::string theirs = "The folder '" + (dir / "shared/planted").string() +
                               "' belongs to another user (nobody); a run as root does not "
                               "extract to '";
    struct Case {
        fs::path target;
        std::string why;
    };
    for (const Case& c :
         {Case{dir / "shared/planted", theirs + (dir / "shared/planted").string() + "'"},
          Case{dir / "shared/planted/sub", theirs + (dir / "shared/planted/sub").string() + "'"},
          Case{dir / "open/new",
               "The folder '" + (dir / "open").string() + "' can be changed by other users"}}) {
        const auto r = Run(launcher, {"/x", c.target.string()});
        EXPECT_EQ(r.status, 65) << c.target << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(c.target / "setup.sh")) << c.target;
    }
    EXPECT_TRUE(fs::is_empty(dir / "shared/planted"));
    EXPECT_TRUE(fs::is_empty(dir / "open"));
    // The user's own folders are fine: through root's link, and one still to be made.
    EXPECT_EQ(Run(launcher, {"/x", (dir / "link").string()}).status, 0);
    EXPECT_TRUE(fs::exists(dir / "mine/setup.sh"));
    EXPECT_EQ(Run(launcher, {"/x", (dir / "shared/new/deeper").string()}).status, 0);
    EXPECT_TRUE(fs::exists(dir / "shared/new/deeper/setup.sh"));
}

} // namespace
