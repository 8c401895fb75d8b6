// The platform calls that the portable code reaches through cptlib/platform/.

#include "cptlib/SystemError.h"
#include "cptlib/platform/File.h"
#include "cptlib/platform/FileIo.h"
#include "cptlib/platform/LocalSocket.h"
#include "cptlib/platform/Process.h"
#include "cptlib/platform/SharedLibrary.h"
#include "cptlib/platform/Spawn.h"
#include "cptlib/platform/ThreadLocale.h"
#include "launcher/ExitStatus.h"
#include "support/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <string>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace cptlib;
using namespace cptlib::platform;
namespace fs = std::filesystem;

TEST(ReadFileAt, ReadsAtTheOffsetShortOnlyAtTheEndAndLeavesThePosition) {
    testsupport::TempDir folder;
    const fs::path file = folder.path() / "data";
    testsupport::WriteFile(file, "0123456789");
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    struct Case {
        std::uint64_t offset;
        std::size_t count;
        std::string expected;
    };
    for (const Case& c : {Case{3, 4, "3456"}, Case{8, 5, "89"}, Case{10, 3, ""}, Case{20, 3, ""}}) {
        SCOPED_TRACE(c.offset);
        std::string buffer(c.count, '\0');
        std::size_t read = 99;
        EXPECT_EQ(ReadFileAt(fd, c.offset, buffer.data(), c.count, read), kErrorSuccess);
        EXPECT_EQ(buffer.substr(0, read), c.expected);
    }
    EXPECT_EQ(::lseek(fd.get(), 0, SEEK_CUR), 0);

    char byte = 0;
    std::size_t read = 99;
    EXPECT_EQ(ReadFileAt(FileDescriptor(), 0, &byte, 1, read), kErrorInvalidHandle);
    EXPECT_EQ(read, 0u);
}

TEST(QueryIsFolder, FollowsLinksAndMapsFailures) {
    testsupport::TempDir folder;
    const fs::path file = folder.path() / "file";
    testsupport::WriteFile(file, "x");
    fs::create_directory(folder.path() / "sub");
    fs::create_directory_symlink(folder.path() / "sub", folder.path() / "link");
    struct Case {
        fs::path path;
        std::uint32_t error;
        bool isFolder;
    };
    for (const Case& c :
         {Case{folder.path() / "sub", kErrorSuccess, true}, Case{file, kErrorSuccess, false},
          Case{folder.path() / "link", kErrorSuccess, true},
          Case{folder.path() / "missing", kErrorFileNotFound, false},
          Case{file / "below", kErrorPathNotFound, false}}) {
        SCOPED_TRACE(c.path);
        bool isFolder = !c.isFolder;
        EXPECT_EQ(QueryIsFolder(c.path, isFolder), c.error);
        EXPECT_EQ(isFolder, c.isFolder);
    }
}

// The wait status of a shell that runs `script`.
int WaitStatusOf(const std::string& script) {
    SpawnRequest request;
    request.program = "/bin/sh";
    request.arguments = {"-c", script};
    pid_t child = -1;
    EXPECT_EQ(Spawn(request, child), 0);
    return WaitForProcess(child);
}

TEST(DecodeWaitStatus, TellsExitStatusFromSignal) {
    const int exited = WaitStatusOf("exit 7");
    const int killed = WaitStatusOf("kill -KILL $$");

    const ProcessEnd exitEnd = DecodeWaitStatus(exited);
    EXPECT_EQ(exitEnd.kind, ProcessEnd::Kind::Exited);
    EXPECT_EQ(exitEnd.value, 7);
    const ProcessEnd killEnd = DecodeWaitStatus(killed);
    EXPECT_EQ(killEnd.kind, ProcessEnd::Kind::Killed);
    EXPECT_EQ(killEnd.value, SIGKILL);

    EXPECT_EQ(sfx::ExitCodeFromWaitStatus(exited), 7u);
    EXPECT_EQ(sfx::ExitCodeFromWaitStatus(killed), 128u + SIGKILL);
}

TEST(ProbeLocalSocket, SucceedsOnlyWhereAServerListens) {
    testsupport::TempDir folder;
    const std::string socketPath = (folder.path() / "server").string();
    FileDescriptor server(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    ASSERT_TRUE(server);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(::bind(server.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(server.get(), 1), 0);
    const fs::path file = folder.path() / "file";
    testsupport::WriteFile(file, "x");

    EXPECT_EQ(ProbeLocalSocket(socketPath), kErrorSuccess);
    EXPECT_EQ(ProbeLocalSocket((folder.path() / "missing").string()), kErrorFileNotFound);
    EXPECT_NE(ProbeLocalSocket(file.string()), kErrorSuccess);
    EXPECT_EQ(ProbeLocalSocket("/" + std::string(sizeof address.sun_path, 'x')),
              kErrorFilenameExcedRange);
}

TEST(SharedLibrary, LoadsBindsAndReportsTheLoadersReason) {
    std::string error;
    SharedLibrary library = SharedLibrary::Load(SFX_PLAIN_SHARED_OBJECT, error);
    ASSERT_TRUE(library) << error;
    const auto answer = reinterpret_cast<int (*)()>(library.FindSymbol("SfxFixtureAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.FindSymbol("NoSuchSymbolAnywhere"), nullptr);

    SharedLibrary moved(std::move(library));
    EXPECT_NE(moved.FindSymbol("SfxFixtureAnswer"), nullptr);
    EXPECT_FALSE(library); // NOLINT(bugprone-use-after-move): a moved-from library is empty

    const SharedLibrary missing = SharedLibrary::Load("/nonexistent/libsfx-missing.so", error);
    EXPECT_FALSE(missing);
    EXPECT_NE(error.find("libsfx-missing"), std::string::npos) << error;
    EXPECT_EQ(missing.FindSymbol("SfxFixtureAnswer"), nullptr);
}

// Whether the thread's locale decodes "é" written in UTF-8.
bool DecodesUtf8() {
    std::mbstate_t state{};
    wchar_t wide = 0;
    return std::mbrtowc(&wide, "\xC3\xA9", 2, &state) == 2 && wide == L'\u00E9';
}

TEST(Utf8CharacterLocale, DecodesUtf8OnlyWithinTheScope) {
    // The test program keeps the C locale, which refuses bytes outside ASCII.
    ASSERT_FALSE(DecodesUtf8());
    const Utf8CharacterLocale locale;
    {
        const Utf8CharacterLocale::Use use(locale);
        EXPECT_TRUE(DecodesUtf8());
    }
    EXPECT_FALSE(DecodesUtf8());
}

} // namespace
