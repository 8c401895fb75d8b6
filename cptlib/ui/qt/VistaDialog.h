#pragma once
// The look of the system's task dialogs: a body in the window colour, a separator line and a
// footer band in the button-face colour for the buttons.

#include "cptlib/ui/qt/ResizeDlg.h"

#include <QColor>
#include <QPalette>

namespace cptlib {

struct VistaColors {
    QColor body;
    QColor footer;
    QColor separator;
    int footerHeightDlu = 29;
};

// The separator between body and footer: the body colour when the two differ enough, else a
// lighter (dark scheme) or darker (light scheme) value of the body colour.
QColor SeparatorColorFor(const QColor& body, const QColor& footer);

// The colours the palette gives: window colour for the body, button face for the footer.
VistaColors DefaultVistaColors(const QPalette& palette);

class CVistaDialog : public CResizeDlg {
    Q_OBJECT

public:
    explicit CVistaDialog(QWidget* parent = nullptr);
    ~CVistaDialog() override;

    // Pixels; negative means the default height of 29 dialog units.
    void SetFooterHeight(int pixels);
    int FooterHeight() const;
    void GetContentRects(QRect& body, QRect& footer) const;

    void SetBodyColor(const QColor& color);
    void SetFooterColor(const QColor& color);
    void SetSeparatorColor(const QColor& color);
    QColor BodyColor() const { return bodyColor_; }
    QColor FooterColor() const { return footerColor_; }
    QColor SeparatorColor() const { return separatorColor_; }
    const VistaColors& DefaultColors() const { return defaultColors_; }
    // Rows of the separator line: the density factor rounded, at least 1.
    int SeparatorThickness() const;

    // The background a label or button gets: the body colour when its top lies above the
    // bottom of the body, else the footer colour.
    QColor AreaColorFor(const QWidget* control) const;
    // Gives every label and button child the background of its area.
    void UpdateControlColors();

protected:
    // First step of the initialisation; nothing here.
    virtual void OnPrepareDialog();
    void OnInitDialog() override;

    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // The system colours changed: colours still at their old defaults follow the new ones.
    virtual void OnThemeChanged();

private:
    VistaColors defaultColors_;
    QColor bodyColor_;
    QColor footerColor_;
    QColor separatorColor_;
    int footerHeight_ = -1;
};

} // namespace cptlib

namespace cptlib {

// Ends the open modal dialogs, innermost first, as their Cancel would (result kIdCancel), apart
// from `keep` and what lies under it. On the GUI thread.
void CloseModalDialogs(const QWidget* keep = nullptr);

} // namespace cptlib
