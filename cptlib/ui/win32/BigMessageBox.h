#pragma once
// The one message dialog on Windows: icon, optional bold main instruction and rich text on the
// rich-edit control in the body, right-aligned buttons in the footer; it measures its text,
// sizes itself for the screen's density and scrolls a text too tall.

#include "cptlib/ui/MessageBox.h"
#include "cptlib/ui/win32/Dialog.h"

#include <richedit.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cptlib::win32 {

struct MessageBoxMetrics {
    int horizontalMargin = 12;
    int verticalMargin = 12;
    int minButtonWidth = 90;
    int buttonHeight = 26;
    int buttonGap = 8;
    int buttonPadding = 8;
    int minButtonRowWidth = 270;
    int minTextHeight = 60;
    int maxTextWidth = 600;
    int maxTextHeight = 360;
    int iconWidth = 32;
    int iconHeight = 32;

    // Scaled by `factor`, halves rounded away from zero.
    static MessageBoxMetrics ForFactor(double factor);
};

// "{\urtf" text (UTF-8) as plain-ASCII "{\rtf1" with \uN escapes, which every rich-edit
// version reads; other text unchanged.
std::string UtfRtfToAsciiRtf(const std::string& rtf);

// A hyperlink field's shown text (unescaped) and address.
struct LinkField {
    std::string text;
    std::string address;
};
// The hyperlink fields of `rtf` replaced by their shown text; `links` gets each in order.
std::string TakeLinkFields(const std::string& rtf, std::vector<LinkField>& links);

class CBigMessageBox : public CVistaDialog {
public:
    static constexpr int kTextControlId = 1001;
    static constexpr int kIconControlId = 1002;

    CBigMessageBox(const MessageBoxContent& box, HWND parent);
    ~CBigMessageBox() override;

    void AddButton(int id, const std::string& text, bool isDefault);
    // A clicked link's address; true when handled.
    void SetLinkHandler(std::function<bool(const std::string&)> handler);

    // The id of the button that ended the box, kIdCancel for Esc and the close box, -1 when no
    // window could be made.
    int DoModal();

    bool IsScrollMode() const { return scrollMode_; }
    const MessageBoxMetrics& Metrics() const { return metrics_; }

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

private:
    void OnCommand(int id);
    void OnLink(const ENLINK& link);
    void Layout(int width, int height);
    void CopyAllText();
    void MarkLinks(const std::vector<LinkField>& fields);
    std::wstring PlainText() const;
    static LRESULT CALLBACK FilterHook(int code, WPARAM wParam, LPARAM lParam);

    HWND parent_ = nullptr;
    MessageBoxContent box_;
    MessageBoxMetrics metrics_;
    HWND text_ = nullptr;
    HWND icon_ = nullptr;
    HICON iconHandle_ = nullptr;
    HFONT boldFont_ = nullptr;
    std::vector<HWND> buttonControls_;
    std::vector<int> buttonWidths_;
    SIZE requestedSize_{};
    SIZE minTrackSize_{};
    int textLeft_ = 0;
    bool shownOnce_ = false;
    bool scrollMode_ = false;
    bool initialised_ = false;
    HHOOK hook_ = nullptr;
    struct LinkRange {
        CHARRANGE range;
        std::string address;
    };
    std::vector<LinkRange> links_;
};

class CWin32MessageBoxPresenter : public IMessageBoxPresenter {
public:
    int Show(const MessageBoxContent& box) override;
    bool MainWindowVisible() const override;
    // The progress window: boxes are owned by it while it shows.
    void SetMainWindow(HWND window) { mainWindow_ = window; }

private:
    HWND mainWindow_ = nullptr;
};

} // namespace cptlib::win32
