#include "cptlib/ui/win32/Dialog.h"

#include <algorithm>
#include <cmath>

namespace cptlib::win32 {

DialogTemplate::DialogTemplate(DWORD style, DWORD exStyle, short cx, short cy,
                               const std::wstring& title, const std::wstring& windowClass) {
    LOGFONTW font{};
    int pointSize = 8;
    std::wstring face = L"MS Shell Dlg";
    if (GetMessageBoxFont(font, pointSize))
        face = font.lfFaceName;
    Word(1);      // version
    Word(0xFFFF); // extended template
    Dword(0);     // help id
    Dword(exStyle);
    Dword(style | DS_SETFONT);
    countAt_ = data_.size();
    Word(0);
    for (const short value : {short(0), short(0), cx, cy})
        Word(static_cast<WORD>(value));
    Word(0); // no menu
    if (windowClass.empty())
        Word(0);
    else
        String(windowClass);
    String(title);
    Word(static_cast<WORD>(pointSize));
    Word(static_cast<WORD>(font.lfWeight != 0 ? font.lfWeight : FW_NORMAL));
    Word(static_cast<WORD>(font.lfCharSet << 8 | (font.lfItalic ? 1 : 0)));
    String(face);
}

void DialogTemplate::AddControl(int id, WORD classAtom, const std::wstring& text, DWORD style,
                                short x, short y, short cx, short cy, DWORD exStyle,
                                const wchar_t* className) {
    Align();
    Dword(0);
    Dword(exStyle);
    Dword(style | WS_CHILD | WS_VISIBLE);
    for (const short value : {x, y, cx, cy})
        Word(static_cast<WORD>(value));
    Dword(static_cast<DWORD>(id));
    if (className != nullptr) {
        String(className);
    } else {
        Word(0xFFFF);
        Word(classAtom);
    }
    String(text);
    Word(0); // no creation data
    ++data_[countAt_];
}

const DLGTEMPLATE* DialogTemplate::Get() const {
    return reinterpret_cast<const DLGTEMPLATE*>(data_.data());
}

void DialogTemplate::Word(WORD value) {
    data_.push_back(value);
}

void DialogTemplate::Dword(DWORD value) {
    data_.push_back(LOWORD(value));
    data_.push_back(HIWORD(value));
}

void DialogTemplate::String(const std::wstring& text) {
    for (const wchar_t c : text)
        data_.push_back(static_cast<WORD>(c));
    data_.push_back(0);
}

void DialogTemplate::Align() {
    if (data_.size() % 2 != 0)
        data_.push_back(0);
}

bool GetMessageBoxFont(LOGFONTW& font, int& pointSize) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0))
        return false;
    font = metrics.lfMessageFont;
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen != nullptr)
        ReleaseDC(nullptr, screen);
    pointSize = MulDiv(std::abs(font.lfHeight), 72, dpi);
    return pointSize > 0;
}

double DensityFactor(HWND window) {
    HDC dc = GetDC(window);
    if (dc == nullptr)
        return 1.0;
    const double factor = GetDeviceCaps(dc, LOGPIXELSX) / 96.0;
    ReleaseDC(window, dc);
    return factor;
}

int RoundHalfAway(double value) {
    return static_cast<int>(std::lround(value));
}

bool FlashIfNotForeground(HWND window, DWORD flags, UINT count, DWORD timeout) {
    if (window == nullptr || window == GetForegroundWindow())
        return false;
    HWND owner = window;
    for (; owner != nullptr; owner = GetWindow(owner, GW_OWNER)) {
        const LONG_PTR style = GetWindowLongPtrW(owner, GWL_STYLE);
        const LONG_PTR exStyle = GetWindowLongPtrW(owner, GWL_EXSTYLE);
        if (!(style & WS_VISIBLE) || (style & WS_CHILD))
            continue;
        if ((exStyle & WS_EX_APPWINDOW) || (GetWindow(owner, GW_OWNER) == nullptr &&
                                            !(exStyle & (WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE))))
            break;
    }
    if (owner == nullptr)
        return false;
    if (count == 0) {
        UINT systemCount = 0;
        count = SystemParametersInfoW(SPI_GETFOREGROUNDFLASHCOUNT, 0, &systemCount, 0) ? systemCount
                                                                                       : 3;
    }
    FLASHWINFO info{sizeof(info), owner, flags, count, timeout};
    FlashWindowEx(&info);
    return true;
}

namespace {

constexpr UINT kCloseAsCancelled = WM_APP + 0x3F0;

struct Hsv {
    double h, s, v;
};

Hsv ToHsv(COLORREF color) {
    const double r = GetRValue(color) / 255.0, g = GetGValue(color) / 255.0,
                 b = GetBValue(color) / 255.0;
    const double max = std::max({r, g, b}), min = std::min({r, g, b}), d = max - min;
    double h = 0;
    if (d > 0) {
        if (max == r)
            h = 60 * std::fmod((g - b) / d, 6.0);
        else if (max == g)
            h = 60 * ((b - r) / d + 2);
        else
            h = 60 * ((r - g) / d + 4);
        if (h < 0)
            h += 360;
    }
    return {h, max > 0 ? d / max : 0, max};
}

COLORREF FromHsv(Hsv c) {
    const double chroma = c.v * c.s, x = chroma * (1 - std::fabs(std::fmod(c.h / 60, 2.0) - 1)),
                 m = c.v - chroma;
    double r = 0, g = 0, b = 0;
    const int sector = static_cast<int>(c.h / 60) % 6;
    switch (sector) {
    case 0:
        r = chroma, g = x;
        break;
    case 1:
        r = x, g = chroma;
        break;
    case 2:
        g = chroma, b = x;
        break;
    case 3:
        g = x, b = chroma;
        break;
    case 4:
        r = x, b = chroma;
        break;
    default:
        r = chroma, b = x;
        break;
    }
    return RGB(static_cast<int>((r + m) * 255), static_cast<int>((g + m) * 255),
               static_cast<int>((b + m) * 255));
}

std::vector<HWND>& Modals() {
    thread_local std::vector<HWND> modals;
    return modals;
}

IFileDialogCloser*& Chooser() {
    thread_local IFileDialogCloser* chooser = nullptr;
    return chooser;
}

} // namespace

COLORREF SeparatorColor(COLORREF body, COLORREF footer) {
    const Hsv a = ToHsv(body), b = ToHsv(footer);
    double dh = std::fabs(a.h - b.h);
    dh = std::min(dh, 360 - dh) / 360;
    const double distance =
        std::sqrt(dh * dh + (a.s - b.s) * (a.s - b.s) + (a.v - b.v) * (a.v - b.v));
    if (distance > 0.15)
        return body;
    double v = (a.v + b.v) / 2 <= 0.5 ? std::max(a.v, b.v) + 0.09 : std::min(a.v, b.v) - 0.08;
    v = std::clamp(v, 0.0, 1.0);
    return FromHsv({a.h, a.s, v});
}

void RegisterModal(HWND window) {
    Modals().push_back(window);
}

void UnregisterModal(HWND window) {
    auto& modals = Modals();
    modals.erase(std::remove(modals.begin(), modals.end(), window), modals.end());
}

void RegisterChooser(IFileDialogCloser* chooser) {
    Chooser() = chooser;
}

void CloseModalDialogs(HWND keep) {
    if (IFileDialogCloser* chooser = Chooser())
        chooser->Close();
    const std::vector<HWND> modals = Modals();
    for (auto it = modals.rbegin(); it != modals.rend(); ++it)
        if (*it != keep && IsWindow(*it))
            PostMessageW(*it, kCloseAsCancelled, 0, 0);
}

CVistaDialog::CVistaDialog(DialogTemplate dialogTemplate) : template_(std::move(dialogTemplate)) {
    UpdateColors();
}

CVistaDialog::~CVistaDialog() {
    if (window_ != nullptr && !modal_)
        DestroyWindow(window_);
    for (HBRUSH brush : {bodyBrush_, footerBrush_, separatorBrush_})
        if (brush != nullptr)
            DeleteObject(brush);
}

INT_PTR CVistaDialog::DoModal(HWND parent) {
    modal_ = true;
    return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), template_.Get(), parent,
                                   &CVistaDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

HWND CVistaDialog::CreateModeless(HWND parent) {
    modal_ = false;
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr), template_.Get(), parent,
                                      &CVistaDialog::Procedure, reinterpret_cast<LPARAM>(this));
}

void CVistaDialog::End(INT_PTR result) {
    if (window_ != nullptr && modal_)
        EndDialog(window_, result);
}

void CVistaDialog::SetFooterHeight(int pixels) {
    if (pixels == footerHeight_)
        return;
    footerHeight_ = pixels;
    if (window_ != nullptr)
        InvalidateRect(window_, nullptr, TRUE);
}

void CVistaDialog::GetContentRects(RECT& body, RECT& footer) const {
    RECT client{};
    GetClientRect(window_, &client);
    const int f = footerHeight_ >= 0 ? footerHeight_ : DluToPixelsY(29);
    body = client;
    body.bottom -= f;
    footer = client;
    footer.top = client.bottom - f;
}

void CVistaDialog::GrowStaticToFit(int id) {
    HWND control = Item(id);
    if (control == nullptr)
        return;
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), length + 1)));
    HDC dc = GetDC(control);
    const HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
    RECT needed{0, 0, r.right - r.left, 0};
    DrawTextW(dc, text.c_str(), -1, &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    const int shift = needed.bottom - (r.bottom - r.top);
    if (shift <= 0)
        return;
    for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        RECT c{};
        GetWindowRect(child, &c);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&c), 2);
        if (child != control && c.top >= r.bottom)
            SetWindowPos(child, nullptr, c.left, c.top + shift, 0, 0,
                         SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    SetWindowPos(control, nullptr, 0, 0, r.right - r.left, r.bottom - r.top + shift,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT w{};
    GetWindowRect(window_, &w);
    SetWindowPos(window_, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + shift,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window_, nullptr, TRUE);
}

int CVistaDialog::DluToPixelsX(int units) const {
    RECT r{0, 0, units, 0};
    MapDialogRect(window_, &r);
    return r.right;
}

int CVistaDialog::DluToPixelsY(int units) const {
    RECT r{0, 0, 0, units};
    MapDialogRect(window_, &r);
    return r.bottom;
}

void CVistaDialog::UpdateColors() {
    bodyColor_ = GetSysColor(COLOR_WINDOW);
    footerColor_ = GetSysColor(COLOR_3DFACE);
    separatorColor_ = SeparatorColor(bodyColor_, footerColor_);
    for (HBRUSH brush : {bodyBrush_, footerBrush_, separatorBrush_})
        if (brush != nullptr)
            DeleteObject(brush);
    bodyBrush_ = CreateSolidBrush(bodyColor_);
    footerBrush_ = CreateSolidBrush(footerColor_);
    separatorBrush_ = CreateSolidBrush(separatorColor_);
}

void CVistaDialog::Paint(HDC dc) {
    RECT body{}, footer{};
    GetContentRects(body, footer);
    const int line = std::max(1, RoundHalfAway(DensityFactor(window_)));
    RECT separator = footer;
    separator.bottom = std::min(footer.bottom, footer.top + line);
    footer.top = separator.bottom;
    FillRect(dc, &body, bodyBrush_);
    FillRect(dc, &separator, separatorBrush_);
    FillRect(dc, &footer, footerBrush_);
}

bool CVistaDialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) {
    return false;
}

INT_PTR CALLBACK CVistaDialog::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CVistaDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CVistaDialog*>(lParam);
        SetWindowLongPtrW(window, DWLP_USER, lParam);
        self->window_ = window;
        if (self->modal_)
            RegisterModal(window);
    } else {
        self = reinterpret_cast<CVistaDialog*>(GetWindowLongPtrW(window, DWLP_USER));
    }
    if (self == nullptr)
        return FALSE;
    const INT_PTR result = self->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        UnregisterModal(window);
        self->window_ = nullptr;
    }
    return result;
}

INT_PTR CVistaDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = 0;
    if (message == WM_INITDIALOG)
        return OnInitDialog();
    // Also where Cancel is refused (a box without close): the question no longer applies.
    if (message == kCloseAsCancelled) {
        End(IDCANCEL);
        return TRUE;
    }
    if (OnMessage(message, wParam, lParam, result))
        return result;
    switch (message) {
    case WM_COMMAND:
        // OK and Cancel (also Escape and the close box) end the dialog unless a derived
        // dialog handled them.
        if ((LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) &&
            HIWORD(wParam) == BN_CLICKED) {
            End(LOWORD(wParam));
            return TRUE;
        }
        return FALSE;
    case WM_ERASEBKGND:
        Paint(reinterpret_cast<HDC>(wParam));
        SetWindowLongPtrW(window_, DWLP_MSGRESULT, 1);
        return TRUE;
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN: {
        RECT body{}, footer{}, control{};
        GetContentRects(body, footer);
        GetWindowRect(reinterpret_cast<HWND>(lParam), &control);
        POINT top{control.left, control.top};
        ScreenToClient(window_, &top);
        const bool inBody = top.y < body.bottom;
        SetBkColor(reinterpret_cast<HDC>(wParam), inBody ? bodyColor_ : footerColor_);
        return reinterpret_cast<INT_PTR>(inBody ? bodyBrush_ : footerBrush_);
    }
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
        UpdateColors();
        InvalidateRect(window_, nullptr, TRUE);
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace cptlib::win32
