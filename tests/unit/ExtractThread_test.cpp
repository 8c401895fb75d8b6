// The extraction worker on archives made by 7zz: what lands in the folder, the messages it sends
// the dialog and their order, and every failure of the table.

#include "launcher/ExtractThread.h"

#include "cptlib/SystemError.h"
#include "cptlib/platform/Disk.h"
#include "cptlib/sys/MessageInbox.h"
#include "format/Payload.h"
#include "launcher/SfxMessages.h"
#include "support/Archive.h"
#include "support/Files.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/Watchdog.h"

#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using namespace sfx;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

constexpr std::uint32_t kDataError = 0x8007000D;
constexpr std::uint32_t kLinkRefused = 0x80070781;
constexpr std::uint32_t kCrcError = 0x80070017;
constexpr std::uint32_t kDiskFull = 0x80070070;

using testsupport::Pack7z;
using testsupport::ShellQuote;

void Shell(const std::string& command) {
    const testsupport::ProcessResult r = testsupport::RunShell(command);
    ASSERT_EQ(r.status, 0) << command << ": " << r.err;
}

using testsupport::ModeOf;

// Bytes that do not compress.
std::string Noise(std::size_t size, std::uint64_t seed) {
    std::string bytes(size, '\0');
    std::uint64_t state = seed | 1;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// The items of an archive as 7zz lists them, in order; folders end with "/".
std::vector<std::string> ListedNames(const fs::path& archive) {
    const auto listing = testsupport::RunShell("7zz l -ba -slt " + ShellQuote(archive.string()));
    std::vector<std::string> names;
    std::istringstream lines(listing.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("Path = ", 0) == 0)
            names.push_back(line.substr(7));
        else if (line.rfind("Attributes = ", 0) == 0 && !names.empty() &&
                 line.substr(13, line.find(' ', 13) - 13).find('D') != std::string::npos)
            names.back() += "/";
    }
    return names;
}

struct Recorded {
    cptlib::MessageId id = 0;
    cptlib::LParam lParam = 0;
};

// The outcome of a run as the dialog saw it.
struct Outcome {
    std::vector<Recorded> messages;
    std::optional<ExtractionError> error;
    std::vector<std::string> asked; // the existing files of the overwrite questions
    int passwordQuestions = 0;
    cptlib::MessageId final = 0;

    std::vector<int> Progress() const {
        std::vector<int> values;
        for (const auto& m : messages) {
            if (m.id == WM_SFX_PROGRESS)
                values.push_back(static_cast<int>(m.lParam));
        }
        return values;
    }
    bool Has(cptlib::MessageId id) const {
        return std::any_of(messages.begin(), messages.end(),
                           [id](const Recorded& m) { return m.id == id; });
    }
};

bool IsFinal(cptlib::MessageId id) {
    return id == WM_SFX_EXTRACT_DONE || id == WM_SFX_EXTRACT_CANCELLED ||
           id == WM_SFX_EXTRACT_FAILED;
}

// What the dialog relies on: one final message, last; the failure record before the failed
// message; the deletion notice before the final message and only where the folder is the run's
// own; progress never going back.
void ExpectProtocol(const Outcome& outcome, bool deleteOnFailure) {
    ASSERT_FALSE(outcome.messages.empty());
    const auto finals = std::count_if(outcome.messages.begin(), outcome.messages.end(),
                                      [](const Recorded& m) { return IsFinal(m.id); });
    EXPECT_EQ(finals, 1);
    EXPECT_TRUE(IsFinal(outcome.messages.back().id));
    const auto position = [&](cptlib::MessageId id) {
        return std::find_if(outcome.messages.begin(), outcome.messages.end(),
                            [id](const Recorded& m) { return m.id == id; }) -
               outcome.messages.begin();
    };
    const auto errors =
        std::count_if(outcome.messages.begin(), outcome.messages.end(),
                      [](const Recorded& m) { return m.id == WM_SFX_EXTRACT_ERROR; });
    EXPECT_EQ(errors, outcome.final == WM_SFX_EXTRACT_FAILED ? 1 : 0);
    const bool deleting = outcome.Has(WM_SFX_DELETING);
    EXPECT_EQ(deleting, deleteOnFailure && outcome.final != WM_SFX_EXTRACT_DONE);
    if (deleting && errors == 1) {
        EXPECT_LT(position(WM_SFX_EXTRACT_ERROR), position(WM_SFX_DELETING));
    }
    const auto progress = outcome.Progress();
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    for (const int value : progress) {
        EXPECT_GE(value, 0);
        EXPECT_LE(value, 1000);
    }
}

// The test's stand-in for the progress dialog: records the messages and answers the questions.
class Dialog {
public:
    std::function<cptlib::LResult(const std::string& existing)> onOverwrite = [](const auto&) {
        return kOverwriteNo;
    };
    std::function<void(int permille)> onProgress = [](int) {};
    // The password question: the entry, or nullopt to refuse.
    std::function<std::optional<std::string>()> onPassword = [] {
        return std::optional<std::string>();
    };

    // Starts the worker with the job and handles its messages until the run has ended.
    Outcome Run(CExtractThread& thread, ExtractionJob job) {
        const testsupport::Watchdog watchdog(std::chrono::seconds(60));
        outcome_ = {};
        cptlib::MessageInbox inbox([this](const cptlib::Message& m) { return Handle(m); });
        job.notifyWindow = inbox.Handle();
        EXPECT_TRUE(thread.Start(job));
        while (outcome_.final == 0 && inbox.ProcessNext()) {
        }
        thread.Wait();
        return outcome_;
    }

private:
    cptlib::LResult Handle(const cptlib::Message& m) {
        outcome_.messages.push_back({m.id, m.lParam});
        if (IsFinal(m.id))
            outcome_.final = m.id;
        switch (m.id) {
        case WM_SFX_EXTRACT_ERROR:
            outcome_.error = *reinterpret_cast<const ExtractionError*>(m.wParam);
            break;
        case WM_SFX_PROGRESS:
            onProgress(static_cast<int>(m.lParam));
            break;
        case WM_SFX_ASK_OVERWRITE: {
            const std::string existing = reinterpret_cast<const char*>(m.lParam);
            outcome_.asked.push_back(existing);
            return onOverwrite(existing);
        }
        case WM_SFX_ASK_PASSWORD: {
            ++outcome_.passwordQuestions;
            EXPECT_EQ(static_cast<std::size_t>(m.lParam), kPasswordCapacity);
            const std::optional<std::string> entry = onPassword();
            if (!entry)
                return kPasswordRefused;
            std::memcpy(reinterpret_cast<char*>(m.wParam), entry->c_str(), entry->size() + 1);
            return kPasswordEntered;
        }
        default:
            break;
        }
        return 0;
    }

    Outcome outcome_;
};

class ExtractThreadTest : public ::testing::Test {
protected:
    ExtractionJob Job(const fs::path& archive, const fs::path& folder, bool deleteOnFailure) {
        ExtractionJob job;
        job.archivePath = archive.string();
        job.archiveIsLauncher = false;
        job.extractFolder = folder.string() + "/";
        job.deleteOnFailure = deleteOnFailure;
        return job;
    }

    TempDir dir;
    CExtractThread thread;
    Dialog dialog;
};

TEST_F(ExtractThreadTest, ExtractsFilesFoldersModesAndLinksAndListsTheNames) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "bin/tool", "#!/bin/sh\necho tool\n");
    WriteFile(stage / "docs/readme.txt", "read me\n");
    WriteFile(stage / "docs/private.txt", "mine\n");
    WriteFile(stage / "locked/inside.txt", Noise(300000, 7));
    WriteFile(stage / "zero.bin", "");
    fs::create_directories(stage / "empty");
    fs::create_directories(stage / "links");
    fs::create_symlink("../docs/readme.txt", stage / "links/readme");
    fs::create_symlink("docs", stage / "latest");
    fs::permissions(stage / "bin/tool", fs::perms(0751));
    fs::permissions(stage / "docs/private.txt", fs::perms(0600));
    fs::permissions(stage / "locked/inside.txt", fs::perms(0444));
    fs::permissions(stage / "zero.bin", fs::perms(0640));
    fs::permissions(stage / "empty", fs::perms(0700));
    fs::permissions(stage / "locked", fs::perms(0555));
    const auto old = fs::file_time_type::clock::now() - std::chrono::hours(24 * 365);
    for (const auto& entry : fs::recursive_directory_iterator(stage)) {
        if (!entry.is_symlink())
            fs::last_write_time(entry.path(), old);
    }
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);
    const auto started = fs::file_time_type::clock::now() - std::chrono::seconds(2);

    // The folder and a missing parent are created by the run.
    const fs::path out = dir / "out/deeper";
    const Outcome outcome = dialog.Run(thread, Job(archive, out, true));

    ExpectProtocol(outcome, true);
    ASSERT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
    ASSERT_FALSE(outcome.Progress().empty());
    EXPECT_EQ(outcome.Progress().back(), 1000);
    std::size_t items = 0;
    for (const auto& entry : fs::recursive_directory_iterator(stage)) {
        ++items;
        const fs::path relative = entry.path().lexically_relative(stage);
        const fs::path copy = out / relative;
        SCOPED_TRACE(relative.string());
        ASSERT_TRUE(fs::exists(fs::symlink_status(copy)));
        EXPECT_EQ(ModeOf(copy), ModeOf(entry.path()));
        if (entry.is_symlink()) {
            ASSERT_TRUE(fs::is_symlink(copy));
            EXPECT_EQ(fs::read_symlink(copy), fs::read_symlink(entry.path()));
            continue;
        }
        if (entry.is_regular_file()) {
            EXPECT_EQ(ReadFile(copy), ReadFile(entry.path()));
        }
        EXPECT_GE(fs::last_write_time(copy), started);
    }
    EXPECT_EQ(items, 12u);
    EXPECT_EQ(thread.ExtractedNames(), ListedNames(archive));
}

TEST_F(ExtractThreadTest, FindsTheArchiveBehindTheEndMarkerOrAtTheOffsetTheStartUpFound) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "setup.exe", Noise(70000, 3));
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);
    // Program bytes, the configuration block between its markers, the archive, a data block.
    const fs::path launcher = dir / "setup";
    WriteFile(launcher, Noise(5000, 9) + StartMarker() + Noise(48, 11) + EndMarker() +
                            ReadFile(archive) + "trailing data block");
    // Without markers only a given offset finds the archive.
    const fs::path unmarked = dir / "unmarked";
    WriteFile(unmarked, Noise(5000, 9) + ReadFile(archive));

    struct Case {
        const fs::path& file;
        bool archiveIsLauncher;
        std::optional<std::uint64_t> offset;
        cptlib::MessageId final;
    };
    const Case cases[] = {
        {launcher, true, std::nullopt, WM_SFX_EXTRACT_DONE},
        {launcher, false, std::nullopt, WM_SFX_EXTRACT_FAILED}, // read from its first byte
        {unmarked, true, 5000, WM_SFX_EXTRACT_DONE},
        {unmarked, true, std::nullopt, WM_SFX_EXTRACT_FAILED},
    };
    int run = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(run);
        const fs::path out = dir / ("out" + std::to_string(run++));
        ExtractionJob job = Job(c.file, out, false);
        job.archiveIsLauncher = c.archiveIsLauncher;
        job.archiveOffset = c.offset;
        const Outcome outcome = dialog.Run(thread, job);
        ExpectProtocol(outcome, false);
        EXPECT_EQ(outcome.final, c.final);
        if (c.final == WM_SFX_EXTRACT_DONE) {
            EXPECT_EQ(ReadFile(out / "setup.exe"), ReadFile(stage / "setup.exe"));
        } else {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::CorruptArchive);
            EXPECT_EQ(outcome.error->code, kDataError);
        }
    }
}

TEST_F(ExtractThreadTest, CancelDuringExtractionRemovesOnlyTheRunsOwnFolder) {
    // Ten small files, then one larger than what the writing queue holds, so that it is still
    // being decoded when the cancel comes at 30 %.
    const fs::path stage = dir / "stage";
    for (int i = 0; i < 10; ++i)
        WriteFile(stage / ("a" + std::to_string(10 + i) + ".bin"), Noise(100000, i + 1));
    WriteFile(stage / "z.bin", Noise(24000000, 99));
    const fs::path archive = dir / "parts.7z";
    Pack7z(stage, archive, "-mx=0");

    for (const bool deleteOnFailure : {true, false}) {
        SCOPED_TRACE(deleteOnFailure);
        const fs::path out = dir / (deleteOnFailure ? "temp" : "chosen");
        bool cancelled = false;
        dialog.onProgress = [&](int permille) {
            if (permille >= 300 && !cancelled) {
                cancelled = true;
                thread.RequestCancel(false);
            }
        };
        const Outcome outcome = dialog.Run(thread, Job(archive, out, deleteOnFailure));
        ExpectProtocol(outcome, deleteOnFailure);
        EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_CANCELLED);
        EXPECT_FALSE(outcome.error);
        ASSERT_FALSE(outcome.Progress().empty());
        EXPECT_GE(outcome.Progress().back(), 300);
        EXPECT_LT(outcome.Progress().back(), 1000);
        if (deleteOnFailure) {
            EXPECT_FALSE(fs::exists(out));
        } else {
            // What was written stays; the file cut short does not.
            std::size_t files = 0;
            for (const auto& entry : fs::directory_iterator(out)) {
                EXPECT_TRUE(ReadFile(entry.path()) == ReadFile(stage / entry.path().filename()))
                    << entry.path();
                ++files;
            }
            EXPECT_EQ(files, 10u);
            EXPECT_FALSE(fs::exists(out / "z.bin"));
        }
    }
}

TEST_F(ExtractThreadTest, DamagedArchivesAreCorruptAndTheFolderIsRemoved) {
    const fs::path stage = dir / "stage";
    std::string text;
    for (int i = 0; i < 20000; ++i)
        text += "line " + std::to_string(i * 7919 % 10007) + " of the product\n";
    WriteFile(stage / "data.txt", text);
    WriteFile(stage / "more.txt", text.substr(1000));
    const fs::path compressed = dir / "compressed.7z";
    const fs::path stored = dir / "stored.7z";
    Pack7z(stage, compressed);
    Pack7z(stage, stored, "-mx=0");
    const std::string good = ReadFile(compressed);

    struct Case {
        const char* what;
        std::string bytes;
        std::vector<std::uint32_t> codes;
        std::optional<std::string> item; // the item named; nullopt: either
    };
    std::string flipped = good;
    flipped[100] = static_cast<char>(flipped[100] ^ 0x55);
    std::string flippedStored = ReadFile(stored);
    flippedStored[40] = static_cast<char>(flippedStored[40] ^ 0x55);
    std::string header = good;
    header[header.size() - 10] = static_cast<char>(header[header.size() - 10] ^ 0x55);
    const Case cases[] = {
        {"byte flipped in packed data", flipped, {kDataError, kCrcError}, std::nullopt},
        {"byte flipped in stored data", flippedStored, {kCrcError}, "data.txt"},
        {"byte flipped in the header", header, {kDataError}, ""},
        {"cut in half", good.substr(0, good.size() / 2), {kDataError}, ""},
        {"not an archive", Noise(4096, 5), {kDataError}, ""},
        {"empty file", "", {kDataError}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path damaged = dir / "damaged.7z";
        WriteFile(damaged, c.bytes);
        const fs::path out = dir / "out";
        const Outcome outcome = dialog.Run(thread, Job(damaged, out, true));
        ExpectProtocol(outcome, true);
        EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_FAILED);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::CorruptArchive);
        EXPECT_NE(std::find(c.codes.begin(), c.codes.end(), outcome.error->code), c.codes.end())
            << std::hex << outcome.error->code;
        if (c.item) {
            EXPECT_EQ(outcome.error->path, *c.item);
        }
        EXPECT_TRUE(outcome.error->message.empty());
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(ExtractThreadTest, ItemsThatWouldLandOutsideTheFolderAreADataError) {
    // Each archive tries to write "escaped" somewhere beside the extract folder.
    const fs::path stage = dir / "stage";
    const fs::path inner = stage / "a/b";
    WriteFile(inner / "x.txt", "x");
    WriteFile(stage / "escaped", "escaped");
    WriteFile(dir / "abs/escaped", "escaped");

    std::map<std::string, fs::path> archives;
    archives["dot-dot name"] = dir / "dotdot.7z";
    Shell("cd " + ShellQuote(inner.string()) + " && 7zz a -t7z -spf -bso0 -bsp0 " +
          ShellQuote(archives["dot-dot name"].string()) + " x.txt ../../escaped");
    archives["absolute name"] = dir / "absolute.7z";
    Shell("7zz a -t7z -spf -bso0 -bsp0 " + ShellQuote(archives["absolute name"].string()) + " " +
          ShellQuote((dir / "abs/escaped").string()));
    fs::remove_all(dir / "abs");

    const fs::path links = dir / "links";
    fs::create_directories(links / "sub");
    fs::create_symlink("../../escaped", links / "sub/up");
    archives["link pointing out"] = dir / "up.7z";
    Pack7z(links, archives["link pointing out"]);
    fs::remove_all(links);
    fs::create_directories(links);
    fs::create_symlink(dir / "escaped", links / "abs");
    archives["link to an absolute path"] = dir / "abslink.7z";
    Pack7z(links, archives["link to an absolute path"]);
    fs::remove_all(links);
    fs::create_directories(links);
    fs::create_symlink(".", links / "here");
    fs::create_symlink("here/../escaped", links / "there");
    archives["link climbing out through another link"] = dir / "chain.7z";
    Pack7z(links, archives["link climbing out through another link"]);
    fs::remove_all(links);

    // A link that points inside, then a file written through it.
    const fs::path first = dir / "first";
    const fs::path second = dir / "second";
    fs::create_directories(first / "real");
    fs::create_symlink("real", first / "door");
    WriteFile(second / "door/escaped", "through the link");
    archives["file through an extracted link"] = dir / "through.7z";
    Pack7z(first, archives["file through an extracted link"]);
    Pack7z(second, archives["file through an extracted link"], "", "door/escaped");
    fs::remove_all(first);
    fs::remove_all(second);
    // The item each failure names.
    const std::map<std::string, std::string> refused = {
        {"dot-dot name", "../../escaped"},
        {"absolute name", (dir / "abs/escaped").string()},
        {"link pointing out", "sub/up"},
        {"link to an absolute path", "abs"},
        {"link climbing out through another link", "there"},
        {"file through an extracted link", "door/escaped"},
    };

    for (const auto& [what, archive] : archives) {
        for (const bool deleteOnFailure : {true, false}) {
            SCOPED_TRACE(what + (deleteOnFailure ? " (normal run)" : " (extract only)"));
            const fs::path out = dir / "out/er";
            const Outcome outcome = dialog.Run(thread, Job(archive, out, deleteOnFailure));
            ExpectProtocol(outcome, deleteOnFailure);
            EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_FAILED);
            if (outcome.error) {
                EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::CorruptArchive);
                // Links are refused by design; bad names are damage.
                EXPECT_EQ(outcome.error->code,
                          what.find("link") != std::string::npos ? kLinkRefused : kDataError);
                EXPECT_EQ(outcome.error->path, refused.at(what));
            }
            EXPECT_EQ(fs::exists(out), !deleteOnFailure);
            EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "escaped")));
            EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "out/escaped")));
            EXPECT_FALSE(fs::exists(dir / "abs"));
            // Neither the file nor a link that points out was made.
            if (fs::exists(out)) {
                for (const auto& entry : fs::recursive_directory_iterator(out)) {
                    const std::string name = entry.path().filename().string();
                    EXPECT_TRUE(name != "escaped" && name != "up" && name != "abs" &&
                                name != "there")
                        << entry.path();
                }
            }
            EXPECT_EQ(ReadFile(stage / "escaped"), "escaped");
            fs::remove_all(dir / "out");
        }
    }
}

TEST_F(ExtractThreadTest, FreeSpaceMustExceedTheTotalByOneMebibyte) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "a.bin", Noise(123457, 1));
    WriteFile(stage / "b/c.txt", "seven b");
    const std::uint64_t total = 123457 + 7;
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);

    struct Case {
        std::uint64_t free;
        std::uint32_t queryError;
        std::uint32_t code; // 0: the run succeeds
    };
    const Case cases[] = {
        {total + kFreeSpaceMargin, 0, 0},
        {total + kFreeSpaceMargin - 1, 0, kDiskFull},
        {0, cptlib::kErrorAccessDenied, 0x80070005},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.free);
        std::string queried;
        thread.SetFreeSpaceQuery([&](const std::string& path, std::uint64_t& free) {
            queried = path;
            free = c.free;
            return c.queryError;
        });
        const fs::path out = dir / "out";
        const ExtractionJob job = Job(archive, out, true);
        const Outcome outcome = dialog.Run(thread, job);
        ExpectProtocol(outcome, true);
        EXPECT_EQ(queried, job.extractFolder);
        if (c.code == 0) {
            EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
            EXPECT_EQ(ReadFile(out / "b/c.txt"), "seven b");
        } else {
            EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_FAILED);
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::SystemError);
            EXPECT_EQ(outcome.error->code, c.code);
            EXPECT_EQ(outcome.error->requiredSize, c.code == kDiskFull ? total : 0u);
            EXPECT_EQ(outcome.error->path, ""); // no item has begun
            EXPECT_FALSE(outcome.Has(WM_SFX_PROGRESS));
            EXPECT_FALSE(fs::exists(out));
        }
        fs::remove_all(out);
    }
}

TEST_F(ExtractThreadTest, AnArchiveOfEmptyItemsSendsNoProgress) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "empty.txt", "");
    fs::create_directories(stage / "folder/inner");
    const fs::path archive = dir / "empty.7z";
    Pack7z(stage, archive);
    thread.SetFreeSpaceQuery([](const std::string&, std::uint64_t& free) {
        free = kFreeSpaceMargin;
        return 0u;
    });
    const fs::path out = dir / "out";
    const Outcome outcome = dialog.Run(thread, Job(archive, out, true));
    ExpectProtocol(outcome, true);
    EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
    EXPECT_FALSE(outcome.Has(WM_SFX_PROGRESS));
    EXPECT_TRUE(fs::is_regular_file(out / "empty.txt"));
    EXPECT_TRUE(fs::is_directory(out / "folder/inner"));
    std::vector<std::string> names = thread.ExtractedNames();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"empty.txt", "folder/", "folder/inner/"}));
}

TEST_F(ExtractThreadTest, ExistingFilesAreReplacedOrKeptAsTheDialogAnswers) {
    const fs::path stage = dir / "stage";
    for (const char* name : {"a.txt", "b.txt", "c.txt", "new.txt"})
        WriteFile(stage / name, std::string("new ") + name);
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);

    struct Case {
        cptlib::LResult answer;
        std::size_t questions;
        bool replaced;
        cptlib::MessageId final;
    };
    const Case cases[] = {
        {kOverwriteYes, 3, true, WM_SFX_EXTRACT_DONE},
        {kOverwriteYesToAll, 1, true, WM_SFX_EXTRACT_DONE},
        {kOverwriteNo, 3, false, WM_SFX_EXTRACT_DONE},
        {kOverwriteNoToAll, 1, false, WM_SFX_EXTRACT_DONE},
        {kOverwriteCancel, 1, false, WM_SFX_EXTRACT_CANCELLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const fs::path out = dir / "out";
        fs::remove_all(out);
        WriteFile(out / "a.txt", "old a.txt");
        WriteFile(out / "b.txt", "old b.txt");
        // A link in the way is replaced, never written through.
        WriteFile(dir / "elsewhere.txt", "old c.txt");
        fs::create_symlink(dir / "elsewhere.txt", out / "c.txt");
        dialog.onOverwrite = [&](const std::string&) { return c.answer; };

        const ExtractionJob job = Job(archive, out, false);
        const Outcome outcome = dialog.Run(thread, job);
        ExpectProtocol(outcome, false);
        EXPECT_EQ(outcome.final, c.final);
        ASSERT_EQ(outcome.asked.size(), c.questions);
        EXPECT_EQ(outcome.asked.front(), job.extractFolder + "a.txt");
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
            SCOPED_TRACE(name);
            EXPECT_EQ(ReadFile(out / name), (c.replaced ? "new " : "old ") + std::string(name));
        }
        EXPECT_EQ(fs::is_symlink(out / "c.txt"), !c.replaced);
        EXPECT_EQ(ReadFile(dir / "elsewhere.txt"), "old c.txt");
        EXPECT_EQ(fs::exists(out / "new.txt"), c.final == WM_SFX_EXTRACT_DONE);
    }
}

// Blocks decoded side by side: the questions still come one at a time in the items' order, the
// progress never goes back, and every file is whole.
TEST_F(ExtractThreadTest, ManyBlocksAskInItemOrderWithProgressThatOnlyGrows) {
    const fs::path stage = dir / "stage";
    for (int i = 0; i < 9; ++i)
        WriteFile(stage / ("f" + std::to_string(i) + ".bin"), Noise(400000 + i * 1111, i + 1));
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive, "-ms=1f");
    const fs::path out = dir / "out";
    for (int i = 0; i < 9; ++i)
        WriteFile(out / ("f" + std::to_string(i) + ".bin"), "old");
    dialog.onOverwrite = [](const std::string&) { return kOverwriteYes; };

    const ExtractionJob job = Job(archive, out, false);
    const Outcome outcome = dialog.Run(thread, job);
    ExpectProtocol(outcome, false);
    ASSERT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
    EXPECT_EQ(outcome.Progress().back(), 1000);
    std::vector<std::string> inOrder;
    for (const std::string& name : ListedNames(archive))
        inOrder.push_back(job.extractFolder + name);
    EXPECT_EQ(outcome.asked, inOrder);
    for (int i = 0; i < 9; ++i) {
        const std::string name = "f" + std::to_string(i) + ".bin";
        EXPECT_EQ(ReadFile(out / name), ReadFile(stage / name)) << name;
    }
}

TEST_F(ExtractThreadTest, AFolderThatCannotBeCreatedIsASystemErrorNamingIt) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "a.txt", "a");
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);
    WriteFile(dir / "file", "in the way");

    struct Case {
        fs::path folder;
        std::uint32_t code;
    };
    for (const Case& c : {Case{dir / "file/sub", cptlib::kErrorPathNotFound},
                          Case{dir / "file", cptlib::kErrorFileExists}}) {
        SCOPED_TRACE(c.folder.string());
        ExtractionJob job = Job(archive, c.folder, true);
        const Outcome outcome = dialog.Run(thread, job);
        ExpectProtocol(outcome, true);
        EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_FAILED);
        ASSERT_TRUE(outcome.error);
        EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::SystemError);
        EXPECT_EQ(outcome.error->code, c.code);
        EXPECT_EQ(outcome.error->path, job.extractFolder);
        EXPECT_EQ(ReadFile(dir / "file"), "in the way");
    }
}

// Without a password to be had, enciphered items end the run as refused, and enciphered headers
// fail with their own code; neither is the library's text nor damage.
TEST_F(ExtractThreadTest, EncryptedArchivesWithoutAPasswordEndWithoutData) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "secret.txt", "secret");
    struct Case {
        const char* options;
        std::uint32_t final;
        cptlib::HRESULT code;
    };
    for (const Case& c :
         {Case{"-psecret", WM_SFX_EXTRACT_CANCELLED, cptlib::kHrOk},
          Case{"-psecret -mhe=on", WM_SFX_EXTRACT_FAILED, HRESULT_HEADERS_ENCRYPTED}}) {
        SCOPED_TRACE(c.options);
        const fs::path archive = dir / "secret.7z";
        fs::remove(archive);
        Pack7z(stage, archive, c.options);
        const fs::path out = dir / "out";
        const Outcome outcome = dialog.Run(thread, Job(archive, out, true));
        ExpectProtocol(outcome, true);
        EXPECT_EQ(outcome.final, c.final);
        if (c.code != cptlib::kHrOk) {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->code, static_cast<std::uint32_t>(c.code));
        }
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(ExtractThreadTest, AnUnsupportedMethodIsNotImplementedForTheItem) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "docs/manual.txt", "manual");
    const fs::path archive = dir / "deflate64.7z";
    Pack7z(stage, archive, "-m0=Deflate64");
    const fs::path out = dir / "out";
    const Outcome outcome = dialog.Run(thread, Job(archive, out, true));
    ExpectProtocol(outcome, true);
    EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_FAILED);
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::SystemError);
    EXPECT_EQ(outcome.error->code, 0x80004001u);
    EXPECT_EQ(outcome.error->path, "docs/manual.txt");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(ExtractThreadTest, ARestartedRunKeepsTheNamesAndStartsItsProgressAfresh) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "one.txt", "1");
    const fs::path archive = dir / "product.7z";
    Pack7z(stage, archive);
    thread.SetFreeSpaceQuery([](const std::string&, std::uint64_t& free) {
        free = 0;
        return 0u;
    });
    Outcome outcome = dialog.Run(thread, Job(archive, dir / "full", true));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->requiredSize, 1u);
    thread.SetFreeSpaceQuery(cptlib::platform::GetFreeBytes);
    for (const char* folder : {"roomy", "again"}) {
        SCOPED_TRACE(folder);
        outcome = dialog.Run(thread, Job(archive, dir / folder, true));
        ExpectProtocol(outcome, true);
        EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
        EXPECT_FALSE(outcome.error);
        ASSERT_FALSE(outcome.Progress().empty());
        EXPECT_EQ(outcome.Progress().back(), 1000);
        EXPECT_EQ(ReadFile(dir / folder / "one.txt"), "1");
    }
    EXPECT_EQ(thread.ExtractedNames(), (std::vector<std::string>{"one.txt", "one.txt"}));
}

// A reader that serves a scripted list of items, for what 7z archives cannot hold.
class ScriptedReader final : public IArchiveReader {
public:
    struct Entry {
        ArchiveItem item;
        std::string data;
    };
    explicit ScriptedReader(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    ArchiveStatus ReadIndex(ArchiveIndex& index) override {
        for (const auto& entry : entries_) {
            index.items.push_back(entry.item);
            index.totalSize += entry.item.size;
        }
        return {};
    }
    ArchiveStatus NextItem(ArchiveItem& item, bool& more) override {
        more = next_ < entries_.size();
        if (more) {
            item = entries_[next_++].item;
            served_ = false;
        }
        return {};
    }
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override {
        const std::string& data = entries_[next_ - 1].data;
        block = served_
                    ? std::span<const std::uint8_t>()
                    : std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        served_ = true;
        return {};
    }

private:
    std::vector<Entry> entries_;
    std::size_t next_ = 0;
    bool served_ = false;
};

// Folders of enciphered items, each opened with its own password as a 7z reader does: the
// password source is asked when such a folder begins, and a password that does not fit fails.
class EncipheredReader final : public IArchiveReader {
public:
    struct Folder {
        std::string name;
        std::string data;
        std::optional<std::string> password; // enciphered with it
    };
    // `received`: every password the source gave, in order; it outlives the reader.
    EncipheredReader(std::vector<Folder> folders, PasswordSource source,
                     std::vector<std::string>& received)
        : received_(received), folders_(std::move(folders)), source_(std::move(source)) {}

    ArchiveStatus ReadIndex(ArchiveIndex& index) override {
        for (const Folder& folder : folders_) {
            index.items.push_back(Item(folder));
            index.totalSize += folder.data.size();
        }
        return {};
    }
    ArchiveStatus NextItem(ArchiveItem& item, bool& more) override {
        more = next_ < folders_.size();
        if (!more)
            return {};
        const Folder& folder = folders_[next_++];
        if (folder.password) {
            std::string password;
            if (const cptlib::HRESULT hr = source_(password); hr != cptlib::kHrOk)
                return {hr, {}};
            received_.push_back(password);
            if (password != *folder.password)
                return {HRESULT_WRONG_PASSWORD, {}};
        }
        item = Item(folder);
        served_ = false;
        return {};
    }
    ArchiveStatus ReadBlock(std::span<const std::uint8_t>& block) override {
        const std::string& data = folders_[next_ - 1].data;
        block = served_
                    ? std::span<const std::uint8_t>()
                    : std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
        served_ = true;
        return {};
    }

private:
    static ArchiveItem Item(const Folder& folder) {
        ArchiveItem item;
        item.name = folder.name;
        item.size = folder.data.size();
        return item;
    }
    std::vector<std::string>& received_;
    std::vector<Folder> folders_;
    PasswordSource source_;
    std::size_t next_ = 0;
    bool served_ = false;
};

TEST_F(ExtractThreadTest, ThePasswordIsAskedWhenAnEncipheredFolderBeginsAndRemembered) {
    using Folder = EncipheredReader::Folder;
    struct Case {
        const char* what;
        std::vector<Folder> folders;
        std::vector<std::optional<std::string>> entries; // nullopt: refused
        cptlib::MessageId final;
        int questions;
        std::vector<std::string> received;
        std::uint32_t code; // of the failure record
    };
    const Case cases[] = {
        {"plain items ask nothing",
         {{"a.txt", "a", std::nullopt}},
         {},
         WM_SFX_EXTRACT_DONE,
         0,
         {},
         0},
        {"asked once, then remembered",
         {{"plain.txt", "p", std::nullopt}, {"a.txt", "a", "pw"}, {"b.txt", "b", "pw"}},
         {"pw"},
         WM_SFX_EXTRACT_DONE,
         1,
         {"pw", "pw"},
         0},
        {"an empty entry asks again at the next folder",
         {{"a.txt", "a", ""}, {"b.txt", "b", "pw"}, {"c.txt", "c", "pw"}},
         {"", "pw"},
         WM_SFX_EXTRACT_DONE,
         2,
         {"", "pw", "pw"},
         0},
        {"refused: cancelled",
         {{"plain.txt", "p", std::nullopt}, {"a.txt", "a", "pw"}},
         {std::nullopt},
         WM_SFX_EXTRACT_CANCELLED,
         1,
         {},
         0},
        {"wrong: the failure says so",
         {{"plain.txt", "p", std::nullopt}, {"a.txt", "a", "pw"}},
         {"nope"},
         WM_SFX_EXTRACT_FAILED,
         1,
         {"nope"},
         0x80070056},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> received;
        thread.SetReaderFactory([&](const std::string&, std::uint64_t, PasswordSource source) {
            return std::make_unique<EncipheredReader>(c.folders, std::move(source), received);
        });
        std::size_t next = 0;
        dialog.onPassword = [&]() -> std::optional<std::string> {
            EXPECT_LT(next, c.entries.size());
            return next < c.entries.size() ? c.entries[next++] : std::nullopt;
        };
        const fs::path out = dir / "out";
        const Outcome outcome = dialog.Run(thread, Job(dir / "unused.7z", out, true));
        ExpectProtocol(outcome, true);
        EXPECT_EQ(outcome.final, c.final);
        EXPECT_EQ(outcome.passwordQuestions, c.questions);
        EXPECT_EQ(received, c.received);
        if (c.final == WM_SFX_EXTRACT_DONE) {
            for (const Folder& folder : c.folders)
                EXPECT_EQ(ReadFile(out / folder.name), folder.data);
        } else {
            // Nothing of a refused or failed run stays.
            EXPECT_FALSE(fs::exists(out));
        }
        if (c.code != 0) {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::SystemError);
            EXPECT_EQ(outcome.error->code, c.code);
        } else {
            EXPECT_FALSE(outcome.error);
        }
        fs::remove_all(out);
    }
}

TEST_F(ExtractThreadTest, HardLinksStayInsideTheFolder) {
    const auto file = [](const std::string& name, const std::string& data) {
        ArchiveItem item;
        item.name = name;
        item.size = data.size();
        item.hasMode = true;
        item.mode = 0640;
        return ScriptedReader::Entry{item, data};
    };
    const auto link = [](const std::string& name, const std::string& existing) {
        ArchiveItem item;
        item.name = name;
        item.type = ArchiveItemType::HardLink;
        item.linkTarget = existing;
        return ScriptedReader::Entry{item, ""};
    };
    WriteFile(dir / "outside.txt", "outside");

    struct Case {
        const char* what;
        std::vector<ScriptedReader::Entry> entries;
        bool refused;
    };
    const Case cases[] = {
        {"link to an earlier file",
         {file("data/file.txt", "shared"), link("copy.txt", "data/file.txt")},
         false},
        {"link to a file outside", {link("copy.txt", "../outside.txt")}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        thread.SetReaderFactory([&](const std::string&, std::uint64_t, PasswordSource) {
            return std::make_unique<ScriptedReader>(c.entries);
        });
        const fs::path out = dir / "out";
        const Outcome outcome = dialog.Run(thread, Job(dir / "unused.7z", out, false));
        ExpectProtocol(outcome, false);
        if (c.refused) {
            ASSERT_TRUE(outcome.error);
            EXPECT_EQ(outcome.error->kind, ExtractionErrorKind::CorruptArchive);
            EXPECT_EQ(outcome.error->code, kLinkRefused);
            EXPECT_FALSE(fs::exists(out / "copy.txt"));
        } else {
            EXPECT_EQ(outcome.final, WM_SFX_EXTRACT_DONE);
            EXPECT_EQ(ReadFile(out / "copy.txt"), "shared");
            EXPECT_EQ(ModeOf(out / "copy.txt"), 0640u);
        }
        EXPECT_EQ(ReadFile(dir / "outside.txt"), "outside");
        fs::remove_all(out);
    }
}

// Runs `body` in a child process (the test framework's, as for a death test) with a mount
// namespace of its own; the child leaves a line of text in `reportFile`. nullopt when the
// machine does not allow a private mount.
std::optional<std::string> InPrivateMountNamespace(const fs::path& reportFile,
                                                   const std::function<std::string()>& body) {
    EXPECT_EXIT(
        {
            std::string report = "unshare";
            if (::unshare(CLONE_NEWNS) == 0 &&
                ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0)
                report = body();
            std::ofstream(reportFile, std::ios::binary) << report;
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    const std::string report = ReadFile(reportFile);
    if (report == "unshare" || report == "mount")
        return std::nullopt;
    return report;
}

TEST_F(ExtractThreadTest, ADiskFillingUpWhileWritingIsDiskFullWithTheRequiredSize) {
    const fs::path stage = dir / "stage";
    WriteFile(stage / "small.txt", "small");
    WriteFile(stage / "big.bin", Noise(3 << 20, 4));
    const fs::path archive = dir / "big.7z";
    Pack7z(stage, archive, "-mx=0");
    const fs::path volume = dir / "volume";
    fs::create_directories(volume);

    const auto report = InPrivateMountNamespace(dir / "report.txt", [&]() -> std::string {
        if (::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=1m") != 0)
            return "mount";
        CExtractThread worker;
        // The volume claims room enough, so that the writing itself runs out of space.
        worker.SetFreeSpaceQuery([](const std::string&, std::uint64_t& free) {
            free = std::uint64_t(1) << 40;
            return 0u;
        });
        Dialog child;
        const fs::path out = volume / "out";
        const Outcome outcome = child.Run(
            worker,
            ExtractionJob{{}, archive.string(), false, out.string() + "/", true, {}, {}, {}});
        std::ostringstream text;
        text << (outcome.error ? static_cast<int>(outcome.error->kind) : -1) << " " << std::hex
             << (outcome.error ? outcome.error->code : 0) << std::dec << " "
             << (outcome.error ? outcome.error->requiredSize : 0) << " "
             << (outcome.error ? outcome.error->path : "-") << " " << fs::exists(out) << " "
             << outcome.Has(WM_SFX_DELETING) << " " << (outcome.final == WM_SFX_EXTRACT_FAILED);
        return text.str();
    });
    if (!report)
        GTEST_SKIP() << "no private mount namespace here (needs CAP_SYS_ADMIN)";
    EXPECT_EQ(*report, "1 80070070 " + std::to_string((3 << 20) + 5) + " big.bin 0 1 1");
}

TEST(ExtractItemNames, NamesThatCouldLeaveTheFolderAreRefused) {
    struct Case {
        const char* name;
        std::vector<std::string> parts; // empty: refused
    };
    const Case cases[] = {
        {"a/b/c.txt", {"a", "b", "c.txt"}},
        {"dir/", {"dir"}},
        {"./a//b", {"a", "b"}},
        {"..a/b..", {"..a", "b.."}},
        {"../x", {}},
        {"a/../../x", {}},
        {"a/..", {}},
        {"/etc/passwd", {}},
        {".", {}},
        {"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> parts;
        EXPECT_EQ(SplitItemName(c.name, parts), !c.parts.empty());
        if (!c.parts.empty()) {
            EXPECT_EQ(parts, c.parts);
        }
    }
}

TEST(ExtractItemNames, LinkTargetsMustStayInside) {
    struct Case {
        std::vector<std::string> link;
        const char* target;
        bool inside;
    };
    const Case cases[] = {
        {{"lib", "libz.so"}, "libz.so.1.2", true},
        {{"lib", "x", "libz.so"}, "../../bin/tool", true},
        {{"lib", "libz.so"}, "../../bin/tool", false},
        {{"top"}, "..", false},
        {{"top"}, ".", true},
        {{"a", "top"}, "./../b/./c", true},
        {{"a", "b"}, "c/../../x", false},
        {{"top"}, "/usr/lib/libz.so", false},
        {{"top"}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        EXPECT_EQ(LinkStaysInside(c.link, c.target), c.inside);
    }
}

} // namespace
