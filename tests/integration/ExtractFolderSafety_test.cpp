// Whole runs against a hostile neighbour and hostile archives: another user swapping the fresh
// extract folder's name, archived modes that would open files to everyone, a tree deeper than
// the descriptors a process may hold, and a setup that moves its folder away.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

constexpr int kExitFailed = 65; // damaged file, or a temporary folder that could not be made

class ExtractFolderSafety : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
    }

    fs::path Launcher(const fs::path& product, const std::string& config,
                      const std::string& name = "launcher") {
        WriteFile(dir / (name + ".txt"), config);
        const fs::path archive = Pack7z(product, dir / (name + ".7z"));
        const fs::path out = dir / name;
        const ProcessResult r =
            CreateLauncherFromArchive(dir / (name + ".txt"), archive, out, stub);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    // Runs the launcher through the shell, so that `prefix` can set limits first.
    ProcessResult Run(const fs::path& launcher, const std::vector<std::string>& args,
                      const std::string& prefix = "umask 022;",
                      const fs::path& tmpdir = fs::path()) {
        std::string command = prefix + " exec " + ShellQuote(launcher.string());
        for (const auto& arg : args)
            command += " " + ShellQuote(arg);
        return RunShell(command,
                        {{"LANG", "en_US.UTF-8"},
                         {"LC_ALL", ""},
                         {"TMPDIR", (tmpdir.empty() ? tmp : tmpdir).string()}},
                        dir.path().string());
    }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path stub;
};

bool CanRunAsNobody() {
    return ::geteuid() == 0 &&
           RunShell("setpriv --reuid=65534 --regid=65534 --clear-groups true").status == 0;
}

// Another user renames each fresh extract folder away and puts a folder or a link of their own,
// with a setup.sh, in its place; the launcher must go on with the folder it made. As root the
// neighbour is user nobody and owns the temporary parent (mode 0755, no sticky bit: the owner
// may rename anything in it, like anyone in a world-writable folder, but the launcher still
// accepts the parent); else the neighbour is a second process of the same user.
TEST_F(ExtractFolderSafety, ASwapOfTheFolderNameNeverRunsAnotherSetup) {
    const bool asNobody = CanRunAsNobody();
    const fs::path shared = dir / "shared";
    const fs::path evidence = dir / "evidence";
    fs::create_directories(shared);
    fs::create_directories(evidence);
    fs::permissions(evidence, fs::perms(0777));
    if (asNobody) {
        fs::permissions(dir.path(), fs::perms(0755));
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    }
    const fs::path product = dir / "product";
    // A payload that takes a moment to write widens the window between creation and start.
    WriteFile(product / "payload.bin", IncompressibleBytes(4 << 20));
    WriteExecutable(product / "setup.sh",
                    "#!/bin/sh\necho ours >> " + ShellQuote((dir / "record").string()) + "\n");
    const fs::path launcher =
        Launcher(product, "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");

    const std::string attacker =
        "cd " + ShellQuote(shared.string()) +
        " || exit 1\n"
        "mkdir -p .mine && printf '#!/bin/sh\\ntouch " +
        (evidence / "pwned").string() +
        "\\n' > .mine/setup.sh && chmod 755 .mine/setup.sh\n"
        "n=0\n"
        "while [ ! -e .stop ]; do\n"
        "  for d in vrn*; do\n"
        "    [ -d \"$d\" ] && [ ! -L \"$d\" ] && [ ! -e \"$d/.theirs\" ] || continue\n"
        "    mv \"$d\" \".away$n\" 2>/dev/null || continue\n"
        "    if [ $((n % 2)) = 0 ]; then ln -s .mine \"$d\";\n"
        "    else cp -r .mine \"$d\" && touch \"$d/.theirs\"; fi\n"
        "    n=$((n + 1))\n"
        "  done\n"
        "done\n"
        "echo swaps=$n\n";
    WriteFile(dir / "attacker.sh", attacker);
    fs::permissions(dir / "attacker.sh", fs::perms(0755));
    const std::string run =
        (asNobody ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "") +
        std::string("/bin/sh ") + ShellQuote((dir / "attacker.sh").string());
    const ProcessResult started =
        RunShell("(" + run + " > " + ShellQuote((dir / "attacker.log").string()) +
                 " 2>&1 &) ; echo started");
    ASSERT_EQ(started.status, 0);

    constexpr int kRuns = 20;
    int succeeded = 0;
    int ours = 0;
    const auto countOurs = [&] {
        std::istringstream record(ReadFile(dir / "record"));
        int count = 0;
        for (std::string line; std::getline(record, line);)
            count += line == "ours";
        return count;
    };
    for (int i = 0; i < kRuns; ++i) {
        const ProcessResult r = Run(launcher, {"/q"}, "umask 022;", shared);
        // Decided either way: the setup ran, or the run says its folder could not be made or
        // removed; a run without our setup never ends 0.
        const int now = countOurs();
        EXPECT_TRUE(r.status == 0 || r.status == kExitFailed) << r.status << " " << r.err;
        EXPECT_TRUE(now == ours + 1 || r.status == kExitFailed) << r.status << " " << r.err;
        ours = now;
        succeeded += r.status == 0;
    }
    WriteFile(shared / ".stop", "");
    for (int wait = 0;
         wait < 100 && ReadFile(dir / "attacker.log").find("swaps=") == std::string::npos; ++wait)
        ::usleep(50000);

    EXPECT_FALSE(fs::exists(evidence / "pwned")) << "another user's setup ran";
    // Our setup still ran, whatever happened to the folder's name.
    EXPECT_GT(ours, 0);
    // The folders of ours that were moved away are emptied; what the neighbour put is theirs.
    for (const auto& entry : fs::directory_iterator(shared)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(".away") && !entry.is_symlink()) {
            EXPECT_TRUE(fs::is_empty(entry.path())) << name;
        }
    }
    const std::string log = ReadFile(dir / "attacker.log");
    RecordProperty("attacker", log);
    std::cout << "neighbour: " << log << "runs ending 0: " << succeeded
              << ", our setup ran: " << ours << "/" << kRuns << "\n";
}

// Archived modes are masked by the umask and lose set-id and sticky bits, in a folder of /x and
// in the temporary folder seen by the setup; the setup keeps its execute bits.
TEST_F(ExtractFolderSafety, RestoredModesFollowTheUmaskWithoutSpecialBits) {
    struct Case {
        std::string name;
        unsigned archived;
        unsigned expected; // under umask 022
        bool folder = false;
    };
    const std::vector<Case> cases = {
        {"all.bin", 0777, 0755},     {"shared.txt", 0666, 0644},      {"setuid.bin", 04755, 0755},
        {"setgid.bin", 02777, 0755}, {"sticky.d", 01777, 0755, true}, {"private.txt", 0600, 0600},
        {"setup.sh", 0700, 0700},
    };
    const fs::path product = dir / "product";
    const fs::path report = dir / "modes.txt";
    std::string setup = "#!/bin/sh\n: > " + ShellQuote(report.string()) + "\n";
    for (const Case& c : cases) {
        if (c.folder)
            fs::create_directories(product / c.name);
        else if (c.name != "setup.sh")
            WriteFile(product / c.name, "x\n");
        setup += "stat -c '%n %a' " + c.name + " >> " + ShellQuote(report.string()) + "\n";
    }
    WriteFile(product / "setup.sh", setup);
    for (const Case& c : cases)
        ASSERT_EQ(::chmod((product / c.name).c_str(), c.archived), 0) << c.name;
    const fs::path launcher =
        Launcher(product, "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");

    const fs::path out = dir / "out";
    ProcessResult r = Run(launcher, {"/q", "/x", out.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const Case& c : cases)
        EXPECT_EQ(ModeOf(out / c.name), c.expected)
            << "/x " << c.name << std::oct << " " << ModeOf(out / c.name);

    r = Run(launcher, {"/q"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::map<std::string, unsigned> seen;
    std::istringstream lines(ReadFile(report));
    for (std::string name, mode; lines >> name >> mode;)
        seen[name] = static_cast<unsigned>(std::stoul(mode, nullptr, 8));
    for (const Case& c : cases)
        EXPECT_EQ(seen[c.name], c.expected) << "setup sees " << c.name;
    EXPECT_TRUE(fs::is_empty(tmp));
}

// A tree far deeper than the descriptors the process may hold is removed in full.
TEST_F(ExtractFolderSafety, ADeepTreeIsRemovedWithFewDescriptors) {
    const fs::path product = dir / "product";
    fs::create_directories(product);
    // Made level by level: the whole path is longer than one call may name.
    const ProcessResult made =
        RunShell("p=$(printf 'd/%.0s' $(seq 100)); for i in $(seq 15); do mkdir -p \"$p\" && "
                 "cd -P \"$p\" || exit 1; done; echo deep > bottom.txt",
                 {}, product.string());
    ASSERT_EQ(made.status, 0) << made.err;
    WriteFile(product / "d/d/near.txt", "near\n");
    const fs::path record = dir / "record";
    WriteExecutable(product / "setup.sh",
                    "#!/bin/sh\necho ran > " + ShellQuote(record.string()) + "\n");
    const fs::path launcher =
        Launcher(product, "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");

    const ProcessResult r = Run(launcher, {"/q"}, "ulimit -n 256; umask 022;");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(record), "ran\n");
    EXPECT_TRUE(fs::is_empty(tmp)) << "the deep tree stayed";
}

// A setup that moves its own folder away and plants another in its place: the folder is emptied
// through its descriptor, the planted one is not touched, and the run keeps the setup's status
// but warns that the folder stayed.
TEST_F(ExtractFolderSafety, AFolderThatCannotBeRemovedIsWarnedAbout) {
    const fs::path product = dir / "product";
    WriteFile(product / "data.txt", "data\n");
    WriteExecutable(product / "setup.sh", "#!/bin/sh\nd=$(pwd)\nmv \"$d\" \"$d.moved\" && "
                                          "mkdir \"$d\" && echo keep > \"$d/planted\"\n");
    const fs::path launcher =
        Launcher(product, "[main]\nProductName=Demo\nSetupFileName=setup.sh\n");

    const ProcessResult r = Run(launcher, {"/q"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("could not be removed"), std::string::npos) << r.err;
    int planted = 0;
    for (const auto& entry : fs::directory_iterator(tmp)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".moved")) {
            EXPECT_TRUE(fs::is_empty(entry.path())) << "the moved folder keeps its contents";
        } else {
            EXPECT_EQ(ReadFile(entry.path() / "planted"), "keep\n");
            ++planted;
        }
    }
    EXPECT_EQ(planted, 1);
}

} // namespace
