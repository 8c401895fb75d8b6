#pragma once
// The small dialog framework of the Windows windows: in-memory templates in dialog units, a
// modal or modeless dialog object with the task-dialog look (body, separator, footer band),
// the system's message font in place of the template's, and the window flash.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace cptlib::win32 {

// Builds a DLGTEMPLATEEX. Sizes and positions are dialog units.
class DialogTemplate {
public:
    // The font is the system's message font (what the dialog font is replaced with).
    DialogTemplate(DWORD style, DWORD exStyle, short cx, short cy, const std::wstring& title,
                   const std::wstring& windowClass = {});

    // `classAtom` one of the predefined ones (0x80 button, 0x81 edit, 0x82 static, 0x85 combo
    // box, ...); `className` when not null instead.
    void AddControl(int id, WORD classAtom, const std::wstring& text, DWORD style, short x, short y,
                    short cx, short cy, DWORD exStyle = 0, const wchar_t* className = nullptr);

    const DLGTEMPLATE* Get() const;

private:
    void Word(WORD value);
    void Dword(DWORD value);
    void String(const std::wstring& text);
    void Align();
    std::vector<WORD> data_;
    std::size_t countAt_ = 0;
};

constexpr WORD kButtonAtom = 0x80;
constexpr WORD kEditAtom = 0x81;
constexpr WORD kStaticAtom = 0x82;
constexpr WORD kComboBoxAtom = 0x85;

// The message font of the non-client metrics and its point size at the screen's density.
bool GetMessageBoxFont(LOGFONTW& font, int& pointSize);

// Horizontal pixels per logical inch ÷ 96 of the window's device context (1 without one).
double DensityFactor(HWND window);
int RoundHalfAway(double value);

// Flashes caption and taskbar button of the window that owns the taskbar button, unless the
// window is in the foreground. `count` 0: the system's foreground flash count.
bool FlashIfNotForeground(HWND window, DWORD flags = FLASHW_ALL, UINT count = 0, DWORD timeout = 0);

// A dialog with the body, separator and footer colours; derived classes handle their
// messages in OnMessage.
class CVistaDialog {
public:
    virtual ~CVistaDialog();
    CVistaDialog(const CVistaDialog&) = delete;
    CVistaDialog& operator=(const CVistaDialog&) = delete;

    // The id the dialog ended with; -1 when it could not be created (no desktop).
    INT_PTR DoModal(HWND parent);
    // Created hidden; null when it cannot be.
    HWND CreateModeless(HWND parent);
    HWND Window() const { return window_; }

    // Pixels; -1: 29 vertical dialog units.
    void SetFooterHeight(int pixels);
    void GetContentRects(RECT& body, RECT& footer) const;
    COLORREF BodyColor() const { return bodyColor_; }

    // Ends a modal run with `result`.
    void End(INT_PTR result);

protected:
    explicit CVistaDialog(DialogTemplate dialogTemplate);

    virtual BOOL OnInitDialog() { return TRUE; }
    // Return true when handled; `result` is then the dialog procedure's answer.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);

    HWND Item(int id) const { return GetDlgItem(window_, id); }
    // A static control whose text needs more lines than its template gives grows down; the
    // controls below it and the window grow with it. Never shrinks.
    void GrowStaticToFit(int id);
    int DluToPixelsX(int units) const;
    int DluToPixelsY(int units) const;

private:
    static INT_PTR CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void UpdateColors();
    void Paint(HDC dc);

    DialogTemplate template_;
    HWND window_ = nullptr;
    bool modal_ = false;
    int footerHeight_ = -1;
    COLORREF bodyColor_ = 0;
    COLORREF footerColor_ = 0;
    COLORREF separatorColor_ = 0;
    HBRUSH bodyBrush_ = nullptr;
    HBRUSH footerBrush_ = nullptr;
    HBRUSH separatorBrush_ = nullptr;
};

// The separator between body and footer: the body colour when the two differ enough, else a
// value step lighter (dark scheme) or darker (light scheme) of it.
COLORREF SeparatorColor(COLORREF body, COLORREF footer);

// Modal dialogs and the folder chooser open on this thread, newest last, so that a stop can
// close them as cancelled.
void RegisterModal(HWND window);
void UnregisterModal(HWND window);
struct IFileDialogCloser {
    virtual ~IFileDialogCloser() = default;
    virtual void Close() = 0;
};
void RegisterChooser(IFileDialogCloser* chooser);
// Ends every registered modal dialog but `keep` with IDCANCEL, closes the chooser.
void CloseModalDialogs(HWND keep = nullptr);

} // namespace cptlib::win32
