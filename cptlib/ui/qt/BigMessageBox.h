#pragma once
// The one message dialog: icon, optional bold main instruction and rich text in the body,
// right-aligned buttons in the footer; sizes itself to its text and scrolls a text too tall.

#ifndef Q_MOC_RUN // moc cannot read the C++20 library headers these pull in
#include "cptlib/ui/MessageBox.h"
#endif
#include "cptlib/ui/qt/RichEditCtrlEx.h"
#include "cptlib/ui/qt/VistaDialog.h"

#include <QIcon>
#include <QPixmap>
#include <QPointer>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;

namespace cptlib {

// The box's layout sizes in pixels.
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

    // The sizes above scaled by pixelsPerInch ÷ 96, rounded halves away from zero.
    static MessageBoxMetrics ForDensity(double pixelsPerInch);
};

// Decides about a clicked link (address, link text); true means handled.
using LinkHandler = std::function<bool(const std::string& address, const std::string& text)>;
// Starts an address through the desktop; throws on failure.
using LinkStarter = std::function<void(const std::string& address)>;

// Where a clicked link leads: address empty means nothing to open.
struct LinkTarget {
    std::string address;
    std::string text;
};
// A written link opens its address; a recognised one its text up to the first white space,
// with "http://" before "www.". A file URL becomes a local path.
LinkTarget ResolveLink(const LinkClick& link);

class CBigMessageBox : public CVistaDialog {
    Q_OBJECT

public:
    static constexpr int kTextControlId = 1001;
    static constexpr int kIconControlId = 1002;

    // Null strings count as empty.
    CBigMessageBox(QWidget* parent, const std::string* caption, const std::string* mainInstruction,
                   const std::string* content, IconKind iconKind, std::uint32_t flags);
    // A box with the content's texts, icon, flags, buttons and link handler.
    explicit CBigMessageBox(const MessageBoxContent& box, QWidget* parent = nullptr);
    ~CBigMessageBox() override;

    // Call before the box is shown.
    void AddButton(int id, const std::string& text, bool isDefault);
    void SetLinkHandler(LinkHandler handler);
    // Replaces the desktop start of links (ShellExecuteFromExplorer).
    void SetLinkStarter(LinkStarter starter);
    // Lays the box out for this density instead of the screen's; the font follows.
    void SetPixelsPerInch(int pixelsPerInch);

    // The id of the button that ended the box, or kIdCancel for Esc and the close box.
    int DoModal();
    // The id the box ended with (0 while it runs).
    int ResultId() const { return result(); }

    double DensityFactor() const override;

    // For inspection after the initialisation.
    const MessageBoxMetrics& Metrics() const { return metrics_; }
    bool IsScrollMode() const { return scrollMode_; }
    CRichEditCtrlEx* TextControl() const { return text_; }
    QLabel* IconControl() const { return icon_; }
    std::vector<QPushButton*> ButtonControls() const;
    // The pressed-button id a button control stands for.
    static int ButtonId(const QPushButton* button);
    // The icon a box of `kind` shows: the desktop theme's, else the style's.
    static QIcon MessageIcon(IconKind kind, const QWidget* widget = nullptr);
    QSize MinTrackSize() const { return minTrackSize_; }
    // The whole text as Ctrl+C copies it.
    QString PlainText() const;

protected:
    void OnInitDialog() override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void OnThemeChanged() override;
    void reject() override;

private:
    void OnCommand(int id);
    void OnLink(const LinkClick& link);
    void CopyAllText();
    // The tallest text that keeps the box and its buttons on the screen.
    int ScreenTextHeightLimit() const;
    QPixmap MessageIconPixmap(IconKind kind, const QSize& size) const;
    QFont DialogFont() const;

    std::string caption_;
    std::string mainInstruction_;
    std::string content_;
    IconKind iconKind_ = IconKind::None;
    std::uint32_t flags_ = 0;
    std::vector<ButtonSpec> buttons_;
    MessageBoxMetrics metrics_;
    std::optional<int> pixelsPerInch_;
    CRichEditCtrlEx* text_ = nullptr;
    QLabel* icon_ = nullptr;
    std::vector<QPushButton*> buttonControls_;
    QSize requestedSize_;
    QSize minTrackSize_;
    bool shownOnce_ = false;
    bool scrollMode_ = false;
    LinkHandler linkHandler_;
    LinkStarter linkStarter_;
};

} // namespace cptlib
