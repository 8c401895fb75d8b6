#include "launcher/TemporaryFolder.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/Process.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace sfx;

using testsupport::ModeOf;

// A scratch folder with the tree to delete ("root") and a neighbour that links point into
// ("outside"). Permissions are restored before the scratch folder goes, so that a test run by an
// ordinary user can clean up after itself.
class CleanupTest : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_.emplace("cleanup-test-");
        base_ = scratch_->path();
        root_ = base_ / "root";
        outside_ = base_ / "outside";
        fs::create_directory(root_);
        fs::create_directory(outside_);
        testsupport::WriteFile(outside_ / "keep.txt", "keep");
        testsupport::WriteFile(base_ / "keep-file.txt", "keep file");
    }

    void TearDown() override { scratch_.reset(); }

    // One line per item: "d path", "f path", "l path target" ($OUT names the outside folder,
    // $FILE the outside file) and "m path octal" to change a mode afterwards ("." is the root).
    void Build(const std::vector<std::string>& items) {
        std::vector<std::pair<fs::path, fs::perms>> modes;
        for (const auto& item : items) {
            std::istringstream in(item);
            std::string kind, path, arg;
            in >> kind >> path >> arg;
            const fs::path full = path == "." ? root_ : root_ / path;
            if (kind == "d") {
                fs::create_directories(full);
            } else if (kind == "f") {
                testsupport::WriteFile(full, path);
            } else if (kind == "l") {
                const fs::path target = arg == "$OUT"    ? outside_
                                        : arg == "$FILE" ? base_ / "keep-file.txt"
                                                         : fs::path(arg);
                fs::create_symlink(target, full);
            } else if (kind == "m") {
                modes.emplace_back(full, static_cast<fs::perms>(std::stoi(arg, nullptr, 8)));
            } else {
                FAIL() << "bad item " << item;
            }
        }
        // Modes go last and in the order given (inner folders first), so that locking a folder
        // cannot get in the way of building or locking what is inside it.
        for (const auto& [path, perms] : modes)
            fs::permissions(path, perms, fs::perm_options::replace);
    }

    // What is left of the root, sorted; "." when the root itself is still there.
    std::vector<std::string> Remaining() const {
        std::vector<std::string> names;
        if (!fs::exists(fs::symlink_status(root_)))
            return names;
        names.push_back(".");
        testsupport::MakeOwnerAccessible(root_);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            names.push_back(fs::relative(it->path(), root_).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    void ExpectOutsideIntact() const {
        EXPECT_EQ(testsupport::ReadFile(outside_ / "keep.txt"), "keep");
        EXPECT_EQ(testsupport::ReadFile(base_ / "keep-file.txt"), "keep file");
    }

    std::optional<testsupport::TempDir> scratch_;
    fs::path base_, root_, outside_;
};

using Names = std::vector<std::string>;

struct TreeCase {
    const char* name;
    std::vector<std::string> tree;
    std::uint32_t mode;
    bool result;
    std::uint32_t error;
    Names remaining;
};

TEST_F(CleanupTest, DeletesTreesByMode) {
    const std::vector<std::string> nested = {"d a/b/c",  "f a/b/c/deep.txt", "f a/one.txt",
                                             "d ..x",    "f ..x/dots.txt",   "f .hidden",
                                             "f top.txt"};
    const std::vector<std::string> readOnlyFile = {"d sub", "f sub/ro.txt", "m sub/ro.txt 444",
                                                   "f sub/rw.txt", "f top.txt"};
    const std::vector<std::string> lockedFolder = {"d locked/inner", "f locked/inner/x.txt",
                                                   "m locked/inner 0", "m locked 555"};
    const TreeCase cases[] = {
        {"nested folders, names with leading dots", nested, 7, true, 0, {}},
        {"read-only file with force", readOnlyFile, 7, true, 0, {}},
        {"read-only file without force stays with its folders",
         readOnlyFile,
         3,
         false,
         cptlib::kErrorAccessDenied,
         {".", "sub", "sub/ro.txt"}},
        {"without remove-root the root stays", nested, 2, true, 0, {"."}},
        {"without recursion subfolders stay and the root cannot go",
         nested,
         1,
         false,
         cptlib::kErrorDirNotEmpty,
         {".", "..x", "..x/dots.txt", "a", "a/b", "a/b/c", "a/b/c/deep.txt", "a/one.txt"}},
        {"mode 0 deletes only the root's files",
         nested,
         0,
         true,
         0,
         {".", "..x", "..x/dots.txt", "a", "a/b", "a/b/c", "a/b/c/deep.txt", "a/one.txt"}},
        {"folders without owner access with force", lockedFolder, 7, true, 0, {}},
        {"read-only folder without force is left as it is",
         lockedFolder,
         3,
         false,
         cptlib::kErrorAccessDenied,
         {".", "locked", "locked/inner", "locked/inner/x.txt"}},
        {"read-only root without force",
         {"f a.txt", "m . 555"},
         2,
         false,
         cptlib::kErrorAccessDenied,
         {".", "a.txt"}},
        {"link to an outside folder goes as a link",
         {"l out $OUT", "d sub", "l sub/o $OUT"},
         7,
         true,
         0,
         {}},
        {"link to an outside file goes as a link", {"l f $FILE"}, 7, true, 0, {}},
        {"dangling link", {"l gone /nonexistent/target"}, 3, true, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        Build(c.tree);
        std::uint32_t error = 12345;
        EXPECT_EQ(DeleteFolderTree(root_.string(), c.mode, &error), c.result);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(Remaining(), c.remaining);
        ExpectOutsideIntact();
    }
}

// Stop-on-failure gives up at the first item that fails: whatever the listing yields before it
// is gone, whatever comes after it is untouched.
TEST_F(CleanupTest, StopOnFailureLeavesLaterItemsUntouched) {
    Build({"f a.txt", "f b.txt", "f c.txt", "f d.txt", "f e.txt", "f f.txt", "f ro.txt",
           "m ro.txt 444"});
    std::vector<std::string> order;
    for (const auto& entry : fs::directory_iterator(root_))
        order.push_back(entry.path().filename().string());
    const auto failing = std::find(order.begin(), order.end(), "ro.txt");
    ASSERT_NE(failing, order.end());

    std::uint32_t error = 0;
    EXPECT_FALSE(DeleteFolderTree(root_.string(), kDeleteRecurse | kDeleteStopOnFailure, &error));
    EXPECT_EQ(error, cptlib::kErrorAccessDenied);
    for (auto it = order.begin(); it != order.end(); ++it)
        EXPECT_EQ(fs::exists(root_ / *it), it >= failing) << *it;

    // Without the stop bit the same tree loses everything but the read-only file.
    EXPECT_FALSE(DeleteFolderTree(root_.string(), kDeleteRecurse));
    EXPECT_EQ(Remaining(), (Names{".", "ro.txt"}));
}

TEST_F(CleanupTest, RefusesARelativePathWithoutTouchingAnything) {
    Build({"f a.txt"});
    const fs::path relative = fs::relative(root_, fs::current_path());
    ASSERT_TRUE(relative.is_relative());
    for (const std::string& path : {relative.string(), std::string("root"), std::string()}) {
        SCOPED_TRACE(path);
        std::uint32_t error = 0;
        EXPECT_FALSE(DeleteFolderTree(path, kDeleteTempFolder, &error));
        EXPECT_EQ(error, cptlib::kErrorInvalidParameter);
    }
    EXPECT_EQ(Remaining(), (Names{".", "a.txt"}));
}

TEST_F(CleanupTest, MissingFolderFailsOnlyWhenItWasToBeRemoved) {
    const std::string missing = (base_ / "missing").string();
    std::uint32_t error = 0;
    EXPECT_FALSE(DeleteFolderTree(missing, kDeleteTempFolder, &error));
    EXPECT_EQ(error, cptlib::kErrorFileNotFound);
    EXPECT_TRUE(DeleteFolderTree(missing, kDeleteRecurse | kDeleteForce, &error));
    EXPECT_EQ(error, 0u);
}

TEST_F(CleanupTest, GivenFolderThatIsALinkIsNeitherFollowedNorRemoved) {
    const fs::path link = base_ / "link-to-outside";
    fs::create_directory_symlink(outside_, link);
    std::uint32_t error = 0;
    EXPECT_FALSE(DeleteFolderTree(link.string(), kDeleteTempFolder, &error));
    EXPECT_EQ(error, cptlib::kErrorDirectory);
    EXPECT_TRUE(fs::is_symlink(link));
    ExpectOutsideIntact();
}

TEST_F(CleanupTest, PathIsTakenWithTrailingSeparatorAndDotSegments) {
    Build({"d sub", "f sub/x.txt"});
    const std::string path = (base_ / "outside" / ".." / "root" / "").string();
    EXPECT_TRUE(DeleteFolderTree(path, kDeleteTempFolder));
    EXPECT_EQ(Remaining(), Names{});
    ExpectOutsideIntact();
}

TEST(FindRoomiestFolder, StrictlyMoreWinsSoTheFirstOfEqualOnesDoes) {
    const std::map<std::string, std::uint64_t> free = {{"/b/", 10}, {"/c/", 20}, {"/d/", 20}};
    const FreeSpaceQuery query = [&](const std::string& path, std::uint64_t& bytes) {
        const auto it = free.find(path);
        if (it == free.end())
            return cptlib::kErrorPathNotFound;
        bytes = it->second;
        return 0u;
    };
    std::string best = "unchanged";
    EXPECT_TRUE(FindRoomiestFolder({"/a/", "/b/", "/c/", "/d/"}, query, best));
    EXPECT_EQ(best, "/c/");
    EXPECT_TRUE(FindRoomiestFolder({"/d/", "/c/"}, query, best));
    EXPECT_EQ(best, "/d/");

    best = "unchanged";
    EXPECT_FALSE(FindRoomiestFolder({"/a/"}, query, best));
    EXPECT_FALSE(FindRoomiestFolder({}, query, best));
    const FreeSpaceQuery full = [](const std::string&, std::uint64_t& bytes) {
        bytes = 0;
        return 0u;
    };
    EXPECT_FALSE(FindRoomiestFolder({"/b/"}, full, best));
    EXPECT_EQ(best, "unchanged");
}

TEST(FindRoomiestDrive, ProposesAWritableFolderOfThisMachine) {
    const auto candidates = RoomiestDriveCandidates();
    ASSERT_FALSE(candidates.empty());
    for (const auto& candidate : candidates) {
        EXPECT_EQ(candidate.back(), '/') << candidate;
        EXPECT_TRUE(cptlib::platform::CanWriteFolder(candidate)) << candidate;
    }
    std::string temp;
    ASSERT_EQ(cptlib::platform::TempFolderPath(temp), 0u);
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), temp), candidates.end());
    std::string root;
    ASSERT_TRUE(FindRoomiestDrive(root));
    EXPECT_NE(std::find(candidates.begin(), candidates.end(), root), candidates.end());
}

TEST(GetTempPath, ARelativeOrMissingTmpdirMeansTheSystemFolder) {
    testsupport::TempDir scratch;
    fs::create_directories(scratch / "tmp");
    struct Case {
        const char* name;
        std::optional<std::string> tmpdir;
        std::string expected;
    };
    const Case cases[] = {
        {"absolute", (scratch / "tmp").string(), (scratch / "tmp").string() + "/"},
        {"relative to a folder that exists here", "tmp", "/tmp/"},
        {"dot", ".", "/tmp/"},
        {"missing", std::nullopt, "/tmp/"},
        {"absolute but no folder", (scratch / "none").string(), "/tmp/"},
    };
    // The relative value would name an existing folder from here.
    const fs::path before = fs::current_path();
    fs::current_path(scratch.path());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedEnv env("TMPDIR", c.tmpdir);
        std::string path;
        ASSERT_EQ(cptlib::platform::TempFolderPath(path), 0u);
        EXPECT_EQ(path, c.expected);
        std::string extractDir;
        ASSERT_EQ(ChooseTemporaryFolder(extractDir), 0u);
        EXPECT_EQ(extractDir.front(), '/') << extractDir;
    }
    fs::current_path(before);
}

TEST(ChooseTemporaryFolder, ANoexecOrFullTemporaryFolderGivesWayToTheNextPlaceInOrder) {
    testsupport::TempDir scratch;
    for (const char* name : {"tmp", "runtime", "cache"})
        fs::create_directories(scratch / name);
    const std::string tmp = (scratch / "tmp").string() + "/";
    const std::string runtime = (scratch / "runtime").string() + "/";
    const std::string cache = (scratch / "cache").string() + "/";
    testsupport::ScopedEnv env("TMPDIR", tmp);
    env.Set("XDG_RUNTIME_DIR", runtime);
    env.Set("XDG_CACHE_HOME", cache);
    EXPECT_EQ(ExecutableTempFolderCandidates(),
              (std::vector<std::string>{tmp, runtime, cache, "/var/tmp/"}));
    // Relative values are ignored; the cache folder then falls back to the home folder's.
    env.Set("XDG_RUNTIME_DIR", "runtime");
    env.Set("XDG_CACHE_HOME", "cache");
    env.Set("HOME", (scratch / "home").string());
    EXPECT_EQ(ExecutableTempFolderCandidates(),
              (std::vector<std::string>{tmp, (scratch / "home/.cache/").string(), "/var/tmp/"}));

    struct Case {
        const char* name;
        std::vector<std::string> unsuitable;
        std::string expected;
    };
    const std::vector<std::string> candidates = {tmp, runtime, cache, "/var/tmp/"};
    const Case cases[] = {
        {"the temporary folder itself", {}, tmp},
        {"noexec temporary folder", {tmp}, runtime},
        {"no runtime folder either", {tmp, runtime}, cache},
        {"only /var/tmp", {tmp, runtime, cache}, "/var/tmp/"},
        {"none", candidates, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FirstSuitableFolder(candidates,
                                      [&](const std::string& folder) {
                                          return std::find(c.unsuitable.begin(), c.unsuitable.end(),
                                                           folder) == c.unsuitable.end();
                                      }),
                  c.expected);
    }
}

TEST(ChooseTemporaryFolder, TakesAFolderThatAllowsExecutionAndHasRoom) {
    testsupport::TempDir scratch;
    testsupport::ScopedEnv env("TMPDIR", scratch.path().string());
    EXPECT_TRUE(IsExecutableTempFolder(scratch.path().string() + "/", 1));
    // More room than any disk has, and a folder that is not there.
    EXPECT_FALSE(IsExecutableTempFolder(scratch.path().string() + "/", ~std::uint64_t{0}));
    EXPECT_FALSE(IsExecutableTempFolder((scratch / "none").string() + "/", 1));
    std::string extractDir;
    ASSERT_EQ(ChooseTemporaryFolder(extractDir, true), 0u);
    EXPECT_EQ(fs::path(extractDir).parent_path(), scratch.path());
    EXPECT_NE(NoExecutableTempFolderText().find("noexec"), std::string::npos);
    EXPECT_NE(NoExecutableTempFolderText().find("TMPDIR"), std::string::npos);
}

TEST(CreateExtractFolder, MakesANewPrivateFolderAndNeverReusesAnEntry) {
    testsupport::TempDir scratch;
    std::string folder = scratch.path().string() + "/vrnfirst0001/";
    ASSERT_EQ(CreateExtractFolder(folder), 0u);
    EXPECT_EQ(folder, scratch.path().string() + "/vrnfirst0001/");
    EXPECT_EQ(ModeOf(folder), 0700u);

    // Taken by a folder, by a file, by a link: each time a fresh name beside it.
    fs::create_symlink("/", scratch.path() / "vrnlink00001");
    testsupport::WriteFile(scratch / "vrnfile00001", "x");
    for (const char* taken : {"vrnfirst0001", "vrnfile00001", "vrnlink00001"}) {
        SCOPED_TRACE(taken);
        std::string again = scratch.path().string() + "/" + taken;
        ASSERT_EQ(CreateExtractFolder(again), 0u);
        EXPECT_NE(again, scratch.path().string() + "/" + taken);
        EXPECT_EQ(fs::path(again).parent_path(), scratch.path());
        EXPECT_TRUE(fs::path(again).filename().string().starts_with("vrn"));
        EXPECT_EQ(fs::path(again).filename().string().size(), 11u);
        EXPECT_EQ(ModeOf(again), 0700u);
        EXPECT_TRUE(fs::is_empty(again));
    }
    EXPECT_TRUE(fs::is_symlink(scratch.path() / "vrnlink00001"));

    std::string orphan = scratch.path().string() + "/missing/vrnorphan001/";
    EXPECT_EQ(CreateExtractFolder(orphan), cptlib::kErrorFileNotFound);
    EXPECT_EQ(orphan, scratch.path().string() + "/missing/vrnorphan001/");
}

} // namespace
