// The launcher's start-up chain, run as a process on launcher files made by sfxbuild.

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(dir / "product/setup.exe", "#!/bin/sh\nexit 0\n");
        WriteFile(dir / "config.txt",
                  "[main]\nProductName=Demo Product\nSetupFileName=setup.exe\n");
        launcher = dir / "demo-setup";
        auto r = CreateLauncher(dir / "config.txt", dir / "product", launcher);
        ASSERT_EQ(r.status, 0) << r.err;
    }

    ProcessResult Run(std::vector<std::string> args, const fs::path& file) {
        args.insert(args.begin(), file.string());
        return RunProcess(args, {{"LANG", "en_US.UTF-8"}, {"LC_ALL", ""}}, dir.path().string());
    }

    fs::path Copy(const std::string& name) {
        fs::copy_file(launcher, dir / name);
        return dir / name;
    }

    TempDir dir;
    fs::path launcher;
};

TEST_F(Startup, HelpIsShownAndEndsWithZero) {
    for (auto args : {std::vector<std::string>{"/?"}, {"/q", "-?"}}) {
        auto r = Run(args, launcher);
        EXPECT_EQ(r.status, 0);
        // The help names the file that was run.
        EXPECT_NE(r.err.find("Usage: " + launcher.filename().string() +
                             " [options]\n\nOptions:\n /?, -h, --help: show this help"),
                  std::string::npos)
            << r.err;
    }
}

TEST_F(Startup, DamagedFilesEndWith65AfterTheirMessage) {
    const auto size = fs::file_size(launcher);
    const std::string bad =
        "The setup file is corrupted. If you downloaded this file from the Internet, please "
        "download it again.";

    auto longer = Copy("longer");
    WriteFile(longer, ReadFile(launcher) + "x");
    auto r = Run({"/qm"}, longer);
    EXPECT_EQ(r.status, 65);
    EXPECT_NE(r.err.find(bad + "\n\nExpected file size: " + std::to_string(size) +
                         "\nActual file size: " + std::to_string(size + 1)),
              std::string::npos)
        << r.err;

    auto shorter = Copy("shorter");
    fs::resize_file(shorter, size - 1);
    r = Run({"/qm"}, shorter);
    EXPECT_EQ(r.status, 65);
    EXPECT_NE(r.err.find("Actual file size: " + std::to_string(size - 1)), std::string::npos)
        << r.err;

    // The stub alone has no configuration block.
    r = Run({"/qm"}, BinPath("sfxstub"));
    EXPECT_EQ(r.status, 65);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Expected file size"), std::string::npos);

    // Silent runs say nothing but end the same way.
    r = Run({"/q"}, longer);
    EXPECT_EQ(r.status, 65);
    EXPECT_EQ(r.err, "");
}

TEST_F(Startup, ArchiveFromAnotherFileSkipsTheSelfCheck) {
    auto longer = Copy("longer");
    WriteFile(longer, ReadFile(launcher) + "x");
    const auto archive = dir / "other.7z";
    Pack7z(dir.path(), archive, "", "product");
    ASSERT_FALSE(HasFailure());
    auto r = Run({"/q", "/x", (dir / "out").string(), "/e", archive.string()}, longer);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("Expected file size"), std::string::npos);
}

TEST_F(Startup, InfoShowsTheDecipheredConfiguration) {
    auto r = RunProcess({BinPath("sfxbuild"), "info", launcher.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ProductName=Demo Product"), std::string::npos) << r.out;
}

} // namespace
