// The folder seams under Windows rules: private run folders, no writes through links, folder
// locks, and replacing files without losing the old one.

#include "cptlib/SystemError.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/platform/FolderEntries.h"
#include "cptlib/platform/FolderLock.h"
#include "cptlib/platform/FolderSafety.h"
#include "cptlib/platform/FolderTree.h"
#include "cptlib/platform/TargetFolder.h"
#include "cptlib/platform/XdgFolders.h"
#include "cptlib/platform/win32/Wide.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace cptlib;
using namespace cptlib::platform;

std::string TempRoot() {
    wchar_t temp[MAX_PATH + 1];
    const DWORD n = GetTempPathW(MAX_PATH + 1, temp);
    EXPECT_GT(n, 0u);
    return Narrow(std::wstring_view(temp, n));
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(std::filesystem::path(Widen(path)), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::string& text) {
    std::ofstream(std::filesystem::path(Widen(path)), std::ios::binary) << text;
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the folder's DACL, read back, grants everyone the right to delete its entries. Wine
// without extended attributes on its drive keeps no DACL and makes one up from the Unix mode.
bool KeptEveryoneAce(const std::string& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(Widen(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    bool kept = false;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        if (GetAce(dacl, i, &raw) &&
            IsWellKnownSid(&static_cast<ACCESS_ALLOWED_ACE*>(raw)->SidStart, WinWorldSid) &&
            (static_cast<ACCESS_ALLOWED_ACE*>(raw)->Mask & FILE_DELETE_CHILD) != 0)
            kept = true;
    }
    LocalFree(descriptor);
    return kept;
}

void MakeFolderOpenToEveryone(const std::string& path) {
    PSECURITY_DESCRIPTOR open = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, open, FALSE};
    ASSERT_TRUE(CreateDirectoryW(Widen(path).c_str(), &attributes));
    LocalFree(open);
}

class FolderSeams : public ::testing::Test {
protected:
    void SetUp() override {
        base_ = TempRoot() + "seams-" + std::to_string(GetCurrentProcessId()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_EQ(CreateFolderTree(base_), 0u);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(std::filesystem::path(Widen(base_)), ec);
    }
    std::string At(const std::string& name) const { return base_ + "\\" + name; }
    std::string base_;
};

TEST_F(FolderSeams, ARunFolderIsOpenOnlyToItsUserAndSystemAndInheritsNothing) {
    FolderHandle folder;
    ASSERT_EQ(CreateOwnFolder(At("run"), folder), 0u);
    FolderHandle second;
    EXPECT_EQ(CreateOwnFolder(At("run"), second), kErrorAlreadyExists);

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(Widen(At("run")).c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                    &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));

    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE user[256];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, user, sizeof user, &size));
    CloseHandle(token);
    const PSID self = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
    bool selfHasAll = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* raw = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        PSID sid = &ace->SidStart;
        LPWSTR text = nullptr;
        ConvertSidToStringSidW(sid, &text);
        const std::string shown = text ? Narrow(text) : "?";
        LocalFree(text);
        const bool isSelf = EqualSid(sid, self) != FALSE;
        EXPECT_TRUE(isSelf || IsWellKnownSid(sid, WinLocalSystemSid)) << shown;
        selfHasAll = selfHasAll || (isSelf && (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS);
    }
    LocalFree(descriptor);
    EXPECT_TRUE(selfHasAll);
    EXPECT_FALSE(OthersMayReplaceEntries(At("run")));

    EXPECT_EQ(RemoveFolderIfSame(At("run"), folder), 0u);
    folder.Close();
    EXPECT_FALSE(Exists(At("run")));
}

TEST_F(FolderSeams, AFolderOpenToEveryoneIsNeitherTrustedNorWalkedThrough) {
    MakeFolderOpenToEveryone(At("shared"));
    if (!KeptEveryoneAce(At("shared")))
        GTEST_SKIP() << "this system keeps no DACL on its files";
    EXPECT_TRUE(OthersMayReplaceEntries(At("shared")));
    FolderHandle folder;
    FolderRefusal refusal;
    EXPECT_FALSE(OpenFolderSafely(At("shared\\inner"), folder, refusal));
    EXPECT_EQ(refusal.reason, FolderRefusal::Reason::OthersMayWrite);
    EXPECT_EQ(refusal.where, At("shared"));
    EXPECT_FALSE(IsDirectory(At("shared\\inner")));
}

// Makes `link` point at `target`; false when this system cannot make one.
bool MakeLink(const std::string& link, const std::string& target, bool folder) {
    return CreateSymbolicLinkW(Widen(link).c_str(), Widen(target).c_str(),
                               (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) |
                                   SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
}

TEST_F(FolderSeams, NoWriteGoesThroughALinkInTheTargetFolder) {
    ASSERT_EQ(CreateFolderTree(At("outside")), 0u);
    ASSERT_EQ(CreateFolderTree(At("target")), 0u);
    WriteAll(At("outside\\kept.txt"), "outside");
    if (!MakeLink(At("target\\dir"), At("outside"), true) ||
        !MakeLink(At("target\\file"), At("outside\\kept.txt"), false))
        GTEST_SKIP() << "this system makes no symbolic links (error " << GetLastError() << ")";
    // Wine 8 makes a Unix link to the Windows path, which resolves to nothing, and has no
    // FSCTL_SET_REPARSE_POINT for a junction.
    for (const char* link : {"target\\dir", "target\\file"}) {
        const DWORD attributes = GetFileAttributesW(Widen(At(link)).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            GTEST_SKIP() << "the links this system makes are no reparse points";
    }
    TargetFolder target;
    ASSERT_EQ(target.Open(At("target")), 0u);
    TargetEntry entry = TargetEntry::None;
    ASSERT_EQ(target.Lookup(std::vector<std::string>{"dir"}, entry), 0u);
    EXPECT_EQ(entry, TargetEntry::Link);

    const std::vector<std::string> throughFolder{"dir", "new.txt"};
    FileDescriptor file;
    EXPECT_EQ(target.CreateNewFile(throughFolder, 0644, file), kErrorStoppedOnSymlink);
    EXPECT_EQ(target.MakeFolder(std::vector<std::string>{"dir", "sub"}, 0755),
              kErrorStoppedOnSymlink);
    EXPECT_EQ(target.MakeFolder(std::vector<std::string>{"dir"}, 0755), kErrorStoppedOnSymlink);
    EXPECT_NE(target.CreateNewFile(std::vector<std::string>{"file"}, 0644, file), 0u);
    EXPECT_FALSE(file);
    EXPECT_FALSE(Exists(At("outside\\new.txt")));
    EXPECT_FALSE(Exists(At("outside\\sub")));

    // Removing the link removes the link, not what it points at.
    EXPECT_EQ(target.Remove(std::vector<std::string>{"file"}), 0u);
    EXPECT_EQ(ReadAll(At("outside\\kept.txt")), "outside");

    // A walk from the outside through the link stops at it too.
    FolderHandle root;
    ASSERT_EQ(OpenFolder(nullptr, At("target"), root), 0u);
    FolderHandle through;
    EXPECT_EQ(OpenFolder(&root, "dir", through), kErrorStoppedOnSymlink);
    EntryStatus status;
    ASSERT_EQ(GetEntryStatus(&root, "dir", status), 0u);
    EXPECT_EQ(status.kind, EntryKind::Link);
    EXPECT_EQ(DeleteEntry(&root, "dir"), 0u);
    EXPECT_TRUE(Exists(At("outside\\kept.txt")));
}

TEST_F(FolderSeams, NamesThatReachPastTheFolderAreRefused) {
    TargetFolder target;
    ASSERT_EQ(target.Open(base_), 0u);
    FileDescriptor file;
    for (const char* name : {"..", "a\\b", "a/b", "c:x", "file:stream"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(target.CreateNewFile(std::vector<std::string>{name}, 0644, file),
                  kErrorInvalidName);
    }
}

TEST_F(FolderSeams, AReplacementThatFailsLeavesTheOldFile) {
    TargetFolder target;
    ASSERT_EQ(target.Open(base_), 0u);
    WriteAll(At("setup.ini"), "old");
    FileDescriptor part;
    ASSERT_EQ(target.CreateNewFile(std::vector<std::string>{"setup.ini.part"}, 0644, part), 0u);
    const std::string text = "new";
    ASSERT_EQ(WriteFully(part, reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
              0u);
    ASSERT_EQ(FinishFile(part, std::nullopt), 0u);
    EXPECT_EQ(target.CreateNewFile(std::vector<std::string>{"setup.ini"}, 0644, part),
              kErrorFileExists);

    FileDescriptor folder;
    ASSERT_EQ(target.OpenParentFolder(std::vector<std::string>{"setup.ini"}, folder), 0u);
    {
        // Another program holds the old file without letting it be deleted: the rename fails
        // and the old file stays whole.
        const HANDLE holder = CreateFileW(Widen(At("setup.ini")).c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        EXPECT_NE(RenameInFolder(folder.get(), "setup.ini.part", "setup.ini"), 0u);
        CloseHandle(holder);
    }
    EXPECT_EQ(ReadAll(At("setup.ini")), "old");
    EXPECT_EQ(ReadAll(At("setup.ini.part")), "new");

    // A read-only old file is replaced all the same, as a rename replaces it on Linux.
    ASSERT_TRUE(SetFileAttributesW(Widen(At("setup.ini")).c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_EQ(RenameInFolder(folder.get(), "setup.ini.part", "setup.ini"), 0u);
    EXPECT_EQ(ReadAll(At("setup.ini")), "new");
    EXPECT_FALSE(Exists(At("setup.ini.part")));

    // A write that the handle cannot make is reported, not taken as done.
    const HANDLE reader =
        CreateFileW(Widen(At("setup.ini")).c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    FileDescriptor readOnly(reader);
    EXPECT_NE(WriteFully(readOnly, reinterpret_cast<const std::uint8_t*>(text.data()), 3), 0u);
}

TEST_F(FolderSeams, FoldersAndSecondNamesAreMadeInPlace) {
    TargetFolder target;
    ASSERT_EQ(target.Open(base_), 0u);
    const std::vector<std::string> folder{"a", "b"};
    ASSERT_EQ(target.MakeFolder(folder, 0755), 0u);
    EXPECT_EQ(target.MakeFolder(folder, 0755), 0u) << "an existing folder is fine";
    FileDescriptor file;
    const std::vector<std::string> first{"a", "b", "first"};
    ASSERT_EQ(target.CreateNewFile(first, 0644, file), 0u);
    ASSERT_EQ(WriteFully(file, reinterpret_cast<const std::uint8_t*>("data"), 4), 0u);
    ASSERT_EQ(FinishFile(file, std::nullopt), 0u);
    EXPECT_EQ(target.MakeFolder(first, 0755), kErrorAlreadyExists);
    EXPECT_EQ(target.MakeFolder(std::vector<std::string>{"a", "b", "first", "below"}, 0755),
              kErrorPathNotFound);

    const std::vector<std::string> second{"c", "second"};
    ASSERT_EQ(target.MakeHardLink(second, first), 0u);
    EXPECT_EQ(ReadAll(At("c\\second")), "data");
    EntryStatus one, two;
    ASSERT_EQ(GetEntryStatus(nullptr, At("a\\b\\first"), one), 0u);
    ASSERT_EQ(GetEntryStatus(nullptr, At("c\\second"), two), 0u);
    EXPECT_EQ(one.inode, two.inode) << "one file under two names";
    EXPECT_EQ(target.MakeHardLink(second, first), kErrorAlreadyExists);

    TargetEntry entry = TargetEntry::None;
    ASSERT_EQ(target.Lookup(second, entry), 0u);
    EXPECT_EQ(entry, TargetEntry::File);
    ASSERT_EQ(target.Lookup(std::vector<std::string>{"missing", "x"}, entry), 0u);
    EXPECT_EQ(entry, TargetEntry::None);
}

TEST_F(FolderSeams, ATreeEmptiesThroughItsHandlesReadOnlyFilesIncluded) {
    const std::string name = "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5.txt"; // Cyrillic
    {
        TargetFolder target;
        ASSERT_EQ(target.Open(base_), 0u);
        FileDescriptor file;
        ASSERT_EQ(target.CreateNewFile(std::vector<std::string>{"tree", name}, 0444, file), 0u);
        ASSERT_EQ(FinishFile(file, 0444u), 0u);
    }
    EXPECT_NE(GetFileAttributesW(Widen(At("tree\\" + name)).c_str()) & FILE_ATTRIBUTE_READONLY, 0u);

    FolderHandle root;
    ASSERT_EQ(OpenFolder(nullptr, base_, root), 0u);
    FolderHandle tree;
    ASSERT_EQ(OpenFolder(&root, "tree", tree), 0u);
    std::vector<std::string> names;
    ASSERT_EQ(ListFolder(tree, names), 0u);
    EXPECT_EQ(names, std::vector<std::string>{name});
    EntryStatus status;
    ASSERT_EQ(GetEntryStatus(&tree, name, status), 0u);
    EXPECT_TRUE(status.readOnly);
    EXPECT_EQ(RemoveFolder(&root, "tree"), kErrorDirNotEmpty);
    EXPECT_EQ(DeleteEntry(&tree, name), 0u);
    tree.Close();
    EXPECT_EQ(RemoveFolder(&root, "tree"), 0u);
    EXPECT_FALSE(Exists(At("tree")));
}

TEST_F(FolderSeams, EverySpellingOfAFolderPathNamesTheSameFolder) {
    ASSERT_EQ(CreateFolderTree(At("a\\b")), 0u);
    EntryStatus expected;
    ASSERT_EQ(GetEntryStatus(nullptr, At("a\\b"), expected), 0u);
    ASSERT_EQ(expected.kind, EntryKind::Folder);
    std::string forward = At("a/b");
    std::replace(forward.begin(), forward.end(), '\\', '/');
    for (const std::string& spelling : {At("a\\b\\"), forward, At("a\\\\b"), At("a\\.\\b"),
                                        At("a\\b\\..\\b"), "\\\\?\\" + At("a\\b")}) {
        SCOPED_TRACE(spelling);
        EntryStatus status;
        ASSERT_EQ(GetEntryStatus(nullptr, spelling, status), 0u);
        EXPECT_EQ(status.inode, expected.inode);
        FolderHandle folder;
        EXPECT_EQ(OpenFolder(nullptr, spelling, folder), 0u);
    }
    EntryStatus status;
    EXPECT_EQ(GetEntryStatus(nullptr, At("a\\missing"), status), kErrorFileNotFound);
    EXPECT_EQ(GetEntryStatus(nullptr, "", status), kErrorInvalidName);
}

TEST_F(FolderSeams, ALockedFolderIsLiveEvenAfterItsRenameAndStaleOnceReleased) {
    FolderHandle folder;
    ASSERT_EQ(CreateOwnFolder(At("run.pending"), folder), 0u);
    FolderLock lock;
    ASSERT_EQ(LockOwnFolder(At("run.pending"), lock), 0u);
    ASSERT_TRUE(lock.Held());
    ASSERT_EQ(RenameNoReplace(At("run.pending"), At("run")), 0u);
    EXPECT_TRUE(NameIsStable(At("run"), folder));
    EXPECT_FALSE(NameIsStable(At("run.pending"), folder));
    ASSERT_EQ(CreateFolderTree(At("taken")), 0u);
    EXPECT_EQ(RenameNoReplace(At("run"), At("taken")), kErrorAlreadyExists);

    FolderLock other;
    EXPECT_FALSE(LockStaleFolder(At("run"), other)) << "a live run's folder";
    EXPECT_FALSE(other.Held());
    lock.Release();
    ASSERT_TRUE(LockStaleFolder(At("run"), other));
    // The sweeper holds it; its removal of the folder is not blocked by its own lock, and the
    // handle made before the rename still identifies the folder under its new name.
    EXPECT_EQ(RemoveFolderIfSame(At("run"), folder), 0u);
    folder.Close();
    EXPECT_FALSE(Exists(At("run")));
    other.Release();

    EXPECT_EQ(LockOwnFolder(At("gone"), lock), kErrorFileNotFound);
    ASSERT_EQ(RenameNoReplace(At("gone"), At("x")), ERROR_FILE_NOT_FOUND);
}

TEST_F(FolderSeams, OnlyAbandonedUnmarkedMatchingFilesAreRemoved) {
    for (const char* name : {"a.part", "b.part", "keep.txt"})
        WriteAll(At(name), "x");
    const HANDLE writer = CreateFileW(Widen(At("a.part")).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    MarkBeingWritten(writer);
    FolderHandle folder;
    ASSERT_EQ(OpenFolder(nullptr, base_, folder), 0u);
    const auto isPart = [](const std::string& name) {
        return name.size() > 5 && name.compare(name.size() - 5, 5, ".part") == 0;
    };
    // Too fresh: nothing goes.
    RemoveAbandonedFiles(DescriptorOf(&folder), isPart, 3600);
    EXPECT_TRUE(Exists(At("b.part")));
    EXPECT_FALSE(ChangedLongerAgoThan(At("b.part"), 3600));
    EXPECT_TRUE(ChangedLongerAgoThan(At("b.part"), -10));
    RemoveAbandonedFiles(DescriptorOf(&folder), isPart, -10);
    EXPECT_TRUE(Exists(At("a.part"))) << "a live writer's file";
    EXPECT_FALSE(Exists(At("b.part")));
    EXPECT_TRUE(Exists(At("keep.txt")));
    CloseHandle(writer);
    RemoveAbandonedFiles(DescriptorOf(&folder), isPart, -10);
    EXPECT_FALSE(Exists(At("a.part"))) << "its writer is gone";
}

TEST_F(FolderSeams, FreeSpaceAndTheHomeFolderComeFromTheSystem) {
    std::uint64_t freeBytes = 0;
    ASSERT_EQ(GetFreeBytes(base_, freeBytes), 0u);
    ULARGE_INTEGER total{};
    ASSERT_TRUE(GetDiskFreeSpaceExW(Widen(base_).c_str(), nullptr, &total, nullptr));
    EXPECT_GT(freeBytes, 0u);
    EXPECT_LE(freeBytes, total.QuadPart);
    EXPECT_NE(GetFreeBytes(At("missing\\deeper"), freeBytes), 0u);
    EXPECT_EQ(freeBytes, 0u);

    EXPECT_TRUE(CanWriteFolder(base_));
    WriteAll(At("file"), "x");
    EXPECT_FALSE(CanWriteFolder(At("file")));
    EXPECT_FALSE(IsDirectory(At("file")));
    EXPECT_EQ(CreateFolderTree(At("file")), kErrorFileExists);
    EXPECT_EQ(CreateFolderTree(At("file\\below")), kErrorPathNotFound);

    const std::string home = GetHomeDirectory();
    ASSERT_FALSE(home.empty());
    EXPECT_TRUE(std::filesystem::path(Widen(home)).is_absolute()) << home;
    EXPECT_NE(home.back(), '\\');
    EXPECT_TRUE(IsDirectory(home)) << home;

    const auto drives = LocalWritableMountPoints();
    EXPECT_NE(std::find(drives.begin(), drives.end(), "C:\\"), drives.end());
}

TEST_F(FolderSeams, AFolderIsOpenedSafelyByWalkingItsParts) {
    FolderHandle folder;
    FolderRefusal refusal;
    ASSERT_TRUE(OpenFolderSafely(At("made\\on\\the\\way"), folder, refusal))
        << refusal.where << " " << static_cast<int>(refusal.reason) << " " << refusal.error;
    EXPECT_TRUE(IsDirectory(At("made\\on\\the\\way")));
    // The handle is the folder: an entry made through it appears under the name.
    TargetFolder target;
    ASSERT_EQ(target.Open(folder), 0u);
    FileDescriptor file;
    ASSERT_EQ(target.CreateNewFile(std::vector<std::string>{"f"}, 0644, file), 0u);
    ASSERT_EQ(WriteFully(file, reinterpret_cast<const std::uint8_t*>("abc"), 3), 0u);
    ASSERT_EQ(FinishFile(file, std::nullopt), 0u);
    EXPECT_EQ(ReadAll(At("made\\on\\the\\way\\f")), "abc");
    EXPECT_EQ(ReadAll(PathThrough(folder, "f")), "abc") << PathThrough(folder, "f");

    // ".." backs up one folder of the path walked so far.
    ASSERT_TRUE(OpenFolderSafely(At("made\\on\\..\\beside"), folder, refusal)) << refusal.where;
    EXPECT_TRUE(IsDirectory(At("made\\beside")));

    WriteAll(At("plain"), "x");
    EXPECT_FALSE(OpenFolderSafely(At("plain\\below"), folder, refusal));
    EXPECT_EQ(refusal.reason, FolderRefusal::Reason::Failed);
}

} // namespace
