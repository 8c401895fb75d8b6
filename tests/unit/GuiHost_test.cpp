// Loading the GUI module from memory, and the terminal fallback wherever it cannot be used.

#include "cptlib/platform/MemoryModule.h"
#include "launcher/GuiHost.h"

#include "support/Files.h"
#include "support/Presenter.h"
#include "support/ScopedEnv.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <cstdint>
#include <map>

namespace {

using namespace sfx;
using cptlib::platform::MemoryModule;

// The bytes of a real shared object, one that offers SfxFixtureAnswer.
std::string SharedObjectBytes() {
    return testsupport::ReadFile(SFX_PLAIN_SHARED_OBJECT);
}

TEST(MemoryModule, LoadsASharedObjectFromBytes) {
    const std::string bytes = SharedObjectBytes();
    ASSERT_GT(bytes.size(), 1000u);
    MemoryModule module(bytes, "fixture-copy");
    const auto answer = reinterpret_cast<int (*)()>(module.FindSymbol("SfxFixtureAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(module.FindSymbol("NoSuchSymbolAnywhere"), nullptr);

    MemoryModule moved(std::move(module));
    EXPECT_NE(moved.FindSymbol("SfxFixtureAnswer"), nullptr);
}

TEST(MemoryModule, DamagedBytesAreRefusedWithTheLoadersReason) {
    const std::string bytes = SharedObjectBytes();
    // A module loaded and released before must not be mistaken for the next one.
    { MemoryModule earlier(bytes, "earlier"); }
    std::string flipped = bytes;
    flipped[1] = 'X'; // no ELF magic any more
    for (const std::string& image :
         {std::string(), std::string("not a module"), bytes.substr(0, 200), flipped}) {
        try {
            MemoryModule module(image, "damaged");
            ADD_FAILURE() << "loaded " << image.size() << " damaged bytes";
        } catch (const std::runtime_error& e) {
            EXPECT_NE(std::string(e.what()), "") << image.size();
        }
    }
}

class GuiHostTest : public ::testing::Test {
protected:
    GuiHost::EnvReader Env() {
        return [this](const char* name) -> const char* {
            const auto it = env.find(name);
            return it != env.end() ? it->second.c_str() : nullptr;
        };
    }
    std::map<std::string, std::string> env{{"DISPLAY", ":0"}};
};

TEST_F(GuiHostTest, EveryReasonNotToUseTheModuleIsReported) {
    const std::string library = SharedObjectBytes();
    struct Case {
        std::string image;
        std::map<std::string, std::string> env;
        std::string reason;
    } cases[] = {
        {"", {{"DISPLAY", ":0"}}, "carries no GUI module"},
        {"\x7f"
         "ELF broken",
         {},
         "no display"},
        {"\x7f"
         "ELF broken",
         {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}},
         "no display"},
        {"\x7f"
         "ELF broken",
         {{"WAYLAND_DISPLAY", "wayland-0"}},
         "cannot be loaded"},
        {library, {{"DISPLAY", ":0"}}, "has no entry SfxCreateGuiModule"},
    };
    for (const Case& c : cases) {
        env = c.env;
        GuiHost host(c.image, Env());
        EXPECT_EQ(host.Get(4), nullptr) << c.reason;
        EXPECT_NE(host.WhyNot().find(c.reason), std::string::npos) << host.WhyNot();
        // Tried once: a later window falls back at once.
        EXPECT_EQ(host.Get(2), nullptr);
    }
}

// Windows linked into the program (the Windows launcher): no display variable is asked for,
// the entry is called once with this interface's version, and its refusal is the reason given.
int linkedCalls = 0;
int linkedVersion = 0;
IGuiModule* RefusingEntry(int version, std::string& whyNot) {
    ++linkedCalls;
    linkedVersion = version;
    whyNot = "this build has no windows.";
    return nullptr;
}

TEST_F(GuiHostTest, LinkedWindowsAreAskedOnceWithoutADisplay) {
    env.clear();
    linkedCalls = 0;
    GuiHost host(&RefusingEntry, Env());
    EXPECT_EQ(host.Get(0), nullptr);
    EXPECT_EQ(linkedCalls, 0); // the silent level never asks
    EXPECT_EQ(host.Get(4), nullptr);
    EXPECT_EQ(host.Get(2), nullptr);
    EXPECT_EQ(host.GetForQuestion(), nullptr);
    EXPECT_EQ(linkedCalls, 1);
    EXPECT_EQ(linkedVersion, kGuiModuleVersion);
    EXPECT_EQ(host.WhyNot(), "this build has no windows.");
}

TEST_F(GuiHostTest, SilentLevelNeverLoads) {
    GuiHost host("\x7f"
                 "ELF broken",
                 Env());
    EXPECT_EQ(host.Get(0), nullptr);
    EXPECT_EQ(host.WhyNot(), ""); // not even tried
    EXPECT_EQ(host.Get(1), nullptr);
    EXPECT_NE(host.WhyNot().find("cannot be loaded"), std::string::npos) << host.WhyNot();
}

TEST_F(GuiHostTest, MessageBoxesFallBackToTheTerminalPresenter) {
    for (int level : {0, 1, 4}) {
        GuiHost host("garbage", Env());
        auto fallback = std::make_shared<testsupport::ScriptedPresenter>();
        fallback->reply = cptlib::kIdRetry;
        GuiMessageBoxPresenter presenter(
            host, [level] { return level; }, fallback);
        cptlib::MessageBoxContent box;
        box.content = "Disk full";
        EXPECT_EQ(presenter.Show(box), cptlib::kIdRetry);
        ASSERT_EQ(fallback->shown.size(), 1u);
        EXPECT_EQ(fallback->shown[0].content, "Disk full");
        EXPECT_FALSE(presenter.MainWindowVisible());
        EXPECT_EQ(host.WhyNot().empty(), level == 0) << host.WhyNot();
    }
}

// Records what reaches the fallback view.
class FallbackView : public IProgressView {
public:
    bool Create(const ProgressViewLayout&) override { return true; }
    void Show(bool) override {}
    void SetTitle(const std::string& title) override { calls.push_back("title " + title); }
    void SetText(const std::string& text) override { calls.push_back("text " + text); }
    void SetCancelText(const std::string&) override {}
    void EnableCancel(bool) override {}
    void SetProgress(int permille) override { calls.push_back(std::to_string(permille)); }
    void SetBarState(ProgressBarState) override {}
    void SetTaskbarProgress(int) override {}
    void SetTaskbarState(ProgressBarState) override {}
    void FlashIfNotForeground() override {}
    bool CanAsk() override { return canAsk; }
    int AskOverwrite(const cptlib::MessageBoxContent&) override { return cptlib::kIdNo; }
    bool AskPassword(std::string& password) override {
        password = "secret";
        return true;
    }
    std::string PickFolder(const std::string& initial, const std::string&) override {
        return initial + "picked/";
    }
    void ShowExtractSuccess(const cptlib::MessageBoxContent&, const std::string& folder) override {
        calls.push_back("done " + folder);
    }
    std::vector<std::string> calls;
    bool canAsk = true; // a terminal to answer at
};

TEST_F(GuiHostTest, ProgressFallsBackToTheTerminalView) {
    for (int level : {0, 1, 2, 4}) {
        GuiHost host("garbage", Env());
        auto fallback = std::make_unique<FallbackView>();
        FallbackView* terminal = fallback.get();
        const auto view = MakeProgressView(host, level, std::move(fallback));
        view->SetTitle("42 % Extracting...");
        view->SetText("setup.exe");
        view->SetProgress(420);
        std::string password;
        EXPECT_TRUE(view->AskPassword(password));
        EXPECT_EQ(password, "secret");
        EXPECT_EQ(view->AskOverwrite({}), cptlib::kIdNo);
        EXPECT_EQ(view->PickFolder("/home/u/", "Choose"), "/home/u/picked/");
        view->ShowExtractSuccess({}, "/home/u/out");
        EXPECT_EQ(terminal->calls,
                  (std::vector<std::string>{"title 42 % Extracting...", "text setup.exe", "420",
                                            "done /home/u/out"}));
        // The folder chooser is a window, so from level 1 up the module was tried for it.
        EXPECT_EQ(host.WhyNot().empty(), level == 0) << level;
    }
}

} // namespace

namespace {

// The module as the stub carries it: xz-compressed, unpacked when a window is first wanted.
// Damaged or cut-off compressed bytes are a reason not to use it, not a crash.
TEST_F(GuiHostTest, ACompressedModuleIsUnpackedAndDamageIsRefused) {
    const std::string image = testsupport::ReadFile(SFX_FAKE_GUI_MODULE);
    ASSERT_FALSE(image.empty());
    std::string packed(lzma_stream_buffer_bound(image.size()), '\0');
    std::size_t size = 0;
    ASSERT_EQ(lzma_easy_buffer_encode(6, LZMA_CHECK_CRC32, nullptr,
                                      reinterpret_cast<const std::uint8_t*>(image.data()),
                                      image.size(), reinterpret_cast<std::uint8_t*>(packed.data()),
                                      &size, packed.size()),
              LZMA_OK);
    packed.resize(size);
    ASSERT_LT(packed.size(), image.size());
    testsupport::ScopedEnv mode("FAKE_GUI_MODULE", "windows");
    {
        GuiHost host(packed, Env());
        EXPECT_NE(host.Get(4), nullptr) << host.WhyNot();
    }
    std::string flipped = packed;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x55);
    for (const std::string& damaged : {flipped, packed.substr(0, packed.size() / 2),
                                       packed.substr(0, 12), packed + "trailing"}) {
        GuiHost host(damaged, Env());
        EXPECT_EQ(host.Get(4), nullptr) << damaged.size();
        EXPECT_NE(host.WhyNot().find("cannot be unpacked"), std::string::npos) << host.WhyNot();
    }
}

// Through a module loaded from its bytes: its answers reach the launcher, its refusal is the
// logged reason.
TEST_F(GuiHostTest, WindowsComeFromTheLoadedModule) {
    const std::string image = testsupport::ReadFile(SFX_FAKE_GUI_MODULE);
    ASSERT_FALSE(image.empty());
    {
        testsupport::ScopedEnv mode("FAKE_GUI_MODULE", "decline");
        GuiHost host(image, Env());
        EXPECT_EQ(host.Get(4), nullptr);
        EXPECT_EQ(host.WhyNot(), "no screen here.");
    }
    testsupport::ScopedEnv mode("FAKE_GUI_MODULE", "windows");
    GuiHost host(image, Env());
    IGuiModule* module = host.Get(4);
    ASSERT_NE(module, nullptr) << host.WhyNot();
    EXPECT_EQ(host.WhyNot(), "");
    EXPECT_EQ(host.Get(2), module);

    int level = 4;
    auto fallback = std::make_shared<testsupport::ScriptedPresenter>();
    fallback->reply = cptlib::kIdRetry;
    GuiMessageBoxPresenter presenter(
        host, [&level] { return level; }, fallback);
    cptlib::MessageBoxContent box;
    box.content = "Question";
    EXPECT_EQ(presenter.Show(box), cptlib::kIdRetry);
    EXPECT_TRUE(fallback->shown.empty());
    EXPECT_TRUE(presenter.MainWindowVisible());
    // The help box shown despite /q stays at the terminal.
    level = 0;
    presenter.Show(box);
    ASSERT_EQ(fallback->shown.size(), 1u);
    EXPECT_EQ(fallback->shown[0].content, "Question");

    // No progress window in this module: the terminal view, with the module's folder chooser.
    auto terminal = std::make_unique<FallbackView>();
    const auto view = MakeProgressView(host, 4, std::move(terminal));
    view->SetText("x");
    EXPECT_EQ(view->PickFolder("/home/u/", "Choose"), "/picked/");
}

// The password question comes at every level, /q included: in the module's window, except at
// /q from a terminal, where the prompt is.
TEST_F(GuiHostTest, ThePasswordIsAskedInTheModulesWindowAtEveryLevel) {
    const std::string image = testsupport::ReadFile(SFX_FAKE_GUI_MODULE);
    ASSERT_FALSE(image.empty());
    testsupport::ScopedEnv mode("FAKE_GUI_MODULE", "windows");
    struct Case {
        int level;
        bool terminal;
        const char* answer;
    } cases[] = {
        {0, false, "from the module"},
        {0, true, "secret"},
        {1, true, "from the module"},
        {4, false, "from the module"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.level) + (c.terminal ? " at a terminal" : ""));
        GuiHost host(image, Env());
        auto fallback = std::make_unique<FallbackView>();
        fallback->canAsk = c.terminal;
        const auto view = MakeProgressView(host, c.level, std::move(fallback));
        std::string password;
        EXPECT_TRUE(view->AskPassword(password));
        EXPECT_EQ(password, c.answer);
    }
}

} // namespace
