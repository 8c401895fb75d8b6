#pragma once
// A dialog that moves and stretches registered controls when it is resized, and shows a size
// grip while it is resizable.

#include <QDialog>
#include <QPointer>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <vector>

class QSizeGrip;

namespace cptlib {

// Anchor flags of a control.
constexpr std::uint32_t ANCHOR_TOP = 0x1;    // top edge stays with the dialog's top
constexpr std::uint32_t ANCHOR_LEFT = 0x2;   // left edge stays with the dialog's left
constexpr std::uint32_t ANCHOR_RIGHT = 0x4;  // follows the dialog's right edge
constexpr std::uint32_t ANCHOR_BOTTOM = 0x8; // follows the dialog's bottom edge
constexpr std::uint32_t ANCHOR_SNAP_TOP = 0x100;
constexpr std::uint32_t ANCHOR_SNAP_LEFT = 0x200;
constexpr std::uint32_t ANCHOR_SNAP_RIGHT = 0x400;
constexpr std::uint32_t ANCHOR_SNAP_BOTTOM = 0x800;
constexpr std::uint32_t ANCHOR_NO_COPY_BITS = 0x10000; // repaint moved controls entirely
constexpr std::uint32_t ANCHOR_ALL = 0xF;              // stretches in both directions
constexpr std::uint32_t ANCHOR_BOTTOM_RIGHT = 0xC;     // moves with the bottom-right corner

// A rectangle with exclusive right and bottom edges, as the anchoring arithmetic counts.
struct LayoutRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    static LayoutRect FromQRect(const QRect& r) {
        return {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    }
    QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
    friend bool operator==(const LayoutRect&, const LayoutRect&) = default;
};

// Where a control with rectangle `control` and `flags` goes when the client rectangle changes
// from `reference` to `client`.
LayoutRect AnchorRect(const LayoutRect& control, std::uint32_t flags, const LayoutRect& client,
                      const LayoutRect& reference);

// The registered controls and the client rectangle of the last layout.
class ResizeLayout {
public:
    void Reset(const QRect& client);
    // Registers the control with its current geometry; false when it has none.
    bool Add(QWidget* control, std::uint32_t flags);
    // Moves every control for the new client rectangle, which becomes the reference.
    void Apply(const QRect& client);
    std::size_t Count() const { return entries_.size(); }

private:
    struct Entry {
        QPointer<QWidget> control;
        std::uint32_t flags = 0;
        LayoutRect rect;
    };
    std::vector<Entry> entries_;
    LayoutRect reference_;
};

class CResizeDlg : public QDialog {
    Q_OBJECT

public:
    explicit CResizeDlg(QWidget* parent = nullptr);
    ~CResizeDlg() override;

    // Register a child with its current geometry; false when it has no size yet.
    bool AnchorControl(QWidget* control, std::uint32_t flags);
    bool AnchorWindow(QWidget* window, std::uint32_t flags) { return AnchorControl(window, flags); }
    // Forgets every anchor; the current client rectangle becomes the reference.
    void ResetLayout();

    // Limits for resizing by the user (default: none).
    void SetMinTrackingSize(const QSize& size);
    void SetMaxTrackingSize(const QSize& size);
    QSize MinTrackingSize() const { return minTrackingSize_; }

    // A fixed dialog keeps its current size and never shows a grip.
    void SetResizable(bool resizable);
    bool IsResizable() const { return resizable_; }
    // Resizable, a window of its own and not maximised.
    bool HasGrip() const { return hasGrip_; }
    // The grip's square in the bottom-right corner of the client area.
    QRect GripRect() const;

    // Pixels for dialog units of the dialog's font.
    QRect MapDialogRect(const QRect& dialogUnits) const;
    int DluToPixelsX(int units) const;
    int DluToPixelsY(int units) const;

    // Pixels per logical inch ÷ 96.
    virtual double DensityFactor() const;

    // Runs the dialog modally; returns the code it ended with.
    int DoModal();

    void setVisible(bool visible) override;

    // Puts the window, frame included, in the middle of its visible owner window, else of the
    // screen's free area. Done by itself on the first show.
    void CentreWindow();

protected:
    // Called once, right before the dialog is shown for the first time; derived dialogs create
    // and place their controls here and call the base first.
    virtual void OnInitDialog();
    bool Initialized() const { return initialized_; }

    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void moveEvent(QMoveEvent* event) override;

private:
    void UpdateGrip();
    void ApplySizeLimits();

    ResizeLayout layout_;
    QSize minTrackingSize_{0, 0};
    QSize maxTrackingSize_;
    bool resizable_ = true;
    bool hasGrip_ = false;
    bool initialized_ = false;
    bool centred_ = false;
    bool centredWithFrame_ = false;
    QRect lastClientRect_;
    QSizeGrip* grip_ = nullptr;
};

} // namespace cptlib
