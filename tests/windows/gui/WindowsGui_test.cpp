// The window module driven as a user would: a second thread finds the dialog that the test's
// thread shows and sends it keys through the dialog manager (Enter, Escape, Tab) or the close
// box, and the test checks what the call returns. Sizes are checked against the dialog units
// of the templates, computed here from the dialog's own font.
//
// Needs a desktop: run-gui-tests.sh starts Xvfb and a window manager and sets SFX_GUI_TESTS.

#include "cptlib/localization/MemStringResources.h"
#include "cptlib/localization/XmlStringResourcesLoader.h"
#include "cptlib/platform/win32/Wide.h"
#include "cptlib/sys/MessageInbox.h"
#include "cptlib/ui/MessageBox.h"
#include "launcher/GuiModule.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>
#include <richedit.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

extern "C" sfx::IGuiModule* SfxCreateGuiModule(int interfaceVersion, std::string& whyNot);

namespace {

using cptlib::platform::Narrow;
using cptlib::platform::Widen;
using namespace std::chrono_literals;

bool GuiExpected() {
    return std::getenv("SFX_GUI_TESTS") != nullptr;
}

std::unique_ptr<sfx::IGuiModule>& Module() {
    static std::unique_ptr<sfx::IGuiModule> module;
    return module;
}

std::string& WhyNot() {
    static std::string whyNot;
    return whyNot;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[128] = {};
    GetClassNameW(window, name, 128);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), int(text.size()))));
    return text;
}

// Drives the dialogs that the test's thread shows, from a thread of its own.
class Driver {
public:
    explicit Driver(std::function<void(Driver&)> script)
        : uiThread_(GetCurrentThreadId()), thread_([this, script = std::move(script)] {
              script(*this);
              // A dialog the script could not end must fail the test, not hang it.
              for (int i = 0; i < 250 && !finished_; ++i)
                  std::this_thread::sleep_for(20ms);
              if (!finished_) {
                  timedOut_ = true;
                  EnumThreadWindows(
                      uiThread_,
                      [](HWND window, LPARAM) -> BOOL {
                          PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
                          return TRUE;
                      },
                      0);
              }
          }) {}
    ~Driver() {
        if (thread_.joinable())
            Join();
    }
    Driver(const Driver&) = delete;
    Driver& operator=(const Driver&) = delete;

    void Join() {
        finished_ = true;
        thread_.join();
        EXPECT_FALSE(timedOut_) << "a dialog stayed open after the script";
    }

    // The next visible, enabled top-level window of the test's thread not seen before; null
    // after ten seconds.
    HWND NextWindow() {
        for (auto end = std::chrono::steady_clock::now() + 10s;
             std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms)) {
            found_ = nullptr;
            EnumThreadWindows(
                uiThread_,
                [](HWND window, LPARAM self) -> BOOL {
                    auto* driver = reinterpret_cast<Driver*>(self);
                    if (IsWindowVisible(window) && IsWindowEnabled(window) &&
                        !driver->seen_.count(window) &&
                        ClassOf(window) != L"SfxGuiModuleMessages") {
                        driver->found_ = window;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(this));
            if (found_ != nullptr) {
                seen_.insert(found_);
                // Let the dialog finish its initialisation and take the focus.
                std::this_thread::sleep_for(100ms);
                return found_;
            }
        }
        return nullptr;
    }

    HWND Focus() const {
        GUITHREADINFO info{};
        info.cbSize = sizeof(info);
        return GetGUIThreadInfo(uiThread_, &info) ? info.hwndFocus : nullptr;
    }

    // A key pressed and released on the focused control.
    void Key(UINT key) {
        HWND focus = Focus();
        PostMessageW(focus, WM_KEYDOWN, key, 1);
        PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
        std::this_thread::sleep_for(150ms);
    }

    void Type(const std::wstring& text) {
        HWND focus = Focus();
        for (const wchar_t c : text)
            PostMessageW(focus, WM_CHAR, c, 1);
        std::this_thread::sleep_for(150ms);
    }

    static void CloseBox(HWND window) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        std::this_thread::sleep_for(150ms);
    }

    // The dialog control that has the focus: its id, or -1.
    int FocusId() const {
        HWND focus = Focus();
        return focus != nullptr ? GetDlgCtrlID(focus) : -1;
    }

private:
    DWORD uiThread_;
    std::atomic<bool> finished_ = false;
    std::atomic<bool> timedOut_ = false;
    std::set<HWND> seen_;
    HWND found_ = nullptr;
    std::thread thread_;
};

// Dialog units of a dialog's font, measured here: the average width of the 52 letters and the
// font's height, as the dialog manager defines them.
struct Units {
    int cx = 0, cy = 0;
    int X(int dlu) const { return MulDiv(dlu, cx, 4); }
    int Y(int dlu) const { return MulDiv(dlu, cy, 8); }
};

Units MeasureUnits(HWND dialog) {
    HDC dc = GetDC(dialog);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)));
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE size{};
    const wchar_t letters[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    GetTextExtentPoint32W(dc, letters, 52, &size);
    SelectObject(dc, old);
    ReleaseDC(dialog, dc);
    return {(size.cx / 26 + 1) / 2, metrics.tmHeight};
}

RECT ClientRectOf(HWND control) {
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// Pixel sizes may differ by one from the rounding of the measured units.
constexpr int kTolerance = 1;

struct DluRect {
    int id, x, y, cx, cy;
};

// Checks the client size and the controls' rectangles against dialog units.
void ExpectTemplate(HWND dialog, int cx, int cy, const std::vector<DluRect>& controls,
                    const std::string& what) {
    const Units u = MeasureUnits(dialog);
    ASSERT_GT(u.cx, 0);
    RECT client{};
    GetClientRect(dialog, &client);
    EXPECT_NEAR(client.right, u.X(cx), kTolerance) << what << " width";
    EXPECT_NEAR(client.bottom, u.Y(cy), kTolerance) << what << " height";
    for (const DluRect& c : controls) {
        const RECT r = ClientRectOf(GetDlgItem(dialog, c.id));
        EXPECT_NEAR(r.left, u.X(c.x), kTolerance) << what << " control " << c.id;
        EXPECT_NEAR(r.top, u.Y(c.y), kTolerance) << what << " control " << c.id;
        EXPECT_NEAR(r.right - r.left, u.X(c.cx), kTolerance) << what << " control " << c.id;
        EXPECT_NEAR(r.bottom - r.top, u.Y(c.cy), kTolerance) << what << " control " << c.id;
    }
}

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (GuiExpected() && !Module()) {
            Module().reset(SfxCreateGuiModule(sfx::kGuiModuleVersion, WhyNot()));
            if (Module())
                cptlib::SetMessageBoxPresenter(Module()->CreateMessageBoxPresenter());
        }
    }
    void SetUp() override {
        if (!GuiExpected())
            GTEST_SKIP() << "needs a desktop: run through run-gui-tests.sh (Xvfb)";
        ASSERT_TRUE(Module()) << WhyNot();
        cptlib::SetAppName("Product");
        cptlib::SetUiStrings(nullptr);
    }
    sfx::IGuiModule& module() { return *Module(); }
};

TEST(WindowsGuiNoDesktop, RefusesAtOnceWithAReason) {
    const char* display = std::getenv("DISPLAY");
    if (GuiExpected() || (display != nullptr && *display != '\0'))
        GTEST_SKIP() << "a display is set";
    const auto start = std::chrono::steady_clock::now();
    std::string whyNot;
    std::unique_ptr<sfx::IGuiModule> module(SfxCreateGuiModule(sfx::kGuiModuleVersion, whyNot));
    EXPECT_EQ(module, nullptr);
    EXPECT_FALSE(whyNot.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(WindowsGuiNoDesktop, RefusesAnotherInterfaceVersion) {
    std::string whyNot;
    EXPECT_EQ(SfxCreateGuiModule(sfx::kGuiModuleVersion + 1, whyNot), nullptr);
    EXPECT_NE(whyNot.find("version"), std::string::npos) << whyNot;
}

// --- progress window -----------------------------------------------------------------------

struct ProgressRun {
    std::unique_ptr<sfx::IProgressView> view;
    int cancels = 0;
};

TEST_F(GuiTest, ProgressWindowMatchesBothTemplates) {
    for (const bool pretty : {true, false}) {
        auto view = module().CreateProgressView();
        sfx::ProgressViewLayout layout;
        layout.pretty = pretty;
        layout.productName = "Product";
        ASSERT_TRUE(view->Create(layout));
        view->Show(true);
        HWND window = FindWindowW(L"VrnSelfExtract-4290A5B0-2614-4EA9-97A6-2D8D7D190670", nullptr);
        ASSERT_NE(window, nullptr);
        if (pretty) {
            ExpectTemplate(window, 248, 79, {{2, 191, 58, 50, 14}}, "pretty");
            // The texts and the bar start 9 units right of the icon, right edges unchanged.
            const Units u = MeasureUnits(window);
            const RECT title = ClientRectOf(GetDlgItem(window, 1002));
            EXPECT_NEAR(title.top, u.Y(7), kTolerance);
            EXPECT_NEAR(title.bottom - title.top, u.Y(17), kTolerance);
            const RECT icon = ClientRectOf(GetDlgItem(window, 1008));
            for (const int id : {1000, 1001, 1002}) {
                const RECT r = ClientRectOf(GetDlgItem(window, id));
                EXPECT_NEAR(r.left, icon.right + u.X(9), kTolerance) << id;
            }
            EXPECT_NEAR(ClientRectOf(GetDlgItem(window, 1000)).right, u.X(36 + 205), kTolerance);
            EXPECT_NEAR(ClientRectOf(GetDlgItem(window, 1001)).right, u.X(36 + 187), kTolerance);
            EXPECT_EQ(TextOf(GetDlgItem(window, 1002)), L"Product");
            LOGFONTW titleFont{};
            GetObjectW(reinterpret_cast<HFONT>(SendDlgItemMessageW(window, 1002, WM_GETFONT, 0, 0)),
                       sizeof(titleFont), &titleFont);
            EXPECT_EQ(titleFont.lfWeight, FW_BOLD) << "the product name is bold";
        } else {
            ExpectTemplate(window, 235, 62,
                           {{1001, 7, 8, 221, 8}, {1000, 7, 19, 221, 8}, {2, 178, 41, 50, 14}},
                           "simple");
        }
        const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & WS_THICKFRAME);
        view->SetProgress(1500);
        EXPECT_EQ(SendDlgItemMessageW(window, 1000, PBM_GETPOS, 0, 0), 1000);
        view->SetProgress(437);
        EXPECT_EQ(SendDlgItemMessageW(window, 1000, PBM_GETPOS, 0, 0), 437);
        view->SetTitle("43 % Extracting...");
        EXPECT_EQ(TextOf(window), L"43 % Extracting...");
    }
}

// Each way of cancelling reaches the controller once; a disabled Cancel none.
TEST_F(GuiTest, ProgressWindowCancelsByKeyButtonAndCloseBox) {
    enum class Way { Escape, EnterOnCancel, SpaceOnCancel, CloseBox };
    for (const Way way : {Way::Escape, Way::EnterOnCancel, Way::SpaceOnCancel, Way::CloseBox}) {
        for (const bool enabled : {true, false}) {
            auto view = module().CreateProgressView();
            std::atomic<int> cancels = 0;
            bool ended = false;
            sfx::ProgressViewLayout layout;
            layout.onCancel = [&] { ++cancels; };
            ASSERT_TRUE(view->Create(layout));
            view->SetCancelText("Cancel");
            view->EnableCancel(enabled);
            view->Show(true);
            cptlib::MessageInbox inbox([&](const cptlib::Message& m) -> cptlib::LResult {
                if (m.id == 1)
                    ended = true;
                return 0;
            });
            const cptlib::InboxHandle handle = inbox.Handle();
            int focusId = 0;
            Driver driver([&](Driver& d) {
                HWND window = d.NextWindow();
                if (window == nullptr)
                    return handle.Post(1);
                focusId = d.FocusId();
                switch (way) {
                case Way::Escape:
                    d.Key(VK_ESCAPE);
                    break;
                case Way::EnterOnCancel:
                    d.Key(VK_RETURN);
                    break;
                case Way::SpaceOnCancel:
                    d.Key(VK_SPACE);
                    break;
                case Way::CloseBox:
                    Driver::CloseBox(window);
                    break;
                }
                std::this_thread::sleep_for(200ms);
                return handle.Post(1);
            });
            view->RunModalLoop(inbox, [&] { return ended; });
            driver.Join();
            EXPECT_EQ(cancels, enabled ? 1 : 0)
                << "way " << static_cast<int>(way) << (enabled ? " enabled" : " disabled");
            if (enabled && way != Way::CloseBox) {
                EXPECT_EQ(focusId, IDCANCEL) << "the Cancel button has the focus";
            }
        }
    }
}

// A worker's sent message is answered while the window's loop runs; its progress shows.
TEST_F(GuiTest, ProgressWindowLoopAnswersSentMessages) {
    auto view = module().CreateProgressView();
    ASSERT_TRUE(view->Create({}));
    view->Show(true);
    bool ended = false;
    cptlib::MessageInbox inbox([&](const cptlib::Message& m) -> cptlib::LResult {
        if (m.id == 1) {
            view->SetProgress(static_cast<int>(m.wParam));
            return static_cast<cptlib::LResult>(m.wParam) + 1;
        }
        ended = true;
        return 0;
    });
    std::vector<cptlib::LResult> replies;
    std::thread worker([&, handle = inbox.Handle()] {
        for (const int permille : {100, 500, 999})
            replies.push_back(handle.Send(1, permille));
        handle.Post(2);
    });
    view->RunModalLoop(inbox, [&] { return ended; });
    worker.join();
    EXPECT_EQ(replies, (std::vector<cptlib::LResult>{101, 501, 1000}));
    HWND window = FindWindowW(L"VrnSelfExtract-4290A5B0-2614-4EA9-97A6-2D8D7D190670", nullptr);
    EXPECT_EQ(SendDlgItemMessageW(window, 1000, PBM_GETPOS, 0, 0), 999);
}

// --- message box ---------------------------------------------------------------------------

struct BoxCase {
    const char* name;
    std::uint32_t type;
    std::uint32_t flags;
    std::vector<UINT> keys; // 0: the close box
    int expected;
    int expectedFocus; // the button focused when the box opens
};

TEST_F(GuiTest, MessageBoxKeyboard) {
    using namespace cptlib;
    const std::vector<BoxCase> cases = {
        {"Enter takes the default", kMbYesNo | kMbDefButton2, 0, {VK_RETURN}, kIdNo, kIdNo},
        {"Tab moves to the next button",
         kMbYesNo | kMbDefButton2,
         0,
         {VK_TAB, VK_RETURN},
         kIdYes,
         kIdNo},
        {"Tab wraps over the text",
         kMbYesNoCancel,
         0,
         {VK_TAB, VK_TAB, VK_TAB, VK_RETURN},
         kIdYes,
         kIdYes},
        {"Escape cancels", kMbYesNo, 0, {VK_ESCAPE}, kIdCancel, kIdYes},
        {"the close box cancels", kMbOk, 0, {0}, kIdCancel, kIdOk},
        {"no close ignores Escape", kMbYesNo, MBF_NO_CLOSE, {VK_ESCAPE, VK_RETURN}, kIdYes, kIdYes},
        {"no close ignores the close box", kMbOkCancel, MBF_NO_CLOSE, {0, VK_RETURN}, kIdOk, kIdOk},
        {"a type without buttons has OK", 7, 0, {VK_RETURN}, kIdOk, kIdOk},
    };
    for (const BoxCase& c : cases) {
        int focus = 0;
        Driver driver([&](Driver& d) {
            HWND box = d.NextWindow();
            if (box == nullptr)
                return;
            focus = d.FocusId();
            for (const UINT key : c.keys) {
                if (key == 0)
                    Driver::CloseBox(box);
                else
                    d.Key(key);
            }
            // Whatever happens, the box must not stay open.
            std::this_thread::sleep_for(500ms);
            if (IsWindow(box))
                PostMessageW(box, WM_COMMAND, MAKEWPARAM(12345, BN_CLICKED), 0);
        });
        const int result =
            ShowBigMessageBox(nullptr, nullptr, nullptr, "Question?", c.type, c.flags);
        driver.Join();
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(focus, c.expectedFocus) << c.name;
    }
}

struct BoxLook {
    LONG_PTR style = 0;
    RECT client{};
    RECT text{};
    std::wstring shown;
    bool hasIcon = false;
};

BoxLook OpenAndLook(const cptlib::MessageBoxContent& content) {
    BoxLook look;
    Driver driver([&](Driver& d) {
        HWND box = d.NextWindow();
        if (box == nullptr)
            return;
        look.style = GetWindowLongPtrW(box, GWL_STYLE);
        GetClientRect(box, &look.client);
        HWND text = GetDlgItem(box, 1001);
        look.text = ClientRectOf(text);
        GETTEXTLENGTHEX lengthEx{GTL_DEFAULT, 1200};
        const auto length =
            SendMessageW(text, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&lengthEx), 0);
        std::wstring shown(static_cast<std::size_t>(length) + 1, L'\0');
        GETTEXTEX get{static_cast<DWORD>(shown.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr,
                      nullptr};
        SendMessageW(text, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                     reinterpret_cast<LPARAM>(shown.data()));
        shown.resize(wcslen(shown.c_str()));
        look.shown = shown;
        look.hasIcon = GetDlgItem(box, 1002) != nullptr;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    });
    cptlib::MessageBoxContent box = content;
    if (box.buttons.empty())
        box.buttons.push_back({cptlib::kIdOk, true, "OK"});
    cptlib::GetMessageBoxPresenter().Show(box);
    driver.Join();
    return look;
}

double Factor() {
    HDC screen = GetDC(nullptr);
    const double factor = GetDeviceCaps(screen, LOGPIXELSX) / 96.0;
    ReleaseDC(nullptr, screen);
    return factor;
}

int Scaled(int pixels) {
    return static_cast<int>(std::lround(pixels * Factor()));
}

TEST_F(GuiTest, MessageBoxMeasuresItsText) {
    cptlib::MessageBoxContent shortBox;
    shortBox.content = "One line.";
    shortBox.iconKind = cptlib::IconKind::Error;
    const BoxLook small = OpenAndLook(shortBox);
    // Margins, the minimum text height and the footer (separator, button, margins).
    const int footer = static_cast<int>(std::lround(Factor())) + Scaled(26) + 2 * Scaled(12);
    EXPECT_EQ(small.client.bottom, 2 * Scaled(12) + Scaled(60) + footer);
    EXPECT_GE(small.client.right, Scaled(270));
    EXPECT_FALSE(small.style & WS_THICKFRAME) << "a box that fits is not resizable";
    EXPECT_TRUE(small.hasIcon);
    EXPECT_EQ(small.text.left, Scaled(12) + Scaled(32) + Scaled(12));

    std::string tall;
    for (int i = 0; i < 60; ++i)
        tall += "Line " + std::to_string(i) + "\n";
    cptlib::MessageBoxContent tallBox;
    tallBox.content = tall;
    const BoxLook scrolling = OpenAndLook(tallBox);
    EXPECT_TRUE(scrolling.style & WS_THICKFRAME) << "a text too tall scrolls in a resizable box";
    EXPECT_EQ(scrolling.text.bottom - scrolling.text.top, Scaled(360));
    tallBox.flags = cptlib::MBF_NO_HEIGHT_LIMIT;
    const BoxLook growing = OpenAndLook(tallBox);
    EXPECT_FALSE(growing.style & WS_THICKFRAME);
    EXPECT_GT(growing.text.bottom - growing.text.top, Scaled(360));
}

// The rich text reaches the control whole: the bold main instruction first, scripts beyond
// Latin-1 intact, link markers shown as their text only.
TEST_F(GuiTest, MessageBoxShowsComposedRichText) {
    cptlib::MessageBoxContent box;
    box.mainInstruction = "Η εγκατάσταση";
    box.content =
        "日本語のテキスト {braces} \\ back\nsecond line <LINK our site|http://example.org/>";
    const BoxLook look = OpenAndLook(box);
    const std::string shown = Narrow(look.shown);
    EXPECT_EQ(shown.find("Η εγκατάσταση"), 0u) << shown;
    EXPECT_NE(shown.find("日本語のテキスト {braces} \\ back"), std::string::npos) << shown;
    EXPECT_NE(shown.find("second line"), std::string::npos) << shown;
    EXPECT_NE(shown.find("our site"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("<LINK"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("ZQLINKEND"), std::string::npos) << shown;
}

// Both link forms show their text as a link; a click hands its address to the handler.
TEST_F(GuiTest, MessageBoxLinkClickReachesTheHandler) {
    for (const char* text : {"See <LINK our site|http://example.org/a b> now.",
                             "See #LINK#our site#http://example.org/a b## now."}) {
        std::string clicked;
        cptlib::MessageBoxContent box;
        box.content = text;
        box.buttons.push_back({cptlib::kIdOk, true, "OK"});
        box.linkHandler = [&](const std::string& target) {
            clicked = target;
            return true;
        };
        Driver driver([&](Driver& d) {
            HWND dialog = d.NextWindow();
            if (dialog == nullptr)
                return;
            HWND edit = GetDlgItem(dialog, 1001);
            POINTL at{};
            SendMessageW(edit, EM_POSFROMCHAR, reinterpret_cast<WPARAM>(&at), 6);
            const LPARAM point = MAKELPARAM(at.x + 2, at.y + 2);
            PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, point);
            PostMessageW(edit, WM_LBUTTONUP, 0, point);
            std::this_thread::sleep_for(300ms);
            d.Key(VK_ESCAPE);
        });
        cptlib::GetMessageBoxPresenter().Show(box);
        driver.Join();
        EXPECT_EQ(clicked, "http://example.org/a b") << text;
    }
}

// Ctrl+C with nothing selected copies the whole message, typed as the user types it.
TEST_F(GuiTest, MessageBoxCtrlCCopiesTheWholeMessage) {
    std::wstring copied;
    Driver driver([&](Driver& d) {
        HWND box = d.NextWindow();
        if (box == nullptr)
            return;
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
        INPUT keys[4] = {};
        const WORD codes[4] = {VK_CONTROL, 'C', 'C', VK_CONTROL};
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = codes[i];
            keys[i].ki.dwFlags = i >= 2 ? KEYEVENTF_KEYUP : 0;
        }
        SendInput(4, keys, sizeof(INPUT));
        std::this_thread::sleep_for(500ms);
        if (OpenClipboard(nullptr)) {
            if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
                copied = static_cast<const wchar_t*>(GlobalLock(data));
                GlobalUnlock(data);
            }
            CloseClipboard();
        }
        d.Key(VK_ESCAPE);
    });
    cptlib::ShowBigMessageBox(nullptr, nullptr, nullptr, "Copy me\nwhole", cptlib::kMbOk, 0);
    driver.Join();
    EXPECT_NE(copied.find(L"Copy me"), std::wstring::npos) << Narrow(copied);
    EXPECT_NE(copied.find(L"whole"), std::wstring::npos) << Narrow(copied);
}

// --- language and password dialogs ----------------------------------------------------------

struct DialogCase {
    const char* name;
    std::vector<UINT> keys; // 0: the close box
    int expected;
    std::string value;
};

TEST_F(GuiTest, LanguageDialog) {
    const cptlib::CultureMap cultures = {
        {"de-DE", "Deutsch"}, {"el-GR", "Ελληνικά"}, {"en-US", "English"}, {"ja-JP", "日本語"}};
    cptlib::MemStringResources strings;
    const std::vector<DialogCase> cases = {
        {"Enter keeps the preselection", {VK_RETURN}, cptlib::kIdOk, "de-DE"},
        {"Down then Enter takes the next line", {VK_DOWN, VK_RETURN}, cptlib::kIdOk, "en-US"},
        {"Escape cancels", {VK_ESCAPE}, cptlib::kIdCancel, "de-DE"},
        {"the close box cancels", {0}, cptlib::kIdCancel, "de-DE"},
        {"Tab to Cancel and Enter", {VK_TAB, VK_TAB, VK_RETURN}, cptlib::kIdCancel, "de-DE"},
    };
    for (const DialogCase& c : cases) {
        std::vector<int> tabOrder;
        Driver driver([&](Driver& d) {
            HWND dialog = d.NextWindow();
            if (dialog == nullptr)
                return;
            if (&c == &cases.front()) {
                ExpectTemplate(dialog, 186, 76,
                               {{1007, 7, 7, 172, 19}, {1, 71, 55, 50, 14}, {2, 129, 55, 50, 14}},
                               "language");
                EXPECT_TRUE(GetWindowLongPtrW(dialog, GWL_EXSTYLE) & WS_EX_APPWINDOW);
                EXPECT_EQ(TextOf(dialog), L"Installation Language");
                for (int i = 0; i < 4; ++i) {
                    tabOrder.push_back(d.FocusId());
                    d.Key(VK_TAB);
                }
            }
            for (const UINT key : c.keys)
                key == 0 ? Driver::CloseBox(dialog) : d.Key(key);
        });
        std::string selected = "de-DE";
        const int result = module().RunLanguageDialog(cultures, selected, strings);
        driver.Join();
        EXPECT_EQ(result, c.expected) << c.name;
        EXPECT_EQ(selected, c.value) << c.name;
        if (!tabOrder.empty()) {
            EXPECT_EQ(tabOrder, (std::vector<int>{1006, 1, 2, 1006}));
        }
    }
}

TEST_F(GuiTest, PasswordDialog) {
    const std::vector<DialogCase> cases = {
        {"typed and Enter",
         {VK_RETURN},
         cptlib::kIdOk,
         "s3cr\xE2\x82\xAC"
         "t"},
        {"Escape refuses", {VK_ESCAPE}, cptlib::kIdCancel, ""},
        {"the close box refuses", {0}, cptlib::kIdCancel, ""},
        {"Tab to OK and Space",
         {VK_TAB, VK_SPACE},
         cptlib::kIdOk,
         "s3cr\xE2\x82\xAC"
         "t"},
    };
    for (const DialogCase& c : cases) {
        std::vector<int> tabOrder;
        Driver driver([&](Driver& d) {
            HWND dialog = d.NextWindow();
            if (dialog == nullptr)
                return;
            if (&c == &cases.front()) {
                ExpectTemplate(dialog, 197, 62,
                               {{1009, 7, 18, 183, 12}, {1, 86, 41, 50, 14}, {2, 140, 41, 50, 14}},
                               "password");
                EXPECT_TRUE(SendDlgItemMessageW(dialog, 1009, EM_GETPASSWORDCHAR, 0, 0) != 0);
                for (int i = 0; i < 3; ++i) {
                    tabOrder.push_back(d.FocusId());
                    d.Key(VK_TAB);
                }
            }
            d.Type(L"s3cr\u20ACt");
            for (const UINT key : c.keys)
                key == 0 ? Driver::CloseBox(dialog) : d.Key(key);
        });
        std::string password;
        const bool taken = module().AskPassword(password);
        driver.Join();
        EXPECT_EQ(taken, c.expected == cptlib::kIdOk) << c.name;
        EXPECT_EQ(password, c.value) << c.name;
        if (!tabOrder.empty()) {
            EXPECT_EQ(tabOrder, (std::vector<int>{1009, 1, 2}));
        }
    }
}

// A password longer than the worker's buffer is refused with a warning; the dialog stays.
TEST_F(GuiTest, PasswordTooLongIsRefusedAndTheDialogStays) {
    bool warned = false, stayed = false;
    Driver driver([&](Driver& d) {
        HWND dialog = d.NextWindow();
        if (dialog == nullptr)
            return;
        SetDlgItemTextW(dialog, 1009, std::wstring(1024, L'a').c_str());
        d.Key(VK_RETURN);
        HWND warning = d.NextWindow();
        warned = warning != nullptr && GetDlgItem(warning, 1001) != nullptr;
        if (warning != nullptr)
            d.Key(VK_RETURN);
        std::this_thread::sleep_for(200ms);
        stayed = IsWindow(dialog) && IsWindowVisible(dialog);
        d.Key(VK_ESCAPE);
    });
    std::string password;
    EXPECT_FALSE(module().AskPassword(password));
    driver.Join();
    EXPECT_TRUE(warned);
    EXPECT_TRUE(stayed);
    EXPECT_EQ(password, "");
}

// --- folder chooser, stop and tasks ---------------------------------------------------------

TEST_F(GuiTest, FolderChooserTakesTheFolderAndClosesOnStop) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    const std::string initial = Narrow(windows);
    {
        Driver driver([&](Driver& d) {
            if (HWND dialog = d.NextWindow()) {
                // A folder typed into the name field and OK.
                SetDlgItemTextW(dialog, 1152, windows);
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
            }
        });
        const std::string chosen = module().PickFolder(initial, "Choose destination location");
        driver.Join();
        EXPECT_EQ(CompareStringOrdinal(Widen(chosen).c_str(), -1,
                                       (std::wstring(windows) + L"\\").c_str(), -1, TRUE),
                  CSTR_EQUAL)
            << chosen;
    }
    {
        Driver driver([&](Driver& d) {
            if (d.NextWindow() != nullptr)
                module().CloseDialogs();
        });
        EXPECT_EQ(module().PickFolder(initial, "Choose destination location"), "");
        driver.Join();
    }
}

TEST_F(GuiTest, CloseDialogsAndRunLaterFromAnotherThread) {
    DWORD taskThread = 0;
    Driver driver([&](Driver& d) {
        if (d.NextWindow() == nullptr)
            return;
        module().RunLater([&] { taskThread = GetCurrentThreadId(); });
        std::this_thread::sleep_for(200ms);
        module().CloseDialogs();
    });
    // A box that refuses Escape and the close box is closed all the same.
    const int result =
        cptlib::ShowBigMessageBox(nullptr, nullptr, nullptr, "Waiting",
                                  cptlib::kMbYesNo | cptlib::kMbIconQuestion, cptlib::MBF_NO_CLOSE);
    driver.Join();
    EXPECT_EQ(result, cptlib::kIdCancel);
    EXPECT_EQ(taskThread, GetCurrentThreadId());
}

} // namespace

// --- screenshots ----------------------------------------------------------------------------

namespace screenshots {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Asks run-gui-tests.sh to save the window's part of the display as NAME.png; false when no
// picture came within ten seconds.
bool Capture(HWND window, const std::string& name) {
    const std::string dir = Env("SFX_SCREENSHOT_DIR_WIN");
    RECT r{};
    GetWindowRect(window, &r);
    // Wine draws the frame itself: the window's rectangle is the whole picture.
    std::this_thread::sleep_for(300ms);
    {
        std::ofstream ready(dir + "\\" + name + ".tmp");
        ready << std::max<LONG>(0, r.left) << ' ' << std::max<LONG>(0, r.top) << ' '
              << (r.right - r.left) << ' ' << (r.bottom - r.top) << '\n';
    }
    MoveFileW(Widen(dir + "\\" + name + ".tmp").c_str(),
              Widen(dir + "\\" + name + ".ready").c_str());
    const std::wstring done = Widen(dir + "\\" + name + ".done");
    for (int i = 0; i < 100; ++i, std::this_thread::sleep_for(100ms))
        if (GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
            DeleteFileW(done.c_str());
            return true;
        }
    return false;
}

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = buffer != nullptr ? buffer : L"";
    LocalFree(buffer);
    while (!text.empty() && iswspace(text.back()))
        text.pop_back();
    return Narrow(text);
}

} // namespace screenshots

// Each window in the language of SFX_SCREENSHOT_LANG, saved as a picture (make
// windows-screenshots); skipped otherwise.
TEST_F(GuiTest, Screenshots) {
    using namespace screenshots;
    using cptlib::UiText;
    if (Env("SFX_SCREENSHOT_DIR_WIN").empty())
        GTEST_SKIP() << "SFX_SCREENSHOT_DIR_WIN is not set";
    const std::string language =
        Env("SFX_SCREENSHOT_LANG").empty() ? "en-US" : Env("SFX_SCREENSHOT_LANG");
    cptlib::StringMap texts;
    std::ifstream xml(std::string(SFX_SOURCE_DIR) + "/resources/strings/" + language + ".xml");
    ASSERT_TRUE(xml) << language;
    cptlib::LoadXmlStringResources(&texts, xml, "");
    cptlib::MemStringResources strings;
    for (const auto& [id, text] : texts)
        strings.SetText(id, text);
    cptlib::SetUiStrings(&strings);
    cptlib::SetAppName("Product 2026");
    std::vector<std::string> missing;
    const auto shoot = [&](Driver& d, const std::string& name) {
        HWND window = d.NextWindow();
        if (window == nullptr || !Capture(window, name))
            missing.push_back(name);
        return window;
    };

    {
        auto view = module().CreateProgressView();
        sfx::ProgressViewLayout layout;
        layout.pretty = true;
        layout.productName = "Product 2026";
        ASSERT_TRUE(view->Create(layout));
        std::string title = UiText("SfxProgressTitle", "%d %% Extracting...");
        title.replace(title.find("%d"), 2, "42");
        title.replace(title.find("%%"), 2, "%");
        view->SetTitle(title);
        view->SetText(UiText("SfxProgressText", "Preparing files for installation..."));
        view->SetCancelText(UiText("Cancel", "Cancel"));
        view->SetProgress(420);
        view->Show(true);
        bool ended = false;
        cptlib::MessageInbox inbox([&](const cptlib::Message&) -> cptlib::LResult {
            ended = true;
            return 0;
        });
        Driver driver([&, handle = inbox.Handle()](Driver& d) {
            shoot(d, "progress");
            handle.Post(1);
        });
        view->RunModalLoop(inbox, [&] { return ended; });
    }
    {
        Driver driver([&](Driver& d) {
            shoot(d, "language");
            d.Key(VK_ESCAPE);
        });
        std::string selected = language;
        const cptlib::CultureMap cultures = {{"de", "Deutsch"},
                                             {"el-GR", "Ελληνικά"},
                                             {"en-US", "English (United States)"},
                                             {"ja-JP", "日本語"}};
        module().RunLanguageDialog(cultures, selected, strings);
    }
    {
        Driver driver([&](Driver& d) {
            HWND dialog = d.NextWindow();
            d.Type(L"secret");
            if (dialog == nullptr || !Capture(dialog, "password"))
                missing.push_back("password");
            d.Key(VK_ESCAPE);
        });
        std::string password;
        module().AskPassword(password);
    }
    {
        Driver driver([&](Driver& d) {
            shoot(d, "folder");
            module().CloseDialogs();
        });
        module().PickFolder("C:\\windows\\",
                            UiText("SelectTargetDir", "Choose destination location"));
    }
    const auto box = [&](const std::string& name, const cptlib::MessageBoxContent& content) {
        Driver driver([&](Driver& d) {
            shoot(d, name);
            module().CloseDialogs();
        });
        cptlib::GetMessageBoxPresenter().Show(content);
    };
    cptlib::MessageBoxContent overwrite;
    overwrite.caption = "Product 2026";
    overwrite.mainInstruction = SystemText(ERROR_FILE_EXISTS);
    overwrite.content =
        "\"setup.exe\"\n\n" + UiText("OverwriteAllQuestion", "Overwrite all existing files?");
    overwrite.iconKind = cptlib::IconKind::Warning;
    overwrite.flags = cptlib::MBF_ATTENTION;
    overwrite.buttons = {{1, false, UiText("OverwriteAllButton", "Overwrite all")},
                         {2, true, UiText("Cancel", "Cancel")}};
    box("overwrite", overwrite);
    const auto typed = [&](const std::string& name, const std::string& text, std::uint32_t type) {
        cptlib::MessageBoxContent content;
        content.caption = "Product 2026";
        content.content = text;
        content.iconKind = cptlib::IconKindFromType(type);
        content.flags = cptlib::MBF_NO_HEIGHT_LIMIT | cptlib::MBF_ATTENTION;
        content.buttons = cptlib::ButtonsForType(type, &strings);
        box(name, content);
    };
    typed("cancel", UiText("VerifyCancel", "Do you really want to cancel the installation?"),
          cptlib::kMbYesNo | cptlib::kMbIconQuestion);
    typed("error",
          UiText("SfxErrorExtract", "The installation files could not be extracted.") + "\n\n" +
              SystemText(ERROR_DISK_FULL) +
              " (112)\n\nC:\\Users\\user\\AppData\\Local\\Temp\\vrn4F2A9C1B\\data\\setup.cab",
          cptlib::kMbOk | cptlib::kMbIconError);
    typed("success",
          UiText("ExtractSuccess",
                 "The installation files have been successfully extracted into the folder:") +
              "\n\n<LINK C:\\Product 2026|file:///C:/Product%202026>",
          cptlib::kMbOk | cptlib::kMbIconInformation);
    EXPECT_EQ(missing, std::vector<std::string>{}) << "pictures not saved";
}
