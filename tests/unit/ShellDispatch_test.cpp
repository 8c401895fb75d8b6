// Starting files and folders through the desktop opener, with a fake xdg-open on PATH that
// records what it was given and as whom it ran.

#include "cptlib/ErrorText.h"
#include "cptlib/Exceptions.h"
#include "cptlib/SystemError.h"
#include "cptlib/platform/DesktopOpener.h"
#include "cptlib/sys/ShellDispatch.h"
#include "support/Files.h"
#include "support/ScopedEnv.h"
#include "support/TempDir.h"

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace cptlib;
namespace fs = std::filesystem;

constexpr std::uint32_t kNobody = 65534;

// A desktop session with the fake opener first on PATH; the opener writes one line per fact to
// the record file and exits with $FAKE_OPENER_STATUS after $FAKE_OPENER_SLEEP seconds (without a
// status it becomes the sleep itself, so that its recorded pid is the one process to end).
class ShellDispatchTest : public testing::Test {
protected:
    void SetUp() override {
        bin_ = temp_.path() / "bin";
        records_ = temp_.path() / "records";
        fs::create_directories(bin_);
        fs::create_directories(records_);
        // Another user must reach the opener and write its record.
        fs::permissions(temp_.path(),
                        fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
        fs::permissions(bin_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
        fs::permissions(records_, fs::perms::all);
        opener_ = bin_ / "xdg-open";
        testsupport::WriteFile(
            opener_, "#!/bin/sh\n"
                     "exec </dev/null >/dev/null 2>&1\n"
                     "{\n"
                     "  echo \"argc=$#\"\n"
                     "  for a in \"$@\"; do echo \"arg=$a\"; done\n"
                     "  echo \"uid=$(id -u)\"\n"
                     "  echo \"gid=$(id -g)\"\n"
                     "  echo \"pwd=$(pwd)\"\n"
                     "  echo \"home=$HOME\"\n"
                     "  echo \"fds=$(ls /proc/$$/fd | tr '\\n' ' ')\"\n"
                     "  echo \"pid=$$\"\n"
                     "} > \"$FAKE_OPENER_RECORD.tmp\"\n"
                     "mv \"$FAKE_OPENER_RECORD.tmp\" \"$FAKE_OPENER_RECORD\"\n"
                     "if [ -n \"$FAKE_OPENER_SLEEP\" ]; then\n"
                     "  [ -n \"$FAKE_OPENER_STATUS\" ] || exec sleep \"$FAKE_OPENER_SLEEP\"\n"
                     "  sleep \"$FAKE_OPENER_SLEEP\"\n"
                     "fi\n"
                     "exit \"${FAKE_OPENER_STATUS:-0}\"\n");
        fs::permissions(opener_, fs::perms::owner_all | fs::perms::group_read |
                                     fs::perms::group_exec | fs::perms::others_read |
                                     fs::perms::others_exec);
        env_.Set("PATH", bin_.string() + ":/usr/bin:/bin");
        env_.Set("DISPLAY", ":42");
        env_.Set("WAYLAND_DISPLAY", std::nullopt);
        env_.Set("SUDO_UID", std::nullopt);
        env_.Set("PKEXEC_UID", std::nullopt);
        env_.Set("FAKE_OPENER_RECORD", record().string());
        env_.Set("FAKE_OPENER_STATUS", std::nullopt);
        env_.Set("FAKE_OPENER_SLEEP", std::nullopt);
    }

    fs::path record() const { return records_ / "record.txt"; }

    // The recorded lines, or nothing when the opener did not run.
    std::vector<std::string> Record() const {
        std::vector<std::string> lines;
        std::ifstream in(record());
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::string Fact(const std::string& name) const {
        for (const std::string& line : Record())
            if (line.rfind(name + "=", 0) == 0)
                return line.substr(name.size() + 1);
        return "<none>";
    }
    std::vector<std::string> Arguments() const {
        std::vector<std::string> args;
        for (const std::string& line : Record())
            if (line.rfind("arg=", 0) == 0)
                args.push_back(line.substr(4));
        return args;
    }

    testsupport::TempDir temp_;
    testsupport::ScopedEnv env_;
    fs::path bin_;
    fs::path records_;
    fs::path opener_;
};

template <class F> std::string ErrorTextOf(F&& call) {
    try {
        call();
    } catch (...) {
        return ErrorText();
    }
    return "<nothing thrown>";
}

TEST_F(ShellDispatchTest, OpensTheFileAloneWithoutTheParameters) {
    ShellExecuteFromExplorer("/srv/media/readme.html", "/quiet \"a b\"", nullptr, nullptr, 1,
                             ShellExecuteFromExplorerFlags::None);
    EXPECT_EQ(Fact("argc"), "1");
    EXPECT_EQ(Arguments(), std::vector<std::string>{"/srv/media/readme.html"});
    EXPECT_EQ(Fact("uid"), std::to_string(::geteuid()));
}

TEST_F(ShellDispatchTest, AddressesAndFoldersGoToTheOpenerAsGiven) {
    const std::string cases[] = {"https://example.org/a?b=c d", "/srv/media/docs/"};
    for (const std::string& target : cases) {
        fs::remove(record());
        ShellExecuteFromExplorer(target.c_str());
        EXPECT_EQ(Arguments(), std::vector<std::string>{target});
    }
    fs::remove(record());
    ShellOpenFolderFromExplorer("/srv/media", ShellOpenFolderFromExplorerFlags::Explore);
    EXPECT_EQ(Arguments(), std::vector<std::string>{"/srv/media"});
}

TEST_F(ShellDispatchTest, WaylandAloneIsASession) {
    env_.Set("DISPLAY", std::nullopt);
    env_.Set("WAYLAND_DISPLAY", "wayland-0");
    ShellExecuteFromExplorer("/srv/a.pdf");
    EXPECT_EQ(Arguments(), std::vector<std::string>{"/srv/a.pdf"});
}

TEST_F(ShellDispatchTest, WorkingFolderAndOptionLikeNames) {
    ShellExecuteFromExplorer("-rf.txt", nullptr, records_.c_str());
    EXPECT_EQ(Arguments(), std::vector<std::string>{"./-rf.txt"});
    EXPECT_EQ(Fact("pwd"), records_.string());
}

TEST_F(ShellDispatchTest, NoDescriptorOfTheCallerReachesTheOpener) {
    // Above the numbers the shell and ls of the fake opener use themselves.
    const int devNull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(devNull, 0);
    const int leaked = ::fcntl(devNull, F_DUPFD, 60); // deliberately without close-on-exec
    ::close(devNull);
    ASSERT_GE(leaked, 60);
    ShellExecuteFromExplorer("/srv/a.pdf");
    ::close(leaked);
    const std::string fds = " " + Fact("fds");
    EXPECT_NE(fds, " <none>");
    EXPECT_EQ(fds.find(" " + std::to_string(leaked) + " "), std::string::npos) << fds;
}

TEST_F(ShellDispatchTest, FailuresReadAsTheOuterMessageWithTheCause) {
    using Settings = std::vector<std::pair<std::string, std::optional<std::string>>>;
    struct Case {
        const char* name;
        Settings environment;
        const char* file;
        std::string expected;
    };
    const Case cases[] = {
        {"no desktop session",
         {{"DISPLAY", ""}},
         "/srv/a.pdf",
         "The file could not be opened on the desktop.\n\nPath:\n\"/srv/a.pdf\"\n\nCause:\n"
         "\tNo desktop session: neither DISPLAY nor WAYLAND_DISPLAY is set.\n\n"
         "\tDetails:\n\tOperation not supported (generic:95)"},
        {"opener missing",
         {{"PATH", "/nonexistent:bin"}},
         "/srv/a.pdf",
         "The file could not be opened on the desktop.\n\nPath:\n\"/srv/a.pdf\"\n\nCause:\n"
         "\tThe desktop opener xdg-open was not found on PATH.\n\n"
         "\tDetails:\n\tThe system cannot find the file specified. (system:2)"},
        {"opener fails",
         {{"FAKE_OPENER_STATUS", "3"}},
         "/srv/a.pdf",
         "The file could not be opened on the desktop.\n\nPath:\n\"/srv/a.pdf\"\n\nCause:\n"
         "\tThe desktop opener failed with exit status 3.\n\n"
         "\tDetails:\n\tNo application is associated with the specified file for this "
         "operation. (system:1155)\n\n\tOpener:\n\t\"" +
             opener_.string() + "\""},
        {"null file",
         {},
         nullptr,
         "The file could not be opened on the desktop.\n\nCause:\n"
         "\tThe pszFile parameter must not be nullptr.\n\n"
         "\tDetails:\n\tInvalid argument (generic:22)"},
        {"a folder goes through the folder function",
         {{"PATH", "/nonexistent"}},
         "/srv/docs/",
         "The file could not be opened on the desktop.\n\nPath:\n\"/srv/docs/\"\n\nCause:\n"
         "\tThe folder could not be opened on the desktop.\n\n\tCause:\n"
         "\t\tThe desktop opener xdg-open was not found on PATH.\n\n"
         "\t\tDetails:\n\t\tThe system cannot find the file specified. (system:2)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedEnv scope;
        for (const auto& [name, value] : c.environment)
            scope.Set(name, value);
        fs::remove(record());
        EXPECT_EQ(ErrorTextOf([&] { ShellExecuteFromExplorer(c.file); }), c.expected);
        const bool openerRan = !Record().empty();
        EXPECT_EQ(openerRan,
                  c.environment.size() == 1 && c.environment[0].first == "FAKE_OPENER_STATUS");
    }
}

TEST_F(ShellDispatchTest, MissingWorkingFolderNamesTheStep) {
    const std::string text = ErrorTextOf(
        [&] { ShellExecuteFromExplorer("/srv/a.pdf", nullptr, "/nonexistent/folder"); });
    EXPECT_EQ(text,
              "The file could not be opened on the desktop.\n\nPath:\n\"/srv/a.pdf\"\n\nCause:\n"
              "\tThe desktop opener could not be started: chdir failed.\n\n"
              "\tDetails:\n\tThe system cannot find the file specified. (system:2)\n\n"
              "\tOpener:\n\t\"" +
                  opener_.string() + "\"\n\n\tFolder:\n\t\"/nonexistent/folder\"");
    EXPECT_TRUE(Record().empty());
}

TEST_F(ShellDispatchTest, CauseIsASystemErrorNestedInARuntimeError) {
    env_.Set("FAKE_OPENER_STATUS", "2");
    try {
        ShellOpenFolderFromExplorer("/srv/gone");
        FAIL() << "nothing thrown";
    } catch (const std::runtime_error& outer) {
        EXPECT_STREQ(outer.what(), "The folder could not be opened on the desktop");
        const auto* path =
            boost::get_error_info<tag_errinfo_path>(dynamic_cast<const boost::exception&>(outer));
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(*path, "/srv/gone");
        try {
            std::rethrow_if_nested(outer);
            FAIL() << "no cause";
        } catch (const std::system_error& cause) {
            EXPECT_EQ(cause.code(), MakeWin32Error(kErrorFileNotFound));
        }
    }
}

TEST_F(ShellDispatchTest, OpenerEndedBySignalIsAFailure) {
    env_.Set("FAKE_OPENER_SLEEP", "30");
    std::thread killer([this] {
        for (int i = 0; i < 500 && Fact("pid") == "<none>"; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string pid = Fact("pid");
        if (pid != "<none>")
            ::kill(static_cast<pid_t>(std::stol(pid)), SIGTERM);
    });
    const std::string text =
        ErrorTextOf([] { platform::OpenWithDesktop("/srv/a.pdf", "", std::chrono::seconds(20)); });
    killer.join();
    EXPECT_NE(text.find("The desktop opener was ended by signal 15.\n"), std::string::npos) << text;
}

TEST_F(ShellDispatchTest, AnOpenerStillRunningAfterTheHandOverTimeCountsAsStarted) {
    env_.Set("FAKE_OPENER_SLEEP", "2");
    env_.Set("FAKE_OPENER_STATUS", "4"); // its late failure is no longer looked at
    const auto start = std::chrono::steady_clock::now();
    platform::OpenWithDesktop("/srv/a.pdf", "", std::chrono::milliseconds(300));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1800));
    EXPECT_EQ(Arguments(), std::vector<std::string>{"/srv/a.pdf"});
}

TEST_F(ShellDispatchTest, RunsAsTheDelegatingUserNeverAsRoot) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    env_.Set("SUDO_UID", std::to_string(kNobody));
    ShellExecuteFromExplorer("/srv/a.pdf");
    EXPECT_EQ(Fact("uid"), std::to_string(kNobody));
    EXPECT_EQ(Fact("gid"), std::to_string(kNobody));
    EXPECT_EQ(Fact("home"), platform::DelegatingUser({{"SUDO_UID", "65534"}}, 0)->home);

    fs::remove(record());
    env_.Set("SUDO_UID", "nobody");
    const std::string text = ErrorTextOf([] { ShellExecuteFromExplorer("/srv/a.pdf"); });
    EXPECT_NE(text.find("\tSUDO_UID does not hold a user id: \"nobody\".\n"), std::string::npos)
        << text;
    EXPECT_TRUE(Record().empty()) << "the opener ran although the user is unknown";
}

TEST(DesktopOpener, SharingWithTheDelegatingUserStaysInsideTheKeptFolder) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act on behalf of another user";
    testsupport::TempDir scratch;
    const fs::path kept = scratch / "vrnaaaaaaaa";
    const fs::path outside = scratch / "outside.txt";
    testsupport::WriteFile(kept / "product/readme.txt", "read me");
    testsupport::WriteFile(outside, "not for the user");
    fs::create_symlink(outside, kept / "link.txt");
    fs::permissions(kept, fs::perms(0700));
    const auto hasAcl = [](const fs::path& path) {
        return ::lgetxattr(path.c_str(), "system.posix_acl_access", nullptr, 0) > 0;
    };
    testsupport::ScopedEnv env("SUDO_UID", std::nullopt);
    env.Set("PKEXEC_UID", std::nullopt);
    // Nobody to share with: nothing changes.
    EXPECT_EQ(
        platform::ShareWithDelegatingUser(kept.string(), (kept / "product/readme.txt").string()),
        0u);
    EXPECT_FALSE(hasAcl(kept));

    env.Set("SUDO_UID", std::to_string(kNobody));
    struct Case {
        const char* name;
        fs::path file;
    };
    const Case refused[] = {
        {"a file outside the folder", outside},
        {"a link out of the folder", kept / "link.txt"},
        {"a name beside the folder", fs::path(kept.string() + "x/readme.txt")},
        {"the folder itself", kept},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::ShareWithDelegatingUser(kept.string() + "/", c.file.string()),
                  kErrorAccessDenied);
        EXPECT_FALSE(hasAcl(outside));
    }
    ASSERT_EQ(platform::ShareWithDelegatingUser(kept.string() + "/",
                                                (kept / "product/readme.txt").string()),
              0u);
    // Granted to that user alone: the others' bits stay closed.
    EXPECT_EQ(testsupport::ModeOf(kept) & 0007u, 0u);
    EXPECT_FALSE(hasAcl(outside));
    if (hasAcl(kept))
        EXPECT_TRUE(hasAcl(kept / "product") && hasAcl(kept / "product/readme.txt"));
    else { // no ACLs on this file system: the entries became the user's
        struct stat st {};
        ASSERT_EQ(::stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kNobody);
    }
}

TEST(DesktopOpener, DelegatingUser) {
    struct Case {
        const char* name;
        platform::Environment environment;
        std::uint32_t euid;
        std::optional<std::uint32_t> expected; // nullopt: runs as itself
        bool throws;
    };
    const Case cases[] = {
        {"not root", {{"SUDO_UID", "65534"}}, 1000, std::nullopt, false},
        {"root without delegation", {}, 0, std::nullopt, false},
        {"root for root", {{"SUDO_UID", "0"}}, 0, std::nullopt, false},
        {"sudo", {{"SUDO_UID", "65534"}}, 0, kNobody, false},
        {"pkexec first", {{"PKEXEC_UID", "65534"}, {"SUDO_UID", "junk"}}, 0, kNobody, false},
        {"pkexec by root, then sudo",
         {{"PKEXEC_UID", "0"}, {"SUDO_UID", "65534"}},
         0,
         kNobody,
         false},
        {"not a number", {{"SUDO_UID", "12x"}}, 0, std::nullopt, true},
        {"empty", {{"PKEXEC_UID", ""}}, 0, std::nullopt, true},
        {"negative", {{"SUDO_UID", "-1"}}, 0, std::nullopt, true},
        {"no such account", {{"SUDO_UID", "3999999999"}}, 0, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.throws) {
            EXPECT_THROW(platform::DelegatingUser(c.environment, c.euid), std::system_error);
            continue;
        }
        const auto user = platform::DelegatingUser(c.environment, c.euid);
        ASSERT_EQ(user.has_value(), c.expected.has_value());
        if (user) {
            EXPECT_EQ(user->uid, *c.expected);
            EXPECT_EQ(user->name, "nobody");
        }
    }
}

TEST(DesktopOpener, EnvironmentForUserDerivesTheSessionFolders) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to hand folders to another user";
    testsupport::TempDir temp;
    const fs::path runtimeRoot = temp.path() / "run";
    const fs::path own = runtimeRoot / std::to_string(kNobody);
    const fs::path foreign = temp.path() / "root-runtime";
    fs::create_directories(own);
    fs::create_directories(foreign);
    ASSERT_EQ(::chown(own.c_str(), kNobody, kNobody), 0);

    const platform::UserAccount user{kNobody, kNobody, "nobody", "/nonexistent"};
    const platform::Environment inherited = {{"HOME", "/root"},
                                             {"USER", "root"},
                                             {"XDG_RUNTIME_DIR", foreign.string()},
                                             {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/x/bus"},
                                             {"DISPLAY", ":0"}};

    // The user's runtime folder without a bus socket: the inherited address stays.
    auto env = platform::EnvironmentForUser(inherited, user, runtimeRoot.string());
    EXPECT_EQ(env["HOME"], "/nonexistent");
    EXPECT_EQ(env["USER"], "nobody");
    EXPECT_EQ(env["LOGNAME"], "nobody");
    EXPECT_EQ(env["XDG_RUNTIME_DIR"], own.string());
    EXPECT_EQ(env["DBUS_SESSION_BUS_ADDRESS"], "unix:path=/x/bus");
    EXPECT_EQ(env["DISPLAY"], ":0");

    // With the socket, the user's bus.
    const std::string bus = (own / "bus").string();
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(bus.size(), sizeof address.sun_path);
    std::copy(bus.begin(), bus.end(), address.sun_path);
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    env = platform::EnvironmentForUser(inherited, user, runtimeRoot.string());
    EXPECT_EQ(env["DBUS_SESSION_BUS_ADDRESS"], "unix:path=" + bus);
    ::close(sock);

    // No runtime folder of the user: root's is not handed on, the user's own inherited one is.
    env = platform::EnvironmentForUser(inherited, user, (temp.path() / "none").string());
    EXPECT_EQ(env.count("XDG_RUNTIME_DIR"), 0u);
    auto ownInherited = inherited;
    ownInherited["XDG_RUNTIME_DIR"] = own.string();
    env = platform::EnvironmentForUser(ownInherited, user, (temp.path() / "none").string());
    EXPECT_EQ(env["XDG_RUNTIME_DIR"], own.string());
}

} // namespace
