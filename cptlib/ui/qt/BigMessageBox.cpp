#include "cptlib/ui/qt/BigMessageBox.h"

#include <QLabel>
#include <QPushButton>

#include <cmath>

namespace cptlib {

MessageBoxMetrics MessageBoxMetrics::ForDensity(double pixelsPerInch) {
    const double factor = pixelsPerInch > 0 ? pixelsPerInch / 96.0 : 1.0;
    auto scale = [factor](int value) { return static_cast<int>(std::round(value * factor)); };
    MessageBoxMetrics m;
    for (int* v : {&m.horizontalMargin, &m.verticalMargin, &m.minButtonWidth, &m.buttonHeight,
                   &m.buttonGap, &m.buttonPadding, &m.minButtonRowWidth, &m.minTextHeight,
                   &m.maxTextWidth, &m.maxTextHeight, &m.iconWidth, &m.iconHeight})
        *v = scale(*v);
    return m;
}

LinkTarget ResolveLink(const LinkClick&) {
    return {};
}

CBigMessageBox::CBigMessageBox(QWidget* parent, const std::string* caption,
                               const std::string* mainInstruction, const std::string* content,
                               IconKind iconKind, std::uint32_t flags)
    : CVistaDialog(parent), caption_(caption ? *caption : std::string()),
      mainInstruction_(mainInstruction ? *mainInstruction : std::string()),
      content_(content ? *content : std::string()), iconKind_(iconKind), flags_(flags) {}

CBigMessageBox::CBigMessageBox(const MessageBoxContent& box, QWidget* parent)
    : CBigMessageBox(parent, &box.caption, &box.mainInstruction, &box.content, box.iconKind,
                     box.flags) {
    buttons_ = box.buttons;
}

CBigMessageBox::~CBigMessageBox() = default;

void CBigMessageBox::AddButton(int id, const std::string& text, bool isDefault) {
    buttons_.push_back({id, isDefault, text});
}
void CBigMessageBox::SetLinkHandler(LinkHandler handler) {
    linkHandler_ = std::move(handler);
}
void CBigMessageBox::SetLinkStarter(LinkStarter starter) {
    linkStarter_ = std::move(starter);
}
void CBigMessageBox::SetPixelsPerInch(int pixelsPerInch) {
    pixelsPerInch_ = pixelsPerInch;
}
int CBigMessageBox::DoModal() {
    return exec();
}
double CBigMessageBox::DensityFactor() const {
    return pixelsPerInch_ ? *pixelsPerInch_ / 96.0 : CVistaDialog::DensityFactor();
}
std::vector<QPushButton*> CBigMessageBox::ButtonControls() const {
    return buttonControls_;
}
int CBigMessageBox::ButtonId(const QPushButton* button) {
    return button->property("buttonId").toInt();
}
QString CBigMessageBox::PlainText() const {
    return text_ ? text_->PlainText() : QString();
}
void CBigMessageBox::OnInitDialog() {
    CVistaDialog::OnInitDialog();
}
void CBigMessageBox::keyPressEvent(QKeyEvent* event) {
    CVistaDialog::keyPressEvent(event);
}
void CBigMessageBox::closeEvent(QCloseEvent* event) {
    CVistaDialog::closeEvent(event);
}
void CBigMessageBox::showEvent(QShowEvent* event) {
    CVistaDialog::showEvent(event);
}
void CBigMessageBox::resizeEvent(QResizeEvent* event) {
    CVistaDialog::resizeEvent(event);
}
void CBigMessageBox::OnThemeChanged() {
    CVistaDialog::OnThemeChanged();
}
void CBigMessageBox::OnCommand(int id) {
    done(id);
}
void CBigMessageBox::OnLink(const LinkClick&) {}
void CBigMessageBox::OpenLink(const LinkClick&) {}
void CBigMessageBox::CopyAllText() {}
QFont CBigMessageBox::DialogFont() const {
    return font();
}

} // namespace cptlib
