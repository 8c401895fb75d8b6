#include "cptlib/ui/win32/BigMessageBox.h"

#include "cptlib/Utf.h"
#include "cptlib/platform/win32/Wide.h"
#include "cptlib/ui/LinkMarkers.h"

#include <commctrl.h>
#include <richedit.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>

namespace cptlib::win32 {

using platform::Narrow;
using platform::Widen;

namespace {

constexpr UINT kFirstShown = WM_APP;

std::string EscapeRtf(const std::string& text) {
    if (!IsValidUtf8(text))
        return {};
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '\\':
        case '{':
        case '}':
            out += '\\';
            out += c;
            break;
        case '\t':
            out += "\\tab ";
            break;
        case '\n':
            out += "\\par ";
            break;
        case '\r':
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool IsRichText(const std::string& text) {
    return text.rfind("{\\rtf1", 0) == 0 || text.rfind("{\\urtf", 0) == 0;
}

std::string ComposeRtf(const std::string& mainInstruction, const std::string& content) {
    if (IsRichText(content))
        return IsValidUtf8(content) ? content : std::string();
    std::string rtf = "{\\urtf";
    if (!mainInstruction.empty())
        rtf += "{\\b " + EscapeRtf(mainInstruction) + "}\\par\\par";
    rtf += " " + EscapeRtf(content) + "\\par  }";
    return rtf;
}

struct StreamSource {
    const std::string* text;
    std::size_t at;
};

DWORD CALLBACK ReadStream(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* read) {
    auto* source = reinterpret_cast<StreamSource*>(cookie);
    const std::size_t n = std::min<std::size_t>(size, source->text->size() - source->at);
    std::copy_n(source->text->data() + source->at, n, buffer);
    source->at += n;
    *read = static_cast<LONG>(n);
    return 0;
}

// The shown text of a hyperlink field with the rich-text escapes undone.
std::string UnescapeRtfText(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() &&
            (text[i + 1] == '\\' || text[i + 1] == '{' || text[i + 1] == '}'))
            ++i;
        out += text[i];
    }
    return out;
}

LPCWSTR SystemIcon(IconKind kind) {
    switch (kind) {
    case IconKind::Information:
        return IDI_ASTERISK;
    case IconKind::Warning:
        return IDI_EXCLAMATION;
    case IconKind::Error:
        return IDI_HAND;
    case IconKind::Question:
        return IDI_QUESTION;
    default:
        return nullptr;
    }
}

HICON LoadScaledIcon(LPCWSTR id, int width, int height) {
    using Loader = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    static const auto load = reinterpret_cast<Loader>(reinterpret_cast<void*>(
        GetProcAddress(LoadLibraryW(L"comctl32.dll"), "LoadIconWithScaleDown")));
    HICON icon = nullptr;
    if (load != nullptr && SUCCEEDED(load(nullptr, id, width, height, &icon)))
        return icon;
    return static_cast<HICON>(LoadImageW(nullptr, id, IMAGE_ICON, width, height, LR_SHARED));
}

// Label mode: reads as static text, without caret, selection or tab stop.
LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR) {
    switch (message) {
    case WM_GETDLGCODE:
        return DefSubclassProc(window, message, wParam, lParam) &
               ~(DLGC_WANTARROWS | DLGC_WANTALLKEYS | DLGC_WANTCHARS | DLGC_HASSETSEL);
    case WM_SETFOCUS: {
        const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
        HideCaret(window);
        return result;
    }
    case WM_NCDESTROY:
        RemoveWindowSubclass(window, &LabelProc, 1);
        break;
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

thread_local CBigMessageBox* filteringBox = nullptr;

// Characters of `text` that the face has no glyph for.
int MissingGlyphs(HDC dc, const std::wstring& face, LONG height, const std::wstring& text) {
    LOGFONTW logFont{};
    logFont.lfHeight = height;
    logFont.lfCharSet = DEFAULT_CHARSET;
    wcsncpy(logFont.lfFaceName, face.c_str(), LF_FACESIZE - 1);
    HFONT font = CreateFontIndirectW(&logFont);
    const HGDIOBJ old = SelectObject(dc, font);
    std::vector<WORD> glyphs(text.size());
    GetGlyphIndicesW(dc, text.c_str(), static_cast<int>(text.size()), glyphs.data(),
                     GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteObject(font);
    int missing = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (glyphs[i] == 0xFFFF && text[i] >= L' ')
            ++missing;
    return missing;
}

// The rich-edit control draws each run in one font, without the font linking of static text:
// text in a script the dialog font lacks takes the linked font that has its glyphs.
std::wstring FaceForText(HDC dc, const std::wstring& face, LONG height, const std::wstring& text) {
    int best = MissingGlyphs(dc, face, height, text);
    if (best == 0)
        return face;
    std::wstring chosen = face;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return face;
    std::vector<wchar_t> links(8192, L'\0');
    DWORD size = static_cast<DWORD>((links.size() - 2) * sizeof(wchar_t));
    DWORD type = 0;
    if (RegQueryValueExW(key, face.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(links.data()),
                         &size) == ERROR_SUCCESS &&
        type == REG_MULTI_SZ) {
        // Entries "file,face[,scaling]", one after the other.
        for (const wchar_t* entry = links.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
            std::wstring linked(entry);
            const std::size_t comma = linked.find(L',');
            if (comma == std::wstring::npos)
                continue;
            linked = linked.substr(comma + 1);
            linked = linked.substr(0, linked.find(L','));
            const int missing = MissingGlyphs(dc, linked, height, text);
            if (missing < best) {
                best = missing;
                chosen = linked;
            }
        }
    }
    RegCloseKey(key);
    return chosen;
}

} // namespace

MessageBoxMetrics MessageBoxMetrics::ForFactor(double f) {
    MessageBoxMetrics m;
    for (int* value : {&m.horizontalMargin, &m.verticalMargin, &m.minButtonWidth, &m.buttonHeight,
                       &m.buttonGap, &m.buttonPadding, &m.minButtonRowWidth, &m.minTextHeight,
                       &m.maxTextWidth, &m.maxTextHeight, &m.iconWidth, &m.iconHeight})
        *value = RoundHalfAway(*value * f);
    return m;
}

std::string TakeLinkFields(const std::string& rtf, std::vector<LinkField>& links) {
    static const std::string head = "{\\field{\\*\\fldinst{HYPERLINK \"";
    static const std::string middle = "\"}}{\\fldrslt{";
    static const std::string tail = "}}}{\\v *ZQLINKEND}";
    std::string out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = rtf.find(head, at);
        const std::size_t mid = start == std::string::npos ? start : rtf.find(middle, start);
        const std::size_t end = mid == std::string::npos ? mid : rtf.find(tail, mid);
        if (end == std::string::npos)
            break;
        const std::string text = rtf.substr(mid + middle.size(), end - mid - middle.size());
        links.push_back(
            {UnescapeRtfText(text), rtf.substr(start + head.size(), mid - start - head.size())});
        out.append(rtf, at, start - at);
        out += text;
        at = end + tail.size();
    }
    out.append(rtf, at, std::string::npos);
    return out;
}

std::string UtfRtfToAsciiRtf(const std::string& rtf) {
    if (rtf.rfind("{\\urtf", 0) != 0)
        return rtf;
    std::size_t at = 6;
    while (at < rtf.size() && rtf[at] >= '0' && rtf[at] <= '9')
        ++at;
    std::string out = "{\\rtf1\\ansi\\ansicpg1252\\uc1";
    const std::u16string units = Utf8ToUtf16(rtf.substr(at)).value_or(std::u16string());
    for (const char16_t unit : units) {
        if (unit < 0x80)
            out += static_cast<char>(unit);
        else
            out += "\\u" + std::to_string(static_cast<int16_t>(unit)) + "?";
    }
    return out;
}

CBigMessageBox::CBigMessageBox(const MessageBoxContent& box, HWND parent)
    : CVistaDialog(DialogTemplate(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME |
                                      DS_MODALFRAME | DS_CENTER | WS_CLIPCHILDREN,
                                  (box.flags & MBF_TASKBAR_BUTTON) ? WS_EX_APPWINDOW : 0, 400, 300,
                                  L"")),
      parent_(parent), box_(box) {
    LoadLibraryW(L"msftedit.dll");
}

CBigMessageBox::~CBigMessageBox() {
    if (iconHandle_ != nullptr)
        DestroyIcon(iconHandle_);
    if (boldFont_ != nullptr)
        DeleteObject(boldFont_);
}

void CBigMessageBox::AddButton(int id, const std::string& text, bool isDefault) {
    box_.buttons.push_back({id, isDefault, text});
}

void CBigMessageBox::SetLinkHandler(std::function<bool(const std::string&)> handler) {
    box_.linkHandler = std::move(handler);
}

int CBigMessageBox::DoModal() {
    filteringBox = this;
    hook_ =
        SetWindowsHookExW(WH_MSGFILTER, &CBigMessageBox::FilterHook, nullptr, GetCurrentThreadId());
    const INT_PTR result = CVistaDialog::DoModal(parent_);
    if (hook_ != nullptr)
        UnhookWindowsHookEx(hook_);
    filteringBox = nullptr;
    return static_cast<int>(result);
}

LRESULT CALLBACK CBigMessageBox::FilterHook(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    CBigMessageBox* self = filteringBox;
    // Ctrl+C copies the whole message when the text has no selection of its own to copy.
    if (code == MSGF_DIALOGBOX && self != nullptr && message->message == WM_KEYDOWN &&
        message->wParam == 'C' && (GetKeyState(VK_CONTROL) & 0x8000) && self->text_ != nullptr &&
        IsChild(self->Window(), message->hwnd)) {
        CHARRANGE selection{};
        SendMessageW(self->text_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&selection));
        // A label, or a text without the focus: nothing the user could have selected.
        const bool label = !self->scrollMode_ || GetFocus() != self->text_;
        if (label && selection.cpMin == selection.cpMax) {
            self->CopyAllText();
            return 1;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CBigMessageBox::CopyAllText() {
    CHARRANGE saved{};
    SendMessageW(text_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
    CHARRANGE all{0, -1};
    SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&all));
    SendMessageW(text_, WM_COPY, 0, 0);
    SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
}

BOOL CBigMessageBox::OnInitDialog() {
    HWND window = Window();
    const double factor = DensityFactor(window);
    metrics_ = MessageBoxMetrics::ForFactor(factor);
    const MessageBoxMetrics& m = metrics_;
    SetFooterHeight(RoundHalfAway(factor) + m.buttonHeight + 2 * m.verticalMargin);

    const HFONT font = reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0));
    HDC dc = GetDC(window);
    const HGDIOBJ oldFont = SelectObject(dc, font);

    const std::string caption = !box_.caption.empty() ? box_.caption : GetAppName();
    SetWindowTextW(window, Widen(caption).c_str());

    if (const LPCWSTR id = SystemIcon(box_.iconKind)) {
        iconHandle_ = LoadScaledIcon(id, m.iconWidth, m.iconHeight);
        if (iconHandle_ != nullptr) {
            icon_ = CreateWindowExW(0, L"STATIC", nullptr, WS_CHILD | WS_VISIBLE | SS_ICON,
                                    m.horizontalMargin, m.verticalMargin, m.iconWidth, m.iconHeight,
                                    window, reinterpret_cast<HMENU>(INT_PTR(kIconControlId)),
                                    nullptr, nullptr);
            SendMessageW(icon_, STM_SETICON, reinterpret_cast<WPARAM>(iconHandle_), 0);
            SetWindowPos(icon_, nullptr, 0, 0, m.iconWidth, m.iconHeight,
                         SWP_NOMOVE | SWP_NOZORDER);
        }
    }
    if (box_.buttons.empty())
        box_.buttons.push_back({kIdOk, false, "OK"});

    LRESULT unwrappedLines = 0;
    text_ = CreateWindowExW(0, MSFTEDIT_CLASS, nullptr,
                            WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE |
                                ES_AUTOVSCROLL,
                            0, 0, m.maxTextWidth, m.maxTextHeight, window,
                            reinterpret_cast<HMENU>(INT_PTR(kTextControlId)), nullptr, nullptr);
    if (text_ != nullptr) {
        SendMessageW(text_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        SendMessageW(text_, EM_SETBKGNDCOLOR, 0, BodyColor());
        SendMessageW(text_, EM_AUTOURLDETECT, (box_.flags & MBF_NO_AUTO_URL) ? 0 : AURL_ENABLEURL,
                     0);
        SendMessageW(text_, EM_EXLIMITTEXT, 0, 0x1000000);
        SendMessageW(text_, EM_SETMARGINS, EC_RIGHTMARGIN, MAKELPARAM(0, m.horizontalMargin));

        // Not every rich-edit version shows hyperlink fields: each becomes its shown text,
        // marked as a link here, and keeps its address for the click.
        std::vector<LinkField> fields;
        const std::string rtf = UtfRtfToAsciiRtf(TakeLinkFields(
            ConvertLinkMarkers(ComposeRtf(box_.mainInstruction, box_.content)), fields));
        StreamSource source{&rtf, 0};
        EDITSTREAM stream{reinterpret_cast<DWORD_PTR>(&source), 0, &ReadStream};
        SendMessageW(text_, EM_STREAMIN, SF_RTF, reinterpret_cast<LPARAM>(&stream));
        // Text without a font of its own keeps the dialog font in any script, so that the
        // system's font linking supplies the glyphs the font lacks.
        CHARFORMAT2W format{};
        format.cbSize = sizeof(format);
        format.dwMask = CFM_CHARSET | CFM_FACE;
        format.bCharSet = DEFAULT_CHARSET;
        LOGFONTW logFont{};
        GetObjectW(font, sizeof(logFont), &logFont);
        const std::wstring face =
            FaceForText(dc, logFont.lfFaceName, logFont.lfHeight, PlainText());
        wcsncpy(format.szFaceName, face.c_str(), LF_FACESIZE - 1);
        if (!IsRichText(box_.content))
            SendMessageW(text_, EM_SETCHARFORMAT, SCF_ALL, reinterpret_cast<LPARAM>(&format));
        MarkLinks(fields);

        // The unwrapped size first; a text wider than the limit again wrapped at the limit.
        SendMessageW(text_, EM_SETTARGETDEVICE, 0, 1);
        SendMessageW(text_, EM_SETEVENTMASK, 0, ENM_REQUESTRESIZE);
        SendMessageW(text_, EM_REQUESTRESIZE, 0, 0);
        unwrappedLines = SendMessageW(text_, EM_GETLINECOUNT, 0, 0);
        SendMessageW(text_, EM_SETTARGETDEVICE, 0, 0);
        if (requestedSize_.cx > m.maxTextWidth)
            SendMessageW(text_, EM_REQUESTRESIZE, 0, 0);
    }

    int width = std::min<int>(requestedSize_.cx, m.maxTextWidth);
    int height = requestedSize_.cy;
    if (height > m.maxTextHeight) {
        if (!(box_.flags & MBF_NO_HEIGHT_LIMIT)) {
            height = m.maxTextHeight;
            scrollMode_ = true;
        }
        width += GetSystemMetrics(SM_CXVSCROLL);
    }
    height = std::max(height, m.minTextHeight);

    int buttonsWidth = 0;
    for (const ButtonSpec& button : box_.buttons) {
        const std::wstring text = Widen(button.text);
        RECT r{};
        DrawTextW(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
        buttonWidths_.push_back(
            std::max<int>(r.right - r.left + 2 * m.buttonPadding, m.minButtonWidth));
        buttonsWidth += buttonWidths_.back();
    }
    buttonsWidth += m.buttonGap * (static_cast<int>(box_.buttons.size()) - 1);
    SelectObject(dc, oldFont);
    ReleaseDC(window, dc);

    int iconShift = 0;
    if (icon_ != nullptr) {
        iconShift = m.iconWidth + m.horizontalMargin;
        height = std::max(height, m.iconHeight);
    }
    RECT body{}, footer{};
    GetContentRects(body, footer);
    const int footerHeight = footer.bottom - footer.top;
    int clientWidth = m.horizontalMargin + iconShift + width;
    const int rowWidth = std::max(buttonsWidth + 2 * m.horizontalMargin, m.minButtonRowWidth);
    if (clientWidth < rowWidth) {
        width += rowWidth - clientWidth;
        clientWidth = rowWidth;
    }
    textLeft_ = iconShift + m.horizontalMargin;
    if (text_ != nullptr) {
        MoveWindow(text_, textLeft_, m.verticalMargin, width, height, FALSE);
        if (!scrollMode_) {
            // As a label: no left margin, the horizontal margin on the right.
            SendMessageW(text_, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN,
                         MAKELPARAM(0, m.horizontalMargin));
            // Where the control's own size request left out its margins, the text would
            // wrap or be cut: widen it while its lines wrap, then take the height it asks.
            for (int i = 0; i < 4; ++i) {
                requestedSize_ = {};
                SendMessageW(text_, EM_REQUESTRESIZE, 0, 0);
                if (SendMessageW(text_, EM_GETLINECOUNT, 0, 0) <= unwrappedLines ||
                    width >= m.maxTextWidth)
                    break;
                const int grow = std::min(m.horizontalMargin, m.maxTextWidth - width);
                width += grow;
                clientWidth += grow;
                MoveWindow(text_, textLeft_, m.verticalMargin, width, height, FALSE);
            }
            const int needed = requestedSize_.cy;
            if (needed > height &&
                (needed <= m.maxTextHeight || (box_.flags & MBF_NO_HEIGHT_LIMIT))) {
                height = needed;
                MoveWindow(text_, textLeft_, m.verticalMargin, width, height, FALSE);
            }
        }
    }
    const int clientHeight = 2 * m.verticalMargin + height + footerHeight;

    std::size_t defaultIndex = 0;
    for (std::size_t i = 0; i < box_.buttons.size(); ++i)
        if (box_.buttons[i].isDefault)
            defaultIndex = i;
    int x = clientWidth - m.horizontalMargin - buttonsWidth;
    const int y = clientHeight - m.verticalMargin - m.buttonHeight;
    for (std::size_t i = 0; i < box_.buttons.size(); ++i) {
        const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP |
                            (i == defaultIndex ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        HWND button =
            CreateWindowExW(0, L"BUTTON", Widen(box_.buttons[i].text).c_str(), style, x, y,
                            buttonWidths_[i], m.buttonHeight, window,
                            reinterpret_cast<HMENU>(INT_PTR(box_.buttons[i].id)), nullptr, nullptr);
        SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        buttonControls_.push_back(button);
        x += buttonWidths_[i] + m.buttonGap;
    }
    SendMessageW(window, DM_SETDEFID, box_.buttons[defaultIndex].id, 0);

    if (!scrollMode_) {
        SetWindowLongPtrW(window, GWL_STYLE,
                          GetWindowLongPtrW(window, GWL_STYLE) &
                              ~(WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_FRAMECHANGED | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        HMENU menu = GetSystemMenu(window, FALSE);
        for (const UINT item : {SC_SIZE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE})
            DeleteMenu(menu, item, MF_BYCOMMAND);
        if (text_ != nullptr) {
            SendMessageW(text_, EM_HIDESELECTION, TRUE, 0);
            SendMessageW(text_, EM_SETREADONLY, TRUE, 0);
            SetWindowLongPtrW(text_, GWL_STYLE, GetWindowLongPtrW(text_, GWL_STYLE) & ~WS_TABSTOP);
            SendMessageW(text_, EM_SHOWSCROLLBAR, SB_VERT, FALSE);
            SetWindowSubclass(text_, &LabelProc, 1, 0);
        }
    } else if (text_ != nullptr) {
        SendMessageW(text_, EM_SETREADONLY, TRUE, 0);
    }

    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
    minTrackSize_ = {frame.right - frame.left, frame.bottom - frame.top};
    RECT area{};
    HWND owner = parent_ != nullptr ? parent_ : GetDesktopWindow();
    GetWindowRect(owner, &area);
    if (parent_ == nullptr)
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    SetWindowPos(window, nullptr, area.left + (area.right - area.left - minTrackSize_.cx) / 2,
                 area.top + (area.bottom - area.top - minTrackSize_.cy) / 2, minTrackSize_.cx,
                 minTrackSize_.cy, SWP_NOZORDER | SWP_NOACTIVATE);

    if (box_.flags & MBF_NO_CLOSE)
        DeleteMenu(GetSystemMenu(window, FALSE), SC_CLOSE, MF_BYCOMMAND);
    if (box_.flags & MBF_TOPMOST)
        SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (text_ != nullptr) {
        POINT origin{0, 0};
        SendMessageW(text_, EM_SETSCROLLPOS, 0, reinterpret_cast<LPARAM>(&origin));
        SendMessageW(text_, EM_SETEVENTMASK, 0, ENM_LINK);
    }
    initialised_ = true;
    SetFocus(buttonControls_[defaultIndex]);
    return FALSE;
}

std::wstring CBigMessageBox::PlainText() const {
    GETTEXTLENGTHEX length{GTL_DEFAULT, 1200};
    const auto n = SendMessageW(text_, EM_GETTEXTLENGTHEX, reinterpret_cast<WPARAM>(&length), 0);
    std::wstring text(static_cast<std::size_t>(std::max<LRESULT>(n, 0)) + 1, L'\0');
    GETTEXTEX get{static_cast<DWORD>(text.size() * sizeof(wchar_t)), GT_DEFAULT, 1200, nullptr,
                  nullptr};
    SendMessageW(text_, EM_GETTEXTEX, reinterpret_cast<WPARAM>(&get),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(wcslen(text.c_str()));
    return text;
}

void CBigMessageBox::MarkLinks(const std::vector<LinkField>& fields) {
    if (fields.empty())
        return;
    const std::wstring text = PlainText();
    CHARRANGE saved{};
    SendMessageW(text_, EM_EXGETSEL, 0, reinterpret_cast<LPARAM>(&saved));
    std::size_t from = 0;
    for (const LinkField& field : fields) {
        const std::wstring shown = Widen(field.text);
        const std::size_t at = shown.empty() ? std::wstring::npos : text.find(shown, from);
        if (at == std::wstring::npos)
            continue;
        from = at + shown.size();
        CHARRANGE range{static_cast<LONG>(at), static_cast<LONG>(from)};
        SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
        CHARFORMAT2W format{};
        format.cbSize = sizeof(format);
        format.dwMask = CFM_LINK | CFM_UNDERLINE | CFM_COLOR;
        format.dwEffects = CFE_LINK | CFE_UNDERLINE;
        format.crTextColor = GetSysColor(COLOR_HOTLIGHT);
        SendMessageW(text_, EM_SETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
        links_.push_back({range, field.address});
    }
    SendMessageW(text_, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&saved));
}

void CBigMessageBox::Layout(int width, int height) {
    if (!initialised_)
        return;
    const MessageBoxMetrics& m = metrics_;
    RECT body{}, footer{};
    GetContentRects(body, footer);
    if (scrollMode_ && text_ != nullptr)
        MoveWindow(text_, textLeft_, m.verticalMargin, width - textLeft_ - m.horizontalMargin,
                   body.bottom - 2 * m.verticalMargin, TRUE);
    int total = 0;
    for (const int w : buttonWidths_)
        total += w;
    total += m.buttonGap * (static_cast<int>(buttonWidths_.size()) - 1);
    int x = width - m.horizontalMargin - total;
    for (std::size_t i = 0; i < buttonControls_.size(); ++i) {
        MoveWindow(buttonControls_[i], x, height - m.verticalMargin - m.buttonHeight,
                   buttonWidths_[i], m.buttonHeight, TRUE);
        x += buttonWidths_[i] + m.buttonGap;
    }
    InvalidateRect(Window(), nullptr, TRUE);
}

bool CBigMessageBox::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    switch (message) {
    case WM_COMMAND:
        if (wParam > 0xFFFF && HIWORD(wParam) != BN_CLICKED)
            return false;
        OnCommand(LOWORD(wParam));
        result = TRUE;
        return true;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->hwndFrom != text_)
            return false;
        if (header->code == EN_REQUESTRESIZE) {
            const RECT& r = reinterpret_cast<const REQRESIZE*>(lParam)->rc;
            requestedSize_ = {r.right - r.left, r.bottom - r.top};
        } else if (header->code == EN_LINK) {
            const auto* link = reinterpret_cast<const ENLINK*>(lParam);
            if (link->msg == WM_LBUTTONDOWN) {
                OnLink(*link);
                SetWindowLongPtrW(Window(), DWLP_MSGRESULT, 1);
                result = TRUE;
                return true;
            }
        }
        return false;
    }
    case WM_WINDOWPOSCHANGED:
        if (!shownOnce_ && (reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW)) {
            shownOnce_ = true;
            PostMessageW(Window(), kFirstShown, 0, 0);
        }
        return false;
    case kFirstShown:
        if (box_.flags & MBF_ATTENTION)
            FlashIfNotForeground(Window());
        result = TRUE;
        return true;
    case WM_SIZE:
        if (wParam == SIZE_RESTORED || wParam == SIZE_MAXIMIZED)
            Layout(LOWORD(lParam), HIWORD(lParam));
        return false;
    case WM_GETMINMAXINFO:
        if (minTrackSize_.cx > 0) {
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = {minTrackSize_.cx, minTrackSize_.cy};
        }
        return false;
    case WM_THEMECHANGED:
    case WM_SYSCOLORCHANGE:
        if (text_ != nullptr)
            SendMessageW(text_, EM_SETBKGNDCOLOR, 0, GetSysColor(COLOR_WINDOW));
        return false;
    default:
        return false;
    }
}

void CBigMessageBox::OnCommand(int id) {
    if (id == IDCANCEL) {
        if (!(box_.flags & MBF_NO_CLOSE))
            End(IDCANCEL);
        return;
    }
    if (id == IDOK) {
        HWND focus = GetFocus();
        for (std::size_t i = 0; i < buttonControls_.size(); ++i)
            if (buttonControls_[i] == focus) {
                End(box_.buttons[i].id);
                return;
            }
        End(box_.buttons.front().id);
        return;
    }
    End(id);
}

void CBigMessageBox::OnLink(const ENLINK& link) {
    const LONG length = link.chrg.cpMax - link.chrg.cpMin;
    if (length <= 0)
        return;
    std::wstring buffer(static_cast<std::size_t>(length) + 1, L'\0');
    TEXTRANGEW range{link.chrg, buffer.data()};
    SendMessageW(text_, EM_GETTEXTRANGE, 0, reinterpret_cast<LPARAM>(&range));
    buffer.resize(wcslen(buffer.c_str()));
    std::wstring address;
    const auto field = std::find_if(links_.begin(), links_.end(), [&](const auto& l) {
        return link.chrg.cpMin < l.range.cpMax && l.range.cpMin < link.chrg.cpMax;
    });
    if (field != links_.end()) {
        address = Widen(field->address);
    } else if (buffer.rfind(L"HYPERLINK", 0) == 0) {
        const auto first = buffer.find(L'"');
        const auto second = first == std::wstring::npos ? first : buffer.find(L'"', first + 1);
        if (second != std::wstring::npos)
            address = buffer.substr(first + 1, second - first - 1);
    } else {
        address = buffer.substr(0, buffer.find_first_of(L" \t\n\r"));
        if (address.rfind(L"www.", 0) == 0)
            address = L"http://" + address;
    }
    if (address.empty())
        return;
    if (UrlIsW(address.c_str(), URLIS_FILEURL)) {
        wchar_t path[MAX_PATH * 4] = {};
        DWORD size = static_cast<DWORD>(std::size(path));
        if (SUCCEEDED(PathCreateFromUrlW(address.c_str(), path, &size, 0)))
            address = path;
    }
    if (box_.linkHandler && box_.linkHandler(Narrow(address)))
        return;
    const HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
    const auto started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(Window(), nullptr, address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    SetCursor(previous);
    if (started <= 32) {
        const std::wstring text = address + L"\n\n" + Widen("The link cannot be opened.");
        MessageBoxW(Window(), text.c_str(), Widen(GetAppName()).c_str(), MB_ICONERROR | MB_OK);
    }
}

int CWin32MessageBoxPresenter::Show(const MessageBoxContent& box) {
    CBigMessageBox dialog(box, MainWindowVisible() ? mainWindow_ : nullptr);
    const int result = dialog.DoModal();
    return result < 0 ? 0 : result;
}

bool CWin32MessageBoxPresenter::MainWindowVisible() const {
    return mainWindow_ != nullptr && IsWindow(mainWindow_) && IsWindowVisible(mainWindow_);
}

} // namespace cptlib::win32
