#include "cptlib/ui/qt/VistaDialog.h"

#include "cptlib/ui/qt/DialogUnits.h"

#include "cptlib/ui/MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace cptlib {

namespace {

struct Hsv {
    double h = 0; // degrees
    double s = 0;
    double v = 0;
};

Hsv ToHsv(const QColor& color) {
    const double r = color.red() / 255.0;
    const double g = color.green() / 255.0;
    const double b = color.blue() / 255.0;
    const double max = std::max({r, g, b});
    const double min = std::min({r, g, b});
    const double delta = max - min;
    Hsv hsv;
    hsv.v = max;
    hsv.s = max > 0 ? delta / max : 0;
    if (delta > 0) {
        if (max == r)
            hsv.h = 60 * std::fmod((g - b) / delta, 6.0);
        else if (max == g)
            hsv.h = 60 * ((b - r) / delta + 2);
        else
            hsv.h = 60 * ((r - g) / delta + 4);
        if (hsv.h < 0)
            hsv.h += 360;
    }
    return hsv;
}

QColor FromHsv(const Hsv& hsv) {
    const double c = hsv.v * hsv.s;
    const double hp = std::fmod(hsv.h, 360.0) / 60.0;
    const double x = c * (1 - std::fabs(std::fmod(hp, 2.0) - 1));
    double r = 0, g = 0, b = 0;
    if (hp < 1)
        r = c, g = x;
    else if (hp < 2)
        r = x, g = c;
    else if (hp < 3)
        g = c, b = x;
    else if (hp < 4)
        g = x, b = c;
    else if (hp < 5)
        r = x, b = c;
    else
        r = c, b = x;
    const double m = hsv.v - c;
    auto channel = [](double value) { return std::clamp(static_cast<int>(value * 255), 0, 255); };
    return QColor(channel(r + m), channel(g + m), channel(b + m));
}

bool TakesAreaColor(const QWidget* widget) {
    return qobject_cast<const QLabel*>(widget) != nullptr ||
           qobject_cast<const QAbstractButton*>(widget) != nullptr;
}

} // namespace

QColor SeparatorColorFor(const QColor& body, const QColor& footer) {
    const Hsv a = ToHsv(body);
    const Hsv b = ToHsv(footer);
    double hueDiff = std::fabs(a.h - b.h);
    hueDiff = std::min(hueDiff, 360 - hueDiff) / 360;
    const double distance =
        std::sqrt(hueDiff * hueDiff + (a.s - b.s) * (a.s - b.s) + (a.v - b.v) * (a.v - b.v));
    if (distance > 0.15)
        return body;
    double v = (a.v + b.v) / 2 <= 0.5 ? std::max(a.v, b.v) + 0.09 : std::min(a.v, b.v) - 0.08;
    v = std::clamp(v, 0.0, 1.0);
    return FromHsv({a.h, a.s, v});
}

VistaColors DefaultVistaColors(const QPalette& palette) {
    VistaColors colors;
    colors.body = palette.color(QPalette::Active, QPalette::Base);
    colors.footer = palette.color(QPalette::Active, QPalette::Window);
    colors.separator = SeparatorColorFor(colors.body, colors.footer);
    return colors;
}

CVistaDialog::CVistaDialog(QWidget* parent) : CResizeDlg(parent) {
    defaultColors_ = DefaultVistaColors(palette());
    bodyColor_ = defaultColors_.body;
    footerColor_ = defaultColors_.footer;
    separatorColor_ = defaultColors_.separator;
}

CVistaDialog::~CVistaDialog() = default;

void CVistaDialog::SetFooterHeight(int pixels) {
    if (pixels == footerHeight_)
        return;
    footerHeight_ = pixels;
    update();
}

int CVistaDialog::FooterHeight() const {
    return footerHeight_ >= 0 ? footerHeight_ : DluToPixelsY(defaultColors_.footerHeightDlu);
}

void CVistaDialog::GetContentRects(QRect& body, QRect& footer) const {
    const QRect client = rect();
    const int f = FooterHeight();
    body = QRect(client.left(), client.top(), client.width(), client.height() - f);
    footer = QRect(client.left(), client.bottom() + 1 - f, client.width(), f);
}

void CVistaDialog::SetBodyColor(const QColor& color) {
    if (color == bodyColor_)
        return;
    bodyColor_ = color;
    UpdateControlColors();
    update();
}

void CVistaDialog::SetFooterColor(const QColor& color) {
    if (color == footerColor_)
        return;
    footerColor_ = color;
    UpdateControlColors();
    update();
}

void CVistaDialog::SetSeparatorColor(const QColor& color) {
    if (color == separatorColor_)
        return;
    separatorColor_ = color;
    update();
}

int CVistaDialog::SeparatorThickness() const {
    return std::max(1, RoundHalfAway(DensityFactor()));
}

QColor CVistaDialog::AreaColorFor(const QWidget* control) const {
    QRect body, footer;
    GetContentRects(body, footer);
    const QPoint top = control->mapTo(this, QPoint(0, 0));
    return top.y() < body.top() + body.height() ? bodyColor_ : footerColor_;
}

void CVistaDialog::UpdateControlColors() {
    const auto children = findChildren<QWidget*>();
    for (QWidget* child : children) {
        if (!TakesAreaColor(child))
            continue;
        const QColor color = AreaColorFor(child);
        QPalette p = child->palette();
        if (p.color(QPalette::Window) == color)
            continue;
        p.setColor(QPalette::Window, color);
        // Body text pairs with the window colour of edit fields, footer text with the face.
        p.setColor(QPalette::WindowText, color == bodyColor_ && color != footerColor_
                                             ? palette().color(QPalette::Text)
                                             : palette().color(QPalette::WindowText));
        child->setPalette(p);
    }
}

void CVistaDialog::OnPrepareDialog() {}

void CVistaDialog::OnInitDialog() {
    OnPrepareDialog();
    CResizeDlg::OnInitDialog();
    UpdateControlColors();
}

void CVistaDialog::showEvent(QShowEvent* event) {
    CResizeDlg::showEvent(event);
    UpdateControlColors(); // controls placed after the initialisation
}

void CVistaDialog::paintEvent(QPaintEvent* /*event*/) {
    QRect body, footer;
    GetContentRects(body, footer);
    const int separator = std::min(SeparatorThickness(), footer.height());
    QPainter painter(this);
    painter.fillRect(body, bodyColor_);
    painter.fillRect(QRect(footer.left(), footer.top(), footer.width(), separator),
                     separatorColor_);
    painter.fillRect(
        QRect(footer.left(), footer.top() + separator, footer.width(), footer.height() - separator),
        footerColor_);
}

void CVistaDialog::resizeEvent(QResizeEvent* event) {
    CResizeDlg::resizeEvent(event);
    UpdateControlColors();
    update();
}

void CVistaDialog::changeEvent(QEvent* event) {
    CResizeDlg::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        OnThemeChanged();
}

void CVistaDialog::OnThemeChanged() {
    const VistaColors fresh = DefaultVistaColors(palette());
    if (bodyColor_ == defaultColors_.body)
        bodyColor_ = fresh.body;
    if (footerColor_ == defaultColors_.footer)
        footerColor_ = fresh.footer;
    if (separatorColor_ == defaultColors_.separator)
        separatorColor_ = fresh.separator;
    defaultColors_ = fresh;
    UpdateControlColors();
    update();
}

} // namespace cptlib

namespace cptlib {

void CloseModalDialogs(const QWidget* keep) {
    // Bounded: a dialog that refuses to close must not hold the caller here.
    for (int i = 0; i < 32; ++i) {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == keep)
            return;
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->done(kIdCancel);
        else
            modal->close();
        if (QApplication::activeModalWidget() == modal)
            return;
    }
}

} // namespace cptlib
