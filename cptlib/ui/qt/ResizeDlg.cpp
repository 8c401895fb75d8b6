#include "cptlib/ui/qt/ResizeDlg.h"

#include "cptlib/ui/qt/DialogUnits.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMoveEvent>
#include <QResizeEvent>
#include <QScreen>
#include <QSizeGrip>
#include <QStyle>

#include <algorithm>

namespace cptlib {

namespace {

void AnchorAxis(int& low, int& high, bool fixLow, bool followHigh, int clientLow, int clientHigh,
                int refLow, int refHigh) {
    if (fixLow && followHigh) {
        high += clientHigh - refHigh;
    } else if (followHigh) {
        low += clientHigh - refHigh;
        high += clientHigh - refHigh;
    } else if (!fixLow) {
        // Integer division truncates toward zero, as the halving must.
        const int shift = (clientHigh - clientLow) / 2 - (refHigh - refLow) / 2;
        low += shift;
        high += shift;
    }
}

} // namespace

LayoutRect AnchorRect(const LayoutRect& control, std::uint32_t flags, const LayoutRect& client,
                      const LayoutRect& reference) {
    LayoutRect r = control;
    AnchorAxis(r.left, r.right, flags & ANCHOR_LEFT, flags & ANCHOR_RIGHT, client.left,
               client.right, reference.left, reference.right);
    AnchorAxis(r.top, r.bottom, flags & ANCHOR_TOP, flags & ANCHOR_BOTTOM, client.top,
               client.bottom, reference.top, reference.bottom);
    if (flags & ANCHOR_SNAP_TOP)
        r.top = client.top;
    if (flags & ANCHOR_SNAP_LEFT)
        r.left = client.left;
    if (flags & ANCHOR_SNAP_RIGHT)
        r.right = client.right;
    if (flags & ANCHOR_SNAP_BOTTOM)
        r.bottom = client.bottom;
    return r;
}

void ResizeLayout::Reset(const QRect& client) {
    entries_.clear();
    reference_ = LayoutRect::FromQRect(client);
}

bool ResizeLayout::Add(QWidget* control, std::uint32_t flags) {
    if (control == nullptr || !control->geometry().isValid())
        return false;
    for (Entry& entry : entries_) {
        if (entry.control == control) {
            entry.flags = flags;
            entry.rect = LayoutRect::FromQRect(control->geometry());
            return true;
        }
    }
    entries_.push_back({control, flags, LayoutRect::FromQRect(control->geometry())});
    return true;
}

void ResizeLayout::Apply(const QRect& client) {
    if (entries_.empty())
        return;
    const LayoutRect c = LayoutRect::FromQRect(client);
    for (Entry& entry : entries_) {
        entry.rect = AnchorRect(entry.rect, entry.flags, c, reference_);
        if (entry.control)
            entry.control->setGeometry(entry.rect.ToQRect());
    }
    reference_ = c;
}

CResizeDlg::CResizeDlg(QWidget* parent)
    : QDialog(parent), maxTrackingSize_(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX) {
    setFont(MessageBoxFont());
    grip_ = new QSizeGrip(this); // owned by the dialog as its child
    grip_->hide();
}

CResizeDlg::~CResizeDlg() = default;

bool CResizeDlg::AnchorControl(QWidget* control, std::uint32_t flags) {
    return layout_.Add(control, flags);
}

void CResizeDlg::ResetLayout() {
    layout_.Reset(rect());
}

void CResizeDlg::SetMinTrackingSize(const QSize& size) {
    minTrackingSize_ = size;
    ApplySizeLimits();
}

void CResizeDlg::SetMaxTrackingSize(const QSize& size) {
    maxTrackingSize_ = size;
    ApplySizeLimits();
}

void CResizeDlg::SetResizable(bool resizable) {
    resizable_ = resizable;
    ApplySizeLimits();
    UpdateGrip();
}

void CResizeDlg::ApplySizeLimits() {
    if (resizable_) {
        setMinimumSize(minTrackingSize_);
        setMaximumSize(maxTrackingSize_.boundedTo(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX)));
    } else {
        setFixedSize(size());
    }
}

QRect CResizeDlg::GripRect() const {
    const int w = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const QRect client = rect();
    return QRect(client.right() + 1 - w, client.bottom() + 1 - w, w, w);
}

void CResizeDlg::UpdateGrip() {
    hasGrip_ = resizable_ && isWindow() && !isMaximized();
    if (hasGrip_) {
        grip_->setGeometry(GripRect());
        grip_->raise();
    }
    grip_->setVisible(hasGrip_);
}

QRect CResizeDlg::MapDialogRect(const QRect& dialogUnits) const {
    return cptlib::MapDialogRect(font(), dialogUnits);
}

int CResizeDlg::DluToPixelsX(int units) const {
    return DialogUnitsToPixelsX(font(), units);
}

int CResizeDlg::DluToPixelsY(int units) const {
    return DialogUnitsToPixelsY(font(), units);
}

double CResizeDlg::DensityFactor() const {
    const int dpi = logicalDpiX();
    return dpi > 0 ? dpi / 96.0 : 1.0;
}

int CResizeDlg::DoModal() {
    return exec();
}

void CResizeDlg::setVisible(bool visible) {
    if (visible && !initialized_) {
        initialized_ = true;
        OnInitDialog();
    }
    if (visible && !centred_ && !isVisible()) {
        centred_ = true;
        CentreWindow();
    }
    QDialog::setVisible(visible);
}

void CResizeDlg::CentreWindow() {
    const QWidget* owner = parentWidget() != nullptr ? parentWidget()->window() : nullptr;
    QScreen* where = owner != nullptr ? owner->screen() : screen();
    if (where == nullptr)
        where = QGuiApplication::primaryScreen();
    if (where == nullptr)
        return;
    const QRect free = where->availableGeometry();
    const QRect area = owner != nullptr && owner->isVisible() ? owner->frameGeometry() : free;
    // The frame is known once the window manager has framed the window; until then it
    // equals the client area.
    const QRect frame = frameGeometry();
    QPoint topLeft(area.left() + (area.width() - frame.width()) / 2,
                   area.top() + (area.height() - frame.height()) / 2);
    // Over an owner near the edge the window still stays on the screen, its title bar first.
    topLeft.setX(std::max(free.left(), std::min(topLeft.x(), free.right() + 1 - frame.width())));
    topLeft.setY(std::max(free.top(), std::min(topLeft.y(), free.bottom() + 1 - frame.height())));
    // A window's position is that of its frame.
    move(topLeft);
}

void CResizeDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    // The first placement could not count a frame the window manager adds later.
    if (centred_ && !centredWithFrame_ && isVisible() && frameGeometry() != geometry()) {
        centredWithFrame_ = true;
        CentreWindow();
    }
}

void CResizeDlg::OnInitDialog() {
    lastClientRect_ = rect();
    layout_.Reset(rect());
    UpdateGrip();
}

void CResizeDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (isMinimized())
        return;
    layout_.Apply(rect());
    lastClientRect_ = rect();
    UpdateGrip();
}

void CResizeDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        UpdateGrip();
}

} // namespace cptlib
