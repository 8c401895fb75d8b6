// The window module of the Windows launcher: native dialogs on the thread that makes the
// module. It refuses when no window can be opened (no desktop, a service's invisible window
// station), so that the launcher falls back and never waits on a dialog nobody sees.

#include "cptlib/platform/win32/Wide.h"
#include "cptlib/ui/win32/BigMessageBox.h"
#include "cptlib/ui/win32/Dialog.h"
#include "launcher/GuiModule.h"
#include "launcher/gui/win32/Dialogs.h"
#include "launcher/gui/win32/ProgressWindow.h"

#include <objbase.h>
#include <windows.h>

#include <deque>
#include <mutex>

namespace sfx::win32 {

namespace {

constexpr UINT kRunLater = WM_APP + 1;
constexpr UINT kCloseDialogs = WM_APP + 2;
constexpr wchar_t kMessageClass[] = L"SfxGuiModuleMessages";

void UsePerMonitorDpi() {
    using SetContext = BOOL(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    if (const auto set = reinterpret_cast<SetContext>(
            reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))) {
        // -4: per monitor, second version (dialogs scale with the monitor's density).
        if (set(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4))))
            return;
    }
    SetProcessDPIAware();
}

std::wstring Variable(const wchar_t* name) {
    wchar_t value[512] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, 512);
    return n > 0 && n < 512 ? value : L"";
}

// Wine can run a program without any display: its null graphics driver makes windows that
// nobody sees, so a question there would wait for ever.
bool WineHasDisplay(std::string& whyNot) {
    if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") == nullptr)
        return true;
    wchar_t driver[64] = {};
    DWORD size = sizeof(driver) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Drivers", L"Graphics", RRF_RT_REG_SZ,
                     nullptr, driver, &size) == ERROR_SUCCESS &&
        _wcsicmp(driver, L"null") == 0) {
        whyNot = "Wine runs without a display (the null graphics driver).";
        return false;
    }
    if (Variable(L"DISPLAY").empty() && Variable(L"WAYLAND_DISPLAY").empty()) {
        whyNot = "Wine runs without a display (DISPLAY is not set).";
        return false;
    }
    return true;
}

bool CanOpenWindows(std::string& whyNot) {
    if (!WineHasDisplay(whyNot))
        return false;
    USEROBJECTFLAGS flags{};
    if (GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags),
                                  nullptr) &&
        !(flags.dwFlags & WSF_VISIBLE)) {
        whyNot = "the window station is not visible.";
        return false;
    }
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                                 nullptr);
    if (probe == nullptr) {
        whyNot = "no window can be opened (error " + std::to_string(GetLastError()) + ").";
        return false;
    }
    DestroyWindow(probe);
    return true;
}

class WindowsModule final : public IGuiModule {
public:
    WindowsModule() : boxes_(std::make_shared<cptlib::win32::CWin32MessageBoxPresenter>()) {
        comInitialised_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        WNDCLASSW cls{};
        cls.lpfnWndProc = &Procedure;
        cls.hInstance = GetModuleHandleW(nullptr);
        cls.lpszClassName = kMessageClass;
        RegisterClassW(&cls);
        messages_ = CreateWindowExW(0, kMessageClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    nullptr, nullptr);
        if (messages_ != nullptr)
            SetWindowLongPtrW(messages_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    ~WindowsModule() override {
        if (messages_ != nullptr)
            DestroyWindow(messages_);
        if (comInitialised_)
            CoUninitialize();
    }

    bool Ready() const { return messages_ != nullptr; }

    std::shared_ptr<cptlib::IMessageBoxPresenter> CreateMessageBoxPresenter() override {
        return boxes_;
    }

    std::unique_ptr<IProgressView> CreateProgressView() override {
        return std::make_unique<CProgressWindow>(boxes_);
    }

    int RunLanguageDialog(const cptlib::CultureMap& cultures, std::string& selected,
                          const cptlib::IStringResources& strings) override {
        const int result = win32::RunLanguageDialog(nullptr, cultures, selected, strings);
        return result < 0 ? cptlib::kIdCancel : result;
    }

    std::string PickFolder(const std::string& initialFolder, const std::string& title) override {
        return ChooseFolder(nullptr, title, initialFolder);
    }

    bool AskPassword(std::string& password) override {
        return RunPasswordDialog(nullptr, password) == cptlib::kIdOk;
    }

    void CloseDialogs() override { PostMessageW(messages_, kCloseDialogs, 0, 0); }

    void RunLater(std::function<void()> task) override {
        {
            std::lock_guard lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        PostMessageW(messages_, kRunLater, 0, 0);
    }

private:
    // The message window's procedure: runs in whatever loop the thread is in, a dialog's too.
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<WindowsModule*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr && message == kRunLater) {
            for (;;) {
                std::function<void()> task;
                {
                    std::lock_guard lock(self->mutex_);
                    if (self->tasks_.empty())
                        break;
                    task = std::move(self->tasks_.front());
                    self->tasks_.pop_front();
                }
                task();
            }
            return 0;
        }
        if (self != nullptr && message == kCloseDialogs) {
            cptlib::win32::CloseModalDialogs();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    std::shared_ptr<cptlib::win32::CWin32MessageBoxPresenter> boxes_;
    bool comInitialised_ = false;
    HWND messages_ = nullptr;
    std::mutex mutex_;
    std::deque<std::function<void()>> tasks_;
};

} // namespace

} // namespace sfx::win32

extern "C" sfx::IGuiModule* SfxCreateGuiModule(int interfaceVersion, std::string& whyNot) {
    if (interfaceVersion != sfx::kGuiModuleVersion) {
        whyNot = "the module has interface version " + std::to_string(sfx::kGuiModuleVersion) +
                 ", the launcher expects " + std::to_string(interfaceVersion) + ".";
        return nullptr;
    }
    try {
        sfx::win32::UsePerMonitorDpi();
        if (!sfx::win32::CanOpenWindows(whyNot))
            return nullptr;
        auto module = std::make_unique<sfx::win32::WindowsModule>();
        if (!module->Ready()) {
            whyNot = "the module's message window cannot be made.";
            return nullptr;
        }
        return module.release();
    } catch (const std::exception& error) {
        whyNot = std::string("the windows cannot be set up: ") + error.what();
        return nullptr;
    }
}
