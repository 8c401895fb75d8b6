#include "launcher/gui/win32/Dialogs.h"

#include "cptlib/platform/win32/Wide.h"
#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/win32/Dialog.h"

#include <shobjidl.h>

#include <vector>

namespace sfx::win32 {

using cptlib::platform::Narrow;
using cptlib::platform::Widen;
using cptlib::win32::CVistaDialog;
using cptlib::win32::DialogTemplate;

namespace {

constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;

std::wstring Text(const cptlib::IStringResources& strings, const char* id, const char* english) {
    const std::string text = strings.GetText(id);
    return Widen(text.empty() ? english : text);
}

void SetIcons(HWND window) {
    SendMessageW(window, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXSMICON))));
    SendMessageW(window, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(ProgramIcon(GetSystemMetrics(SM_CXICON))));
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

DialogTemplate LanguageTemplate() {
    DialogTemplate t(kDialogStyle, WS_EX_APPWINDOW, 186, 76, L"Select Language");
    t.AddControl(1007, cptlib::win32::kStaticAtom, L"", SS_LEFT, 7, 7, 172, 19);
    t.AddControl(1006, cptlib::win32::kComboBoxAtom, L"",
                 CBS_DROPDOWNLIST | CBS_SORT | WS_VSCROLL | WS_TABSTOP, 7, 28, 172, 30);
    t.AddControl(IDOK, cptlib::win32::kButtonAtom, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 71, 55, 50,
                 14);
    t.AddControl(IDCANCEL, cptlib::win32::kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 129,
                 55, 50, 14);
    return t;
}

class LanguageDialog : public CVistaDialog {
public:
    LanguageDialog(const cptlib::CultureMap& cultures, std::string selected,
                   const cptlib::IStringResources& strings)
        : CVistaDialog(LanguageTemplate()), cultures_(cultures), selected_(std::move(selected)),
          strings_(strings) {}

    const std::string& Selected() const { return selected_; }

protected:
    BOOL OnInitDialog() override {
        HWND window = Window();
        SetIcons(window);
        SetWindowTextW(window,
                       Text(strings_, "LanguageSelectionTitle", "Installation Language").c_str());
        SetWindowTextW(Item(1007), Text(strings_, "LanguageSelection",
                                        "Please choose a language for this installation:")
                                       .c_str());
        GrowStaticToFit(1007);
        SetWindowTextW(Item(IDOK), Text(strings_, "OK", "OK").c_str());
        SetWindowTextW(Item(IDCANCEL), Text(strings_, "Cancel", "Cancel").c_str());
        HWND list = Item(1006);
        for (const auto& [culture, name] : cultures_)
            SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Widen(name).c_str()));
        const auto it = cultures_.find(selected_);
        const std::wstring wanted = it != cultures_.end() ? Widen(it->second) : std::wstring();
        // The platform's prefix search, from item 1 on and item 0 last; an empty prefix would
        // match any line, so a culture without a name preselects the first.
        const LRESULT found =
            wanted.empty()
                ? 0
                : SendMessageW(list, CB_FINDSTRING, 0, reinterpret_cast<LPARAM>(wanted.c_str()));
        SendMessageW(list, CB_SETCURSEL, found == CB_ERR ? 0 : found, 0);
        SetFocus(list);
        return FALSE;
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) override {
        if (message != WM_COMMAND || LOWORD(wParam) != IDOK || HIWORD(wParam) != BN_CLICKED)
            return false;
        selected_.clear();
        const std::string text = Narrow(WindowText(Item(1006)));
        for (const auto& [culture, name] : cultures_)
            if (name == text) {
                selected_ = culture;
                break;
            }
        End(IDOK);
        result = TRUE;
        return true;
    }

private:
    cptlib::CultureMap cultures_;
    std::string selected_;
    const cptlib::IStringResources& strings_;
};

DialogTemplate PasswordTemplate(const std::wstring& title) {
    DialogTemplate t(kDialogStyle, 0, 197, 62, title);
    t.AddControl(-1, cptlib::win32::kStaticAtom, L"", SS_LEFT, 7, 7, 183, 8);
    t.AddControl(1009, cptlib::win32::kEditAtom, L"",
                 ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 18, 183, 12);
    t.AddControl(IDOK, cptlib::win32::kButtonAtom, L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 86, 41, 50,
                 14);
    t.AddControl(IDCANCEL, cptlib::win32::kButtonAtom, L"Cancel", BS_PUSHBUTTON | WS_TABSTOP, 140,
                 41, 50, 14);
    return t;
}

std::wstring PasswordTitle() {
    const std::string product = cptlib::GetAppName();
    return Widen(!product.empty() ? product
                                  : cptlib::UiText("SfxAppTitle", "Setup Self-Extractor"));
}

class PasswordDialog : public CVistaDialog {
public:
    PasswordDialog() : CVistaDialog(PasswordTemplate(PasswordTitle())) {}
    const std::string& Password() const { return password_; }

protected:
    BOOL OnInitDialog() override {
        SetIcons(Window());
        SetWindowTextW(GetDlgItem(Window(), -1),
                       Widen(cptlib::UiText("TerminalPassword", "Enter password:")).c_str());
        GrowStaticToFit(-1);
        SetWindowTextW(Item(IDOK), Widen(cptlib::UiText("OK", "OK")).c_str());
        SetWindowTextW(Item(IDCANCEL), Widen(cptlib::UiText("Cancel", "Cancel")).c_str());
        SendMessageW(Item(1009), EM_SETLIMITTEXT, 0, 0);
        SetFocus(Item(1009));
        return FALSE;
    }

    bool OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) override {
        if (message != WM_COMMAND || LOWORD(wParam) != IDOK || HIWORD(wParam) != BN_CLICKED)
            return false;
        result = TRUE;
        const std::string entered = Narrow(WindowText(Item(1009)));
        // A password cut to fit would only fail later as a damaged archive.
        if (entered.size() > kMaxPasswordBytes) {
            std::string text = cptlib::UiText(
                "PasswordTooLong", "The password is too long. At most %d bytes can be used.");
            if (const std::size_t at = text.find("%d"); at != std::string::npos)
                text.replace(at, 2, std::to_string(kMaxPasswordBytes));
            cptlib::ShowBigMessageBox(cptlib::GetUiStrings(), nullptr, nullptr, text,
                                      cptlib::kMbIconWarning, 0);
            SetFocus(Item(1009));
            SendMessageW(Item(1009), EM_SETSEL, 0, -1);
            return true;
        }
        password_ = entered;
        End(IDOK);
        return true;
    }

private:
    std::string password_;
};

// Lets a stop close the chooser as cancelled.
class ChooserCloser : public cptlib::win32::IFileDialogCloser {
public:
    explicit ChooserCloser(IFileDialog* dialog) : dialog_(dialog) {
        cptlib::win32::RegisterChooser(this);
    }
    ~ChooserCloser() override { cptlib::win32::RegisterChooser(nullptr); }
    void Close() override { dialog_->Close(HRESULT_FROM_WIN32(ERROR_CANCELLED)); }

private:
    IFileDialog* dialog_;
};

} // namespace

HICON ProgramIcon(int size) {
    auto icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(128),
                                              IMAGE_ICON, size, size, LR_SHARED));
    if (icon == nullptr)
        icon = static_cast<HICON>(
            LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, size, size, LR_SHARED));
    return icon;
}

int RunLanguageDialog(HWND parent, const cptlib::CultureMap& cultures, std::string& selected,
                      const cptlib::IStringResources& strings) {
    LanguageDialog dialog(cultures, selected, strings);
    const INT_PTR result = dialog.DoModal(parent);
    if (result == IDOK)
        selected = dialog.Selected();
    return result == IDOK ? cptlib::kIdOk : result < 0 ? -1 : cptlib::kIdCancel;
}

int RunPasswordDialog(HWND parent, std::string& password) {
    PasswordDialog dialog;
    const INT_PTR result = dialog.DoModal(parent);
    if (result == IDOK)
        password = dialog.Password();
    return result == IDOK ? cptlib::kIdOk : result < 0 ? -1 : cptlib::kIdCancel;
}

std::string ChooseFolder(HWND parent, const std::string& title, const std::string& initialFolder) {
    IFileOpenDialog* dialog = nullptr;
    if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                IID_PPV_ARGS(&dialog))))
        return {};
    std::string chosen;
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    if (!title.empty())
        dialog->SetTitle(Widen(title).c_str());
    IShellItem* folder = nullptr;
    if (!initialFolder.empty() &&
        SUCCEEDED(SHCreateItemFromParsingName(Widen(initialFolder).c_str(), nullptr,
                                              IID_PPV_ARGS(&folder)))) {
        dialog->SetFolder(folder);
        folder->Release();
    }
    HRESULT shown = E_FAIL;
    {
        ChooserCloser closer(dialog);
        shown = dialog->Show(parent);
    }
    IShellItem* item = nullptr;
    if (SUCCEEDED(shown) && SUCCEEDED(dialog->GetResult(&item))) {
        PWSTR path = nullptr;
        if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
            chosen = Narrow(path);
            CoTaskMemFree(path);
            if (!chosen.empty() && chosen.back() != '\\')
                chosen += '\\';
        }
        item->Release();
    }
    dialog->Release();
    return chosen;
}

} // namespace sfx::win32
