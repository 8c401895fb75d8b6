// Whole runs up to the setup: launcher files made by sfxbuild extract a recording setup
// program, start it with the composed parameters, wait for it and pass its status on.

#include "launcher/SetupCommand.h"

#include "cptlib/resources/ResourceUtils.h"

#include "support/Archive.h"
#include "support/Files.h"
#include "support/LauncherFile.h"
#include "support/Process.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

// Records its working folder, its arguments and the values file named after -m, then exits
// with $SETUP_STATUS.
const char* const kRecordingSetup = R"sh(#!/bin/sh
{
  echo "cwd=$(pwd)"
  for a in "$@"; do echo "arg=[$a]"; done
  prev=
  for a in "$@"; do
    if [ "$prev" = "-m" ]; then echo "values:"; cat "$a"; fi
    prev=$a
  done
} > "$SETUP_RECORD"
exit ${SETUP_STATUS:-0}
)sh";

// `text` as UTF-16LE bytes (ASCII only).
std::string Utf16(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c;
        out += '\0';
    }
    return out;
}

// Replaces the one occurrence of `from` in the file, both taken as UTF-16LE text of one length.
// The digest slot is cleared, as in a file made before digests, which the launcher then runs
// unchecked: the change is made on purpose.
void PatchUtf16(const fs::path& file, const std::string& from, const std::string& to) {
    ASSERT_EQ(from.size(), to.size());
    std::string bytes = ReadFile(file);
    const std::size_t at = bytes.rfind(Utf16(from));
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size() * 2, Utf16(to));
    std::uint64_t slot = 0;
    std::uint32_t size = 0;
    ASSERT_EQ(cptlib::LocateFileResource(file, cptlib::kRtRcData, "_VRN_DIGEST", std::nullopt, slot,
                                         size),
              cptlib::kHrOk);
    bytes.replace(slot, size, std::string(size, '\0'));
    const auto mode = fs::status(file).permissions();
    WriteFile(file, bytes);
    fs::permissions(file, mode);
}

class SetupRun : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(tmp);
        stub = SmallStub(dir.path());
    }

    void AddSetup(const std::string& name) { WriteExecutable(product / name, kRecordingSetup); }

    fs::path Create(const std::string& config, const std::string& name = "launcher",
                    const std::string& data = {}) {
        WriteFile(dir / "config.txt", config);
        const fs::path out = dir / name;
        const ProcessResult r = CreateLauncher(dir / "config.txt", product, out, stub, data);
        EXPECT_EQ(r.status, 0) << r.err;
        return out;
    }

    ProcessResult Run(const fs::path& launcher, std::vector<std::string> args,
                      std::map<std::string, std::string> env = {}) {
        args.insert(args.begin(), launcher.string());
        env.emplace("LANG", "en_US.UTF-8");
        env.emplace("LC_ALL", "");
        env.emplace("TMPDIR", tmp.string());
        env.emplace("SETUP_RECORD", record.string());
        return RunProcess(args, env, dir.path().string());
    }

    // The recorded lines, "cwd=" first.
    std::vector<std::string> Recorded() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(record));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    std::vector<std::string> Arguments() const {
        std::vector<std::string> args;
        for (const std::string& line : Recorded())
            if (line.starts_with("arg=[") && line.ends_with("]"))
                args.push_back(line.substr(5, line.size() - 6));
        return args;
    }
    std::string WorkingFolder() const {
        const auto lines = Recorded();
        return lines.empty() ? std::string() : lines[0];
    }
    std::string Values() const {
        const std::string text = ReadFile(record);
        const std::size_t at = text.find("values:\n");
        return at == std::string::npos ? std::string() : text.substr(at + 8);
    }

    bool TmpIsEmpty() const { return fs::is_empty(tmp); }

    TempDir dir;
    fs::path tmp = dir / "tmp";
    fs::path product = dir / "product";
    fs::path record = dir / "record.txt";
    fs::path stub;
};

TEST_F(SetupRun, TheSetupReceivesTheComposedParametersInItsFolder) {
    AddSetup("setup.sh");
    const fs::path launcher =
        Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
               "SetupParams=/dir \"[ExtractDir]data\" /fonts [FontsFolder]\n");
    fs::create_directories(dir / "addon");
    const ProcessResult r = Run(launcher, {"/q", "own arg", "/dlvaddondir", "addon", "/dlmaddondir",
                                           "packed", "/dlmforward", "p1", "p 2"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> args = Arguments();
    ASSERT_GE(args.size(), 4u) << ReadFile(record);
    // The folder the setup runs in is the extract folder, named for [ExtractDir].
    const std::string cwd = WorkingFolder().substr(4);
    EXPECT_EQ(fs::path(cwd).parent_path(), tmp);
    EXPECT_EQ(args[0], "/dir");
    EXPECT_EQ(args[1], cwd + "/data");
    EXPECT_EQ(args[2], "/fonts");
    EXPECT_EQ(args[3], "/usr/share/fonts/");
    // The packed arguments ride in one Base64 value after -x.
    const auto x = std::find(args.begin(), args.end(), "-x");
    ASSERT_NE(x, args.end());
    ASSERT_NE(x + 1, args.end());
    EXPECT_EQ(sfx::DecodeBase64Prefix(*(x + 1)),
              "/AddonDir " + (dir / "packed").string() + " p1 \"p 2\"");
    const auto addon = std::find(args.begin(), args.end(), "/addondir");
    ASSERT_NE(addon, args.end());
    ASSERT_NE(addon + 1, args.end());
    EXPECT_EQ(*(addon + 1), (dir / "addon").string());
    // The launcher's own arguments follow, each as it was given.
    EXPECT_NE(std::find(args.begin(), args.end(), "/q"), args.end());
    EXPECT_NE(std::find(args.begin(), args.end(), "own arg"), args.end());
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(SetupRun, TheLauncherEndsWithTheSetupsStatusAndLeavesNoFolder) {
    AddSetup("setup.sh");
    const fs::path launcher = Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
    for (const int status : {0, 1, 42}) {
        SCOPED_TRACE(status);
        const ProcessResult r = Run(launcher, {"/q"}, {{"SETUP_STATUS", std::to_string(status)}});
        EXPECT_EQ(r.status, status) << r.err;
        EXPECT_TRUE(fs::exists(record));
        fs::remove(record);
        EXPECT_TRUE(TmpIsEmpty());
    }
}

TEST_F(SetupRun, AMissingSetupIsReportedAndEndsWith126) {
    AddSetup("other.sh");
    const fs::path launcher = Create("[main]\nProductName=Demo\nSetupFileName=setup.exe\n");
    const ProcessResult r = Run(launcher, {});
    EXPECT_EQ(r.status, 126);
    EXPECT_NE(r.err.find("The file could not be started"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("product/setup.exe"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(record));
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(SetupRun, ASetupUnderProductIsFoundByTheFallback) {
    WriteExecutable(product / "product/setup.sh", kRecordingSetup);
    const fs::path launcher = Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\n");
    const ProcessResult r = Run(launcher, {"/q"}, {{"SETUP_STATUS", "7"}});
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_TRUE(WorkingFolder().ends_with("/product")) << WorkingFolder();
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(SetupRun, AnInstallerDatabaseStartsThroughMsiexecOnThePath) {
    WriteFile(product / "Setup.MSI", "not really a database");
    WriteExecutable(dir / "bin/msiexec", kRecordingSetup);
    const fs::path launcher =
        Create("[main]\nProductName=Demo\nSetupFileName=Setup.MSI\nSetupParams=/qn\n"
               "ForwardResourceDataFromSFX=1\n");
    const ProcessResult r =
        Run(launcher, {"/q"}, {{"PATH", (dir / "bin").string() + ":/usr/bin:/bin"}});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> args = Arguments();
    ASSERT_GE(args.size(), 3u) << ReadFile(record);
    EXPECT_EQ(args[0], "/i");
    EXPECT_TRUE(args[1].ends_with("/Setup.MSI")) << args[1];
    EXPECT_EQ(fs::path(args[1]).parent_path().parent_path(), tmp);
    EXPECT_EQ(args[2], "/qn");
    // Neither values nor a culture go to an installer database.
    EXPECT_EQ(std::find(args.begin(), args.end(), "-m"), args.end());
    EXPECT_TRUE(TmpIsEmpty());
}

// A bare name is never looked up in the current folder or a relative PATH entry: an msiexec
// planted there does not run, as root neither. An absolute PATH folder is searched.
TEST_F(SetupRun, MsiexecIsFoundOnlyInAbsolutePathFolders) {
    WriteFile(product / "Setup.msi", "not really a database");
    const std::string planted = "#!/bin/sh\necho planted > \"$SETUP_RECORD.planted\"\n";
    WriteExecutable(dir / "msiexec", planted);
    WriteExecutable(dir / "rel/msiexec", planted);
    WriteExecutable(dir / "bin/msiexec", kRecordingSetup);
    const fs::path launcher =
        Create("[main]\nProductName=Demo\nSetupFileName=Setup.msi\nSetupParams=/qn\n");
    const std::string bin = (dir / "bin").string();
    // System folders of the test's own: a machine with Wine has an msiexec in /usr/bin.
    fs::create_directories(dir / "system");
    fs::create_symlink("/bin/cat", dir / "system/cat");
    const std::string sys = (dir / "system").string();
    struct Case {
        std::string path;
        bool runs; // the msiexec in bin runs
    };
    const Case cases[] = {
        {sys, false},          {".:" + sys, false},          {":" + sys, false},
        {sys + ":", false},    {"rel:" + sys, false},        {".:rel::" + bin + ":" + sys, true},
        {bin + "/:" + sys, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        // Not silent, so that the failure is shown.
        const ProcessResult r = Run(launcher, {}, {{"PATH", c.path}});
        EXPECT_FALSE(fs::exists(record.string() + ".planted"));
        if (c.runs) {
            EXPECT_EQ(r.status, 0) << r.err;
            const std::vector<std::string> args = Arguments();
            ASSERT_GE(args.size(), 3u) << ReadFile(record);
            EXPECT_EQ(args[0], "/i");
            EXPECT_TRUE(args[1].ends_with("/Setup.msi")) << args[1];
        } else {
            EXPECT_EQ(r.status, 126) << r.err;
            EXPECT_NE(r.err.find("The file could not be started"), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("The system cannot find the file specified"), std::string::npos)
                << r.err;
            EXPECT_FALSE(fs::exists(record));
        }
        EXPECT_TRUE(TmpIsEmpty());
        fs::remove(record);
    }
}

// The -x search takes only a whole -x or /x token, never one inside a path; the root stays a
// folder of its own.
TEST_F(SetupRun, PackedArgumentsJoinOnlyAWholeXToken) {
    AddSetup("setup.sh");
    struct Case {
        std::string params;
        std::vector<std::string> args; // the launcher's
        // The setup's arguments; "<dir>" stands for the extract folder, "<x:TEXT>" for TEXT in
        // Base64.
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"--src [ExtractDir]x --quiet",
         {"/q", "/dlmforward", "p"},
         {"--src", "<dir>/x", "--quiet", "-x", "<x:p>", "/q"}},
        {"--src [ExtractDir]data -x " + sfx::EncodeBase64("old") + " --quiet",
         {"/q", "/dlmforward", "p"},
         {"--src", "<dir>/data", "-x", "<x:old p>", "--quiet", "/q"}},
        {"--quiet", {"/q", "/dlmaddondir", "/"}, {"--quiet", "-x", "<x:/AddonDir />", "/q"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.params);
        const fs::path launcher = Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                                         "SetupParams=" +
                                         c.params + "\n");
        const ProcessResult r = Run(launcher, c.args);
        EXPECT_EQ(r.status, 0) << r.err;
        const std::string cwd = WorkingFolder().substr(4);
        std::vector<std::string> expected;
        for (const std::string& item : c.expected) {
            if (item.starts_with("<dir>"))
                expected.push_back(cwd + item.substr(5));
            else if (item.starts_with("<x:"))
                expected.push_back(sfx::EncodeBase64(item.substr(3, item.size() - 4)));
            else
                expected.push_back(item);
        }
        EXPECT_EQ(Arguments(), expected);
        EXPECT_TRUE(TmpIsEmpty());
        fs::remove(launcher);
    }
}

// The name the launcher was started under, not its file's, carries the tag and the folder of
// relative add-on folders; a name that leads to another file counts for nothing.
TEST_F(SetupRun, ALinkedLauncherUsesTheLinksName) {
    AddSetup("setup.sh");
    fs::create_directories(dir / "real");
    const fs::path launcher =
        Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\nForwardResourceDataFromSFX=1\n",
               "real/launcher");
    const ProcessResult stamped = StampLauncher(launcher, {"VRNID=id"});
    ASSERT_EQ(stamped.status, 0) << stamped.err;
    const std::string tag = "A1b2C3d4E5f6G7h8";
    const fs::path links = dir / "links";
    fs::create_directories(links);
    fs::create_symlink(launcher, links / ("Setup--ph" + tag));
    WriteFile(dir / "other--phZZZZZZZZZZZZZZZZ", "another file");

    const std::string withTag = "VRNID=id\r\nVRNID2=" + tag + "\r\n";
    struct Case {
        const char* name;
        std::string command; // run by bash in the test's folder
        std::string path;    // PATH
        std::string values;
        fs::path addons; // where /dlvaddondir addons points
    };
    const std::string linkName = "Setup--ph" + tag;
    const std::string std_path = "/usr/bin:/bin";
    const Case cases[] = {
        {"absolute link", ShellQuote((links / linkName).string()), std_path, withTag,
         links / "addons"},
        {"relative link", "./links/" + linkName, std_path, withTag, links / "addons"},
        {"link found in PATH", linkName, links.string() + ":" + std_path, withTag,
         links / "addons"},
        {"the file itself", ShellQuote(launcher.string()), std_path, "VRNID=id\r\n",
         dir / "real/addons"},
        {"a tagged name of another file",
         "exec -a " + ShellQuote((dir / "other--phZZZZZZZZZZZZZZZZ").string()) + " " +
             ShellQuote(launcher.string()),
         std_path, "VRNID=id\r\n", dir / "real/addons"},
        {"a tagged name of no file",
         "exec -a /nowhere/x--phYYYYYYYYYYYYYYYY " + ShellQuote(launcher.string()), std_path,
         "VRNID=id\r\n", dir / "real/addons"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string command =
            (c.command.starts_with("exec") ? "" : "exec ") + c.command + " /q /dlvaddondir addons";
        const ProcessResult r = RunProcess({"/bin/bash", "-c", command},
                                           {{"LANG", "en_US.UTF-8"},
                                            {"LC_ALL", ""},
                                            {"TMPDIR", tmp.string()},
                                            {"SETUP_RECORD", record.string()},
                                            {"PATH", c.path}},
                                           dir.path().string());
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Values(), c.values);
        const std::vector<std::string> args = Arguments();
        const auto addon = std::find(args.begin(), args.end(), "/addondir");
        ASSERT_NE(addon, args.end()) << ReadFile(record);
        ASSERT_NE(addon + 1, args.end());
        EXPECT_EQ(fs::path(*(addon + 1)).lexically_normal(), c.addons);
        EXPECT_TRUE(TmpIsEmpty());
        fs::remove(record);
    }
}

TEST_F(SetupRun, ForwardedValuesAndTheCultureReachTheSetup) {
    AddSetup("setup.sh");
    const std::string config = "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                               "ForwardResourceDataFromSFX=1\n[LANG_en-US]\nProductName=Demo\n"
                               "[LANG_de-DE]\nProductName=Demo DE\n";
    struct Case {
        const char* name;
        std::string data;               // --data query
        std::vector<std::string> stamp; // sfxbuild stamp assignments
        std::string fileName;
        std::string values;
        // Text of the built data block replaced by text of the same length, for a block
        // sfxbuild would not make.
        std::pair<std::string, std::string> patch = {};
    };
    const Case cases[] = {
        {"stamped slots",
         "",
         {"VRNID=stamped id", "VRNID2=two"},
         "launcher",
         "VRNID=stamped id\r\nVRNID2=two\r\n"},
        {"the data block", "VRNID=from%20block&k=v", {}, "launcher", "VRNID=from block\r\nk=v\r\n"},
        {"the tag in the file name",
         "",
         {"VRNID=id"},
         "Setup--phA1b2C3d4E5f6G7h8",
         "VRNID=id\r\nVRNID2=A1b2C3d4E5f6G7h8\r\n"},
        // A value with a line break would forge a line; one with a NUL would be cut short.
        {"a forged line break in the data block",
         "VRNID=a%0d%0aVRNID2=forged&k=v&n=a%0ab",
         {},
         "launcher",
         "k=v\r\n"},
        {"a NUL in the data block", "VRNID=a%00b&k=v", {}, "launcher", "k=v\r\n"},
        {"a block that breaks off keeps the values before the break",
         "k1=one&k2=two&k3=xyz&k4=four",
         {},
         "launcher",
         "k1=one\r\nk2=two\r\n",
         {"k3=xyz", "k3=%  "}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path launcher = Create(config, c.fileName, c.data);
        if (!c.patch.first.empty())
            PatchUtf16(launcher, c.patch.first, c.patch.second);
        if (!c.stamp.empty()) {
            const ProcessResult stamped = StampLauncher(launcher, c.stamp);
            ASSERT_EQ(stamped.status, 0) << stamped.err;
        }
        const ProcessResult r = Run(launcher, {"/q", "/l", "de-DE"});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> args = Arguments();
        ASSERT_GE(args.size(), 4u) << ReadFile(record);
        EXPECT_EQ(args[0], "-m");
        EXPECT_EQ(fs::path(args[1]).filename(), "SetupValues.dat");
        EXPECT_EQ(args[2], "/l");
        EXPECT_EQ(args[3], "de-DE");
        EXPECT_EQ(Values(), c.values);
        EXPECT_TRUE(TmpIsEmpty());
        fs::remove(launcher);
    }
}

TEST_F(SetupRun, TheUsersCultureChoosesItsSectionAndItsTexts) {
    AddSetup("setup.sh");
    WriteFile(product / "data.txt", std::string(50000, 'x') + "end\n");
    const std::string config = "[main]\nProductName=Demo\nSetupFileName=setup.sh\n"
                               "SetupParams=--lang main\n"
                               "[LANG_de-DE]\nSetupParams=--lang de\n"
                               "[LANG_en-US]\nSetupParams=--lang en\n";
    const fs::path launcher = Create(config);
    struct Case {
        std::vector<std::string> args;
        std::string lang;
    };
    for (const auto& c : {Case{{"/q"}, "de"}, Case{{"/q", "/l", "en-US"}, "en"}}) {
        SCOPED_TRACE(c.lang);
        const ProcessResult r = Run(launcher, c.args, {{"LANG", "de_AT.UTF-8"}});
        EXPECT_EQ(r.status, 0) << r.err;
        const std::vector<std::string> args = Arguments();
        ASSERT_GE(args.size(), 2u) << ReadFile(record);
        EXPECT_EQ(args[0], "--lang");
        EXPECT_EQ(args[1], c.lang);
    }

    // A damaged archive is reported in the user's language.
    const fs::path archive = dir / "damaged.7z";
    Pack7z(product, archive);
    ASSERT_FALSE(HasFailure());
    std::string bytes = ReadFile(archive);
    ASSERT_GT(bytes.size(), 200u);
    bytes[100] = static_cast<char>(bytes[100] ^ 0x55);
    WriteFile(archive, bytes);
    WriteFile(dir / "config.txt", config);
    const fs::path damaged = dir / "damaged";
    const ProcessResult built =
        CreateLauncherFromArchive(dir / "config.txt", archive, damaged, stub);
    ASSERT_EQ(built.status, 0) << built.err;
    const ProcessResult r = Run(damaged, {"/qm"}, {{"LANG", "de_AT.UTF-8"}});
    EXPECT_EQ(r.status, 65);
    EXPECT_NE(r.err.find("Die Setup-Datei ist beschädigt."), std::string::npos) << r.err;
    EXPECT_TRUE(TmpIsEmpty());
}

TEST_F(SetupRun, ExtractOnlyFromTheConfigurationGoesToTheDocumentsFolder) {
    AddSetup("setup.sh");
    const fs::path home = dir / "home";
    WriteFile(home / ".config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    fs::create_directories(home / "Dokumente");
    const fs::path launcher =
        Create("[main]\nProductName=Demo\nSetupFileName=setup.sh\nExtractOnly=1\n");
    const ProcessResult r =
        Run(launcher, {"/q"}, {{"HOME", home.string()}, {"XDG_CONFIG_HOME", ""}});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(home / "Dokumente/setup.sh"));
    // Extracting only: the setup does not run.
    EXPECT_FALSE(fs::exists(record));
}

} // namespace
