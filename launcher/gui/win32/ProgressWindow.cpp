#include "launcher/gui/win32/ProgressWindow.h"

#include "cptlib/platform/win32/Wide.h"
#include "cptlib/ui/win32/Dialog.h"
#include "launcher/gui/win32/Dialogs.h"

#include <commctrl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <algorithm>
#include <atomic>
#include <mutex>

namespace sfx::win32 {

using cptlib::platform::Widen;
using cptlib::win32::DialogTemplate;

namespace {

constexpr wchar_t kWindowClass[] = L"VrnSelfExtract-4290A5B0-2614-4EA9-97A6-2D8D7D190670";
constexpr UINT kWake = WM_APP + 1;
constexpr UINT kBoldTitle = WM_APP + 2;
constexpr int kBar = 1000, kStatus = 1001, kTitle = 1002, kIcon = 1008;
constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

void RegisterWindowClass() {
    WNDCLASSEXW cls{};
    cls.cbSize = sizeof(cls);
    cls.lpfnWndProc = DefDlgProcW;
    cls.cbWndExtra = DLGWINDOWEXTRA;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.hIcon = ProgramIcon(GetSystemMetrics(SM_CXICON));
    cls.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    cls.lpszClassName = kWindowClass;
    // Registered already: the same class serves both layouts.
    RegisterClassExW(&cls);
}

DialogTemplate MakeTemplate(bool pretty) {
    RegisterWindowClass();
    if (pretty) {
        DialogTemplate t(kStyle, 0, 248, 79, L"SelfExtracting", kWindowClass);
        t.AddControl(kIcon, cptlib::win32::kStaticAtom, L"", SS_ICON, 7, 7, 21, 20);
        t.AddControl(kTitle, cptlib::win32::kStaticAtom, L"", SS_LEFT | SS_NOPREFIX, 36, 7, 205,
                     17);
        t.AddControl(kStatus, cptlib::win32::kStaticAtom, L"", SS_LEFT | SS_NOPREFIX, 36, 25, 187,
                     8);
        t.AddControl(kBar, 0, L"", 0, 36, 36, 205, 8, 0, PROGRESS_CLASSW);
        t.AddControl(IDCANCEL, cptlib::win32::kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP,
                     191, 58, 50, 14);
        return t;
    }
    DialogTemplate t(kStyle, 0, 235, 62, L"SelfExtracting", kWindowClass);
    t.AddControl(kStatus, cptlib::win32::kStaticAtom, L"", SS_LEFT | SS_NOPREFIX, 7, 8, 221, 8);
    t.AddControl(kBar, 0, L"", 0, 7, 19, 221, 8, 0, PROGRESS_CLASSW);
    t.AddControl(IDCANCEL, cptlib::win32::kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 178,
                 41, 50, 14);
    return t;
}

// The wake callback comes on any thread and may race with the end of the loop, so it reaches
// the window only under the lock.
struct WakeTarget {
    std::mutex mutex;
    HWND window = nullptr;
    std::atomic<bool> pending = false;
};

} // namespace

class ProgressDialog : public cptlib::win32::CVistaDialog {
public:
    explicit ProgressDialog(const ProgressViewLayout& layout)
        : CVistaDialog(MakeTemplate(layout.pretty)), layout_(layout),
          taskbarCreated_(RegisterWindowMessageW(L"TaskbarButtonCreated")) {}

    ~ProgressDialog() override {
        if (taskbar_ != nullptr)
            taskbar_->Release();
        if (boldFont_ != nullptr)
            DeleteObject(boldFont_);
        if (bigIcon_ != nullptr)
            DestroyIcon(bigIcon_);
    }

    ITaskbarList3* Taskbar() const { return taskbar_; }
    using CVistaDialog::GrowStaticToFit;
    std::function<void()> onWake;

protected:
    BOOL OnInitDialog() override {
        HWND window = Window();
        using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
        if (const auto filter = reinterpret_cast<Filter>(reinterpret_cast<void*>(
                GetProcAddress(GetModuleHandleW(L"user32.dll"), "ChangeWindowMessageFilterEx"))))
            filter(window, taskbarCreated_, MSGFLT_ALLOW, nullptr);
        const double factor = cptlib::win32::DensityFactor(window);
        SendMessageW(window, WM_SETICON, ICON_SMALL,
                     reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXSMICON))));
        SendMessageW(window, WM_SETICON, ICON_BIG,
                     reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXICON))));
        if (layout_.pretty) {
            ApplyBoldTitle();
            SetWindowTextW(Item(kTitle), Widen(layout_.productName).c_str());
            const int n = cptlib::win32::RoundHalfAway(48 * factor);
            bigIcon_ = static_cast<HICON>(CopyImage(ProgramIcon(n), IMAGE_ICON, n, n, 0));
            SendMessageW(Item(kIcon), STM_SETICON, reinterpret_cast<WPARAM>(bigIcon_), 0);
            RECT icon{};
            GetWindowRect(Item(kIcon), &icon);
            MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&icon), 2);
            SetWindowPos(Item(kIcon), nullptr, 0, 0, n, n, SWP_NOMOVE | SWP_NOZORDER);
            const int left = icon.left + n + DluToPixelsX(9);
            for (const int id : {kStatus, kTitle, kBar}) {
                RECT r{};
                GetWindowRect(Item(id), &r);
                MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
                MoveWindow(Item(id), left, r.top, r.right - left, r.bottom - r.top, FALSE);
            }
            GrowStaticToFit(kTitle);
        }
        SendMessageW(Item(kBar), PBM_SETRANGE32, 0, 1000);
        // Enter presses the only button, as Space does.
        SendMessageW(window, DM_SETDEFID, IDCANCEL, 0);
        return TRUE;
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) override {
        // The dialog manager may give every control the dialog font again when the window
        // is shown or moves to a screen of another density.
        if ((message == WM_SHOWWINDOW && wParam) || message == WM_DPICHANGED) {
            if (layout_.pretty)
                PostMessageW(Window(), kBoldTitle, 0, 0);
            return false;
        }
        if (message == kBoldTitle) {
            ApplyBoldTitle();
            result = TRUE;
            return true;
        }
        if (message == kWake) {
            if (onWake)
                onWake();
            result = TRUE;
            return true;
        }
        if (message == taskbarCreated_ && taskbarCreated_ != 0) {
            if (taskbar_ != nullptr)
                taskbar_->Release();
            taskbar_ = nullptr;
            if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                           IID_PPV_ARGS(&taskbar_))) &&
                FAILED(taskbar_->HrInit())) {
                taskbar_->Release();
                taskbar_ = nullptr;
            }
            result = TRUE;
            return true;
        }
        // The Cancel button, Escape and the close box.
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            if (layout_.onCancel && IsWindowEnabled(Item(IDCANCEL)))
                layout_.onCancel();
            result = TRUE;
            return true;
        }
        return false;
    }

private:
    void ApplyBoldTitle() {
        LOGFONTW font{};
        GetObjectW(reinterpret_cast<HFONT>(SendMessageW(Window(), WM_GETFONT, 0, 0)), sizeof(font),
                   &font);
        font.lfWeight = FW_BOLD;
        HFONT bold = CreateFontIndirectW(&font);
        SendMessageW(Item(kTitle), WM_SETFONT, reinterpret_cast<WPARAM>(bold), TRUE);
        if (boldFont_ != nullptr)
            DeleteObject(boldFont_);
        boldFont_ = bold;
    }

    ProgressViewLayout layout_;
    UINT taskbarCreated_ = 0;
    ITaskbarList3* taskbar_ = nullptr;
    HFONT boldFont_ = nullptr;
    HICON bigIcon_ = nullptr;
};

CProgressWindow::CProgressWindow(std::shared_ptr<cptlib::win32::CWin32MessageBoxPresenter> boxes)
    : boxes_(std::move(boxes)) {}

CProgressWindow::~CProgressWindow() {
    if (boxes_)
        boxes_->SetMainWindow(nullptr);
}

HWND CProgressWindow::Window() const {
    return dialog_ ? dialog_->Window() : nullptr;
}

HWND CProgressWindow::Owner() const {
    HWND window = Window();
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

bool CProgressWindow::Create(const ProgressViewLayout& layout) {
    auto dialog = std::make_unique<ProgressDialog>(layout);
    if (dialog->CreateModeless(nullptr) == nullptr)
        return false;
    dialog_ = std::move(dialog);
    if (boxes_)
        boxes_->SetMainWindow(dialog_->Window());
    return true;
}

void CProgressWindow::Show(bool visible) {
    if (HWND window = Window()) {
        ShowWindow(window, visible ? SW_SHOW : SW_HIDE);
        if (visible)
            SetForegroundWindow(window);
    }
}

void CProgressWindow::SetTitle(const std::string& title) {
    if (HWND window = Window())
        SetWindowTextW(window, Widen(title).c_str());
}

void CProgressWindow::SetText(const std::string& text) {
    if (HWND window = Window()) {
        SetDlgItemTextW(window, kStatus, Widen(text).c_str());
        dialog_->GrowStaticToFit(kStatus);
    }
}

void CProgressWindow::SetCancelText(const std::string& text) {
    if (HWND window = Window())
        SetDlgItemTextW(window, IDCANCEL, Widen(text).c_str());
}

void CProgressWindow::EnableCancel(bool enabled) {
    if (HWND window = Window())
        EnableWindow(GetDlgItem(window, IDCANCEL), enabled);
}

void CProgressWindow::SetProgress(int permille) {
    if (HWND window = Window())
        SendDlgItemMessageW(window, kBar, PBM_SETPOS, std::clamp(permille, 0, 1000), 0);
}

void CProgressWindow::SetBarState(ProgressBarState state) {
    if (HWND window = Window())
        SendDlgItemMessageW(window, kBar, PBM_SETSTATE, static_cast<WPARAM>(state), 0);
}

void CProgressWindow::SetTaskbarProgress(int permille) {
    if (dialog_ && dialog_->Taskbar() != nullptr)
        dialog_->Taskbar()->SetProgressValue(Window(), std::clamp(permille, 0, 1000), 1000);
}

void CProgressWindow::SetTaskbarState(ProgressBarState state) {
    if (dialog_ && dialog_->Taskbar() != nullptr)
        dialog_->Taskbar()->SetProgressState(Window(), state == ProgressBarState::Error ? TBPF_ERROR
                                                       : state == ProgressBarState::Paused
                                                           ? TBPF_PAUSED
                                                           : TBPF_NORMAL);
}

void CProgressWindow::FlashIfNotForeground() {
    cptlib::win32::FlashIfNotForeground(Window());
}

int CProgressWindow::AskOverwrite(const cptlib::MessageBoxContent& question) {
    return cptlib::GetMessageBoxPresenter().Show(question);
}

bool CProgressWindow::AskPassword(std::string& password) {
    return RunPasswordDialog(Owner(), password) == cptlib::kIdOk;
}

std::string CProgressWindow::PickFolder(const std::string& initialFolder,
                                        const std::string& title) {
    return ChooseFolder(Owner(), title, initialFolder);
}

void CProgressWindow::ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                                         const std::string& /*folder*/) {
    // The window's own box, whatever presenter is installed, so that its link reaches the
    // handler instead of the shell.
    cptlib::win32::CBigMessageBox dialog(box, Owner());
    dialog.DoModal();
}

bool CProgressWindow::OpenExtractFolder(const std::string& folder,
                                        const std::vector<std::string>& extractedNames) {
    PIDLIST_ABSOLUTE parent = nullptr;
    if (FAILED(SHParseDisplayName(Widen(folder).c_str(), nullptr, &parent, 0, nullptr)))
        return false;
    std::vector<PIDLIST_ABSOLUTE> items;
    std::vector<PCUITEMID_CHILD> children;
    for (std::string name : extractedNames) {
        if (!name.empty() && (name.back() == '/' || name.back() == '\\'))
            name.pop_back();
        std::string path = folder;
        if (!path.empty() && path.back() != '\\' && path.back() != '/')
            path += '\\';
        PIDLIST_ABSOLUTE item = nullptr;
        if (SUCCEEDED(SHParseDisplayName(Widen(path + name).c_str(), nullptr, &item, 0, nullptr)))
            items.push_back(item);
    }
    // Absolute item lists are accepted in place of children.
    for (PIDLIST_ABSOLUTE item : items)
        children.push_back(reinterpret_cast<PCUITEMID_CHILD>(item));
    const HRESULT shown =
        SHOpenFolderAndSelectItems(parent, static_cast<UINT>(children.size()), children.data(), 0);
    for (PIDLIST_ABSOLUTE item : items)
        CoTaskMemFree(item);
    CoTaskMemFree(parent);
    return SUCCEEDED(shown);
}

void CProgressWindow::CloseQuestions() {
    cptlib::win32::CloseModalDialogs(Window());
}

void CProgressWindow::RunModalLoop(cptlib::MessageInbox& inbox,
                                   const std::function<bool()>& ended) {
    HWND window = Window();
    if (window == nullptr) {
        IProgressView::RunModalLoop(inbox, ended);
        return;
    }
    if (ended())
        return;
    auto target = std::make_shared<WakeTarget>();
    target->window = window;
    dialog_->onWake = [&inbox, target] {
        target->pending = false;
        inbox.ProcessPending();
    };
    inbox.SetWakeCallback([target] {
        std::lock_guard lock(target->mutex);
        if (target->window != nullptr && !target->pending.exchange(true))
            PostMessageW(target->window, kWake, 0, 0);
    });
    // Whatever was posted before the loop ran.
    target->pending = true;
    PostMessageW(window, kWake, 0, 0);
    MSG message{};
    while (!ended()) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    {
        std::lock_guard lock(target->mutex);
        target->window = nullptr;
    }
    inbox.SetWakeCallback({});
    dialog_->onWake = nullptr;
}

} // namespace sfx::win32
