// The run's own temporary folder: names that other users cannot predict, the lock that marks a
// folder in use, the removal of folders that runs left behind, and the folders a run refuses.

#include "cptlib/platform/FolderLock.h"
#include "cptlib/platform/FolderSafety.h"
#include "cptlib/platform/SystemRandom.h"
#include "launcher/Random.h"
#include "launcher/StaleFolders.h"
#include "launcher/TemporaryFolder.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using testsupport::ScratchTest;
using testsupport::WriteFile;

constexpr uid_t kNobody = 65534;

TEST(FolderNames, GeneratorsStartedAtTheSameTimeInOneProcessDiffer) {
    // Time and process id are the same for both; only the system's random source differs.
    SeedRandom(cptlib::platform::SystemRandomSeed());
    const std::string first = MakeRandomFolderName();
    SeedRandom(cptlib::platform::SystemRandomSeed());
    const std::string second = MakeRandomFolderName();
    EXPECT_NE(first, second);
    EXPECT_TRUE(IsRunFolderName(first)) << first;
}

using StaleFolders = ScratchTest;

TEST_F(StaleFolders, RemovesOnlyUnlockedFoldersOfOursOwnedByThisUser) {
    const bool root = ::geteuid() == 0;
    // Left by a killed run, with contents.
    WriteFile(folder_ / "vrnstale001/setup.sh", "#!/bin/sh\n");
    fs::create_directories(folder_ / "vrnstale001/deep/er");
    fs::create_directory(folder_ / "vrnempty002");
    // A live run's folder.
    fs::create_directory(folder_ / "vrnlive0003");
    cptlib::platform::FolderLock live;
    ASSERT_EQ(cptlib::platform::LockOwnFolder((folder_ / "vrnlive0003").string(), live), 0u);
    // Not of our form, or not a folder.
    fs::create_directory(folder_ / "vrnshort");
    fs::create_directory(folder_ / "VRNupper004");
    fs::create_directory(folder_ / "mine");
    WriteFile(folder_ / "vrnfile0005", "a file");
    // A link of our form to a folder of the user's: never followed, never removed.
    fs::create_directory(folder_ / "target");
    WriteFile(folder_ / "target/keep.txt", "keep");
    fs::create_directory_symlink(folder_ / "target", folder_ / "vrnlink0006");
    if (root) {
        fs::create_directory(folder_ / "vrnother007");
        ASSERT_EQ(::chown((folder_ / "vrnother007").c_str(), kNobody, kNobody), 0);
    }

    const auto removed = RemoveStaleFolders(folder_.string() + "/");

    EXPECT_EQ(std::set<std::string>(removed.begin(), removed.end()),
              (std::set<std::string>{"vrnstale001", "vrnempty002"}));
    EXPECT_FALSE(fs::exists(folder_ / "vrnstale001"));
    EXPECT_FALSE(fs::exists(folder_ / "vrnempty002"));
    for (const char* kept : {"vrnlive0003", "vrnshort", "VRNupper004", "mine", "vrnfile0005",
                             "vrnlink0006", "target/keep.txt"})
        EXPECT_TRUE(fs::exists(fs::symlink_status(folder_ / kept))) << kept;
    if (root) {
        EXPECT_TRUE(fs::exists(folder_ / "vrnother007"));
    }

    // Once its run has ended, the folder is stale too.
    live.Release();
    EXPECT_EQ(RemoveStaleFolders(folder_.string() + "/"), std::vector<std::string>{"vrnlive0003"});
}

TEST_F(StaleFolders, ANewRunSweepsItsTemporaryParentAndLocksItsFolder) {
    testsupport::ScopedEnv tmp("TMPDIR", folder_.string());
    fs::create_directory(folder_ / "vrnleftover");
    std::string made = (folder_ / "vrnnew00001").string();
    cptlib::platform::FolderLock lock;
    cptlib::platform::FolderHandle handle;
    ASSERT_EQ(CreateExtractFolder(made, handle, &lock), 0u);
    EXPECT_TRUE(lock.Held());
    EXPECT_FALSE(fs::exists(folder_ / "vrnleftover"));
    EXPECT_TRUE(fs::is_directory(made));
    // A second run finds it in use.
    EXPECT_TRUE(RemoveStaleFolders(folder_.string() + "/").empty());
    EXPECT_TRUE(fs::is_directory(made));
}

TEST_F(StaleFolders, AFolderTheUserChoseIsNotSwept) {
    testsupport::ScopedEnv tmp("TMPDIR", (folder_ / "tmp").string());
    fs::create_directories(folder_ / "tmp");
    fs::create_directories(folder_ / "chosen/vrnleftover");
    std::string made = (folder_ / "chosen/vrnnew00001").string();
    cptlib::platform::FolderLock lock;
    cptlib::platform::FolderHandle handle;
    ASSERT_EQ(CreateExtractFolder(made, handle, &lock), 0u);
    EXPECT_TRUE(fs::exists(folder_ / "chosen/vrnleftover"));
}

TEST_F(StaleFolders, SharedParentsWithoutTheStickyBitAreForOthersToChange) {
    struct Case {
        fs::perms mode;
        bool shared;
    };
    const Case cases[] = {
        {fs::perms::owner_all, false},
        {fs::perms::all, true},
        {fs::perms::all | fs::perms::sticky_bit, false},
        {fs::perms::owner_all | fs::perms::others_write | fs::perms::others_exec, true},
    };
    fs::create_directory(folder_ / "parent");
    for (const auto& c : cases) {
        fs::permissions(folder_ / "parent", c.mode);
        EXPECT_EQ(cptlib::platform::OthersMayReplaceEntries((folder_ / "parent").string()),
                  c.shared)
            << std::oct << static_cast<unsigned>(c.mode);
    }
}

TEST_F(StaleFolders, ASharedTemporaryFolderIsPassedOver) {
    fs::create_directory(folder_ / "open");
    fs::permissions(folder_ / "open", fs::perms::all);
    testsupport::ScopedEnv tmp("TMPDIR", (folder_ / "open").string());
    std::string chosen;
    ASSERT_EQ(ChooseTemporaryFolder(chosen), 0u);
    EXPECT_NE(chosen.rfind((folder_ / "open").string(), 0), 0u) << chosen;
    EXPECT_TRUE(IsRunFolderName(fs::path(chosen).filename().string())) << chosen;
}

// Refused is only what another user could swap; a missing folder is made, and a link nobody
// else can change is followed, wherever it stands in the path.
TEST_F(StaleFolders, ARootTargetFolderIsOpenedFromTheRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs another user's folders";
    fs::create_directories(folder_ / "own/sub");
    fs::create_directory(folder_ / "theirs");
    ASSERT_EQ(::chown((folder_ / "theirs").c_str(), kNobody, kNobody), 0);
    fs::create_directory(folder_ / "open");
    fs::permissions(folder_ / "open", fs::perms::all);
    fs::create_directory(folder_ / "sticky");
    fs::permissions(folder_ / "sticky", fs::perms::all | fs::perms::sticky_bit);
    fs::create_directory_symlink(folder_ / "own", folder_ / "link");
    fs::create_directory_symlink("own/sub", folder_ / "relative");
    ASSERT_EQ(::symlink((folder_ / "own").c_str(), (folder_ / "sticky/theirlink").c_str()), 0);
    ASSERT_EQ(::lchown((folder_ / "sticky/theirlink").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::symlink((folder_ / "own").c_str(), (folder_ / "sticky/rootlink").c_str()), 0);
    fs::create_directory_symlink(folder_ / "theirs", folder_ / "tothem");
    using Reason = cptlib::platform::FolderRefusal::Reason;
    struct Case {
        const char* path;
        Reason reason;
        const char* where; // the folder or link named, below the test folder
        const char* opened;
    };
    const Case cases[] = {
        {"own", Reason::None, "", "own"},
        {"own/new/deeper", Reason::None, "", "own/new/deeper"},
        {"link", Reason::None, "", "own"},
        {"link/", Reason::None, "", "own"},
        {"link/sub", Reason::None, "", "own/sub"},
        {"relative", Reason::None, "", "own/sub"},
        {"sticky/new", Reason::None, "", "sticky/new"},
        {"sticky/rootlink/sub", Reason::None, "", "own/sub"},
        {"own/../own/sub", Reason::None, "", "own/sub"},
        {"theirs", Reason::OtherOwner, "theirs", ""},
        {"theirs/new", Reason::OtherOwner, "theirs", ""},
        {"tothem/new", Reason::OtherOwner, "theirs", ""},
        {"open/new", Reason::OthersMayWrite, "open", ""},
        {"sticky/theirlink/sub", Reason::OthersLink, "sticky/theirlink", ""},
    };
    for (const auto& c : cases) {
        cptlib::platform::FolderHandle handle;
        cptlib::platform::FolderRefusal refusal;
        const bool opened =
            cptlib::platform::OpenFolderSafely((folder_ / c.path).string(), handle, refusal);
        EXPECT_EQ(refusal.reason, c.reason) << c.path;
        EXPECT_EQ(opened, c.reason == Reason::None) << c.path;
        if (c.reason != Reason::None) {
            EXPECT_EQ(refusal.where, (folder_ / c.where).string()) << c.path;
            continue;
        }
        struct stat got {};
        struct stat want {};
        ASSERT_EQ(::fstat(cptlib::platform::DescriptorOf(&handle), &got), 0) << c.path;
        ASSERT_EQ(::stat((folder_ / c.opened).c_str(), &want), 0) << c.path;
        EXPECT_EQ(got.st_ino, want.st_ino) << c.path;
    }
    EXPECT_FALSE(fs::exists(folder_ / "theirs/new"));
    EXPECT_FALSE(fs::exists(folder_ / "open/new"));
}

} // namespace
