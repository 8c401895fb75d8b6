#include "cptlib/ui/qt/BigMessageBox.h"

#include "cptlib/ErrorText.h"
#include "cptlib/sys/ShellDispatch.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "cptlib/ui/qt/DialogUnits.h"
#include "cptlib/ui/qt/FlashWindow.h"
#include "cptlib/ui/qt/MessageRtf.h"
#include "cptlib/ui/qt/RtfReader.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>

namespace cptlib {

namespace {

// The desktop theme's name for the icon of `kind`.
QString ThemeIconName(IconKind kind) {
    switch (kind) {
    case IconKind::Information:
        return QStringLiteral("dialog-information");
    case IconKind::Warning:
        return QStringLiteral("dialog-warning");
    case IconKind::Error:
        return QStringLiteral("dialog-error");
    default:
        return QStringLiteral("dialog-question");
    }
}

QStyle::StandardPixmap IconFor(IconKind kind) {
    switch (kind) {
    case IconKind::Information:
        return QStyle::SP_MessageBoxInformation;
    case IconKind::Warning:
        return QStyle::SP_MessageBoxWarning;
    case IconKind::Error:
        return QStyle::SP_MessageBoxCritical;
    default:
        return QStyle::SP_MessageBoxQuestion;
    }
}

// The wait cursor while the desktop starts a link, restored on every way out.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

MessageBoxMetrics MessageBoxMetrics::ForDensity(double pixelsPerInch) {
    const double factor = pixelsPerInch > 0 ? pixelsPerInch / 96.0 : 1.0;
    MessageBoxMetrics m;
    for (int* v : {&m.horizontalMargin, &m.verticalMargin, &m.minButtonWidth, &m.buttonHeight,
                   &m.buttonGap, &m.buttonPadding, &m.minButtonRowWidth, &m.minTextHeight,
                   &m.maxTextWidth, &m.maxTextHeight, &m.iconWidth, &m.iconHeight})
        *v = RoundHalfAway(*v * factor);
    return m;
}

LinkTarget ResolveLink(const LinkClick& link) {
    LinkTarget target;
    target.text = link.text.toStdString();
    QString address;
    if (!link.autoDetected) {
        address = link.href;
    } else {
        address = link.text;
        if (address.startsWith(QLatin1String("www.")))
            address.prepend(QLatin1String("http://"));
        const qsizetype end = address.indexOf(QRegularExpression(QStringLiteral("[ \t\r\n]")));
        if (end >= 0)
            address.truncate(end);
    }
    if (address.startsWith(QLatin1String("file:"), Qt::CaseInsensitive)) {
        const QString path = QUrl(address).toLocalFile();
        if (!path.isEmpty())
            address = path;
    }
    target.address = address.toStdString();
    return target;
}

CBigMessageBox::CBigMessageBox(QWidget* parent, const std::string* caption,
                               const std::string* mainInstruction, const std::string* content,
                               IconKind iconKind, std::uint32_t flags)
    : CVistaDialog(parent), caption_(caption ? *caption : std::string()),
      mainInstruction_(mainInstruction ? *mainInstruction : std::string()),
      content_(content ? *content : std::string()), iconKind_(iconKind), flags_(flags) {
    // A box of its own in the taskbar is a normal window rather than a transient dialog.
    Qt::WindowFlags windowFlags = (flags_ & MBF_TASKBAR_BUTTON) ? Qt::Window : Qt::Dialog;
    windowFlags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint;
    if (!(flags_ & MBF_NO_CLOSE))
        windowFlags |= Qt::WindowCloseButtonHint;
    if (flags_ & MBF_TOPMOST)
        windowFlags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(windowFlags);
    setModal(true);
}

CBigMessageBox::CBigMessageBox(const MessageBoxContent& box, QWidget* parent)
    : CBigMessageBox(parent, &box.caption, &box.mainInstruction, &box.content, box.iconKind,
                     box.flags) {
    buttons_ = box.buttons;
    if (box.linkHandler) {
        linkHandler_ = [handler = box.linkHandler](const std::string& address, const std::string&) {
            return handler(address);
        };
    }
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

QFont CBigMessageBox::DialogFont() const {
    QFont f = MessageBoxFont();
    if (pixelsPerInch_) {
        // The screen's density decides how many pixels a point is.
        const double points = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 0.75;
        f.setPixelSize(std::max(1, RoundHalfAway(points * *pixelsPerInch_ / 72.0)));
    }
    return f;
}

void CBigMessageBox::OnInitDialog() {
    setFont(DialogFont());
    CVistaDialog::OnInitDialog();

    const double factor = DensityFactor();
    metrics_ = MessageBoxMetrics::ForDensity(96.0 * factor);
    const MessageBoxMetrics& m = metrics_;
    SetFooterHeight(std::max(1, RoundHalfAway(factor)) + m.buttonHeight + 2 * m.verticalMargin);
    const QFontMetrics fm(font());

    setWindowTitle(QString::fromStdString(caption_.empty() ? GetAppName() : caption_));

    if (iconKind_ != IconKind::None) {
        icon_ = new QLabel(this);
        icon_->setProperty("controlId", kIconControlId);
        icon_->setObjectName(QStringLiteral("icon"));
        icon_->setPixmap(MessageIconPixmap(iconKind_, QSize(m.iconWidth, m.iconHeight)));
        icon_->setAlignment(Qt::AlignCenter);
    }

    if (buttons_.empty())
        buttons_.push_back({kIdOk, false, "OK"});

    text_ = new CRichEditCtrlEx(this);
    text_->setProperty("controlId", kTextControlId);
    text_->setObjectName(QStringLiteral("text"));
    text_->setGeometry(0, 0, m.maxTextWidth, m.maxTextHeight);
    text_->setFont(font());
    text_->document()->setDefaultFont(font());
    QPalette textPalette = text_->palette();
    textPalette.setColor(QPalette::Base, BodyColor());
    textPalette.setColor(QPalette::Window, BodyColor());
    text_->setPalette(textPalette);
    // Tab stops every half inch, as rich text sets them by default.
    text_->setTabStopDistance(48.0 * factor);
    text_->SetAutoUrlDetect(!(flags_ & MBF_NO_AUTO_URL));
    text_->SetTextMargins(0, m.horizontalMargin);
    text_->SetRichText(QString::fromStdString(
        RtfToQtHtml(ConvertLinkMarkers(ComposeMessageRtf(mainInstruction_, content_)))));
    connect(text_, &CRichEditCtrlEx::linkClicked, this,
            [this](const LinkClick& link) { OnLink(link); });

    // The unwrapped size first; a text wider than the widest box wraps at that width.
    requestedSize_ = text_->RequestSize();
    if (requestedSize_.width() > m.maxTextWidth)
        requestedSize_ = text_->RequestSize(m.maxTextWidth);

    int w = requestedSize_.width();
    int h = requestedSize_.height();
    scrollMode_ = false;
    if (h > m.maxTextHeight) {
        // Even without a height limit the box stays on the screen, or its buttons could not be
        // reached: a text taller than the screen scrolls.
        const int screenLimit = ScreenTextHeightLimit();
        if (!(flags_ & MBF_NO_HEIGHT_LIMIT) || h > screenLimit) {
            h = (flags_ & MBF_NO_HEIGHT_LIMIT) ? std::max(screenLimit, m.maxTextHeight)
                                               : m.maxTextHeight;
            scrollMode_ = true;
        }
        w += style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, text_);
    }
    h = std::max(h, m.minTextHeight);

    std::vector<int> widths;
    int total = 0;
    for (const ButtonSpec& button : buttons_) {
        const QString caption = QString::fromStdString(StripAccelerator(button.text));
        const int width =
            std::max(fm.horizontalAdvance(caption) + 2 * m.buttonPadding, m.minButtonWidth);
        widths.push_back(width);
        total += width;
    }
    total += m.buttonGap * static_cast<int>(buttons_.size() - 1);

    int iconShift = 0;
    if (icon_ != nullptr) {
        icon_->setGeometry(m.horizontalMargin, m.verticalMargin, m.iconWidth, m.iconHeight);
        iconShift = m.iconWidth + m.horizontalMargin;
        h = std::max(h, m.iconHeight);
    }

    const int clientHeight = 2 * m.verticalMargin + h + FooterHeight();
    int clientWidth = m.horizontalMargin + iconShift + w;
    const int rowWidth = std::max(total + 2 * m.horizontalMargin, m.minButtonRowWidth);
    if (clientWidth < rowWidth) {
        w += rowWidth - clientWidth;
        clientWidth = rowWidth;
    }
    text_->setGeometry(iconShift + m.horizontalMargin, m.verticalMargin, w, h);

    std::size_t defaultIndex = 0;
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (buttons_[i].isDefault)
            defaultIndex = i;
    int x = clientWidth - m.horizontalMargin - total;
    const int y = clientHeight - m.verticalMargin - m.buttonHeight;
    QPushButton* defaultButton = nullptr;
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
        auto* button = new QPushButton(QString::fromStdString(buttons_[i].text), this);
        button->setProperty("buttonId", buttons_[i].id);
        button->setAutoDefault(false);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setGeometry(x, y, widths[i], m.buttonHeight);
        x += widths[i] + m.buttonGap;
        const int id = buttons_[i].id;
        connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
        buttonControls_.push_back(button);
        if (i == defaultIndex)
            defaultButton = button;
    }
    defaultButton->setDefault(true);
    defaultButton->setFocus();

    if (!scrollMode_)
        text_->SetLabelMode(true);
    text_->SetTextMargins(0, m.horizontalMargin);

    resize(clientWidth, clientHeight);
    minTrackSize_ = QSize(clientWidth, clientHeight);
    if (scrollMode_) {
        SetResizable(true);
        SetMinTrackingSize(minTrackSize_);
        ResetLayout();
        AnchorControl(text_, ANCHOR_ALL);
        for (QPushButton* button : buttonControls_)
            AnchorControl(button, ANCHOR_BOTTOM_RIGHT);
    } else {
        SetResizable(false);
    }
    UpdateControlColors();

    text_->verticalScrollBar()->setValue(0);
    text_->moveCursor(QTextCursor::Start);
    text_->SetLinkNotifications(true);
}

QIcon CBigMessageBox::MessageIcon(IconKind kind, const QWidget* widget) {
    // The desktop's current icons first; the style's own drawings where the theme has none.
    const QIcon themed = QIcon::fromTheme(ThemeIconName(kind));
    if (!themed.isNull())
        return themed;
    const QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    return style->standardIcon(IconFor(kind), nullptr, widget);
}

QPixmap CBigMessageBox::MessageIconPixmap(IconKind kind, const QSize& size) const {
    // Drawn for the screen's pixels rather than scaled up from a smaller picture.
    const qreal ratio = devicePixelRatioF();
    QPixmap pixmap = MessageIcon(kind, this).pixmap(size, ratio);
    const QSize device = size * ratio;
    if (!pixmap.isNull() && pixmap.size() != device) {
        pixmap = pixmap.scaled(device, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        pixmap.setDevicePixelRatio(ratio);
    }
    return pixmap;
}

int CBigMessageBox::ScreenTextHeightLimit() const {
    const QScreen* where = parentWidget() != nullptr ? parentWidget()->screen() : screen();
    if (where == nullptr)
        return std::numeric_limits<int>::max();
    const MessageBoxMetrics& m = metrics_;
    // The window frame is the desktop's; a title bar's height stands in for it.
    const int frame = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    return where->availableGeometry().height() - frame - 2 * m.verticalMargin - FooterHeight();
}

void CBigMessageBox::OnCommand(int id) {
    if (id == kIdCancel) {
        if (flags_ & MBF_NO_CLOSE)
            return;
        done(kIdCancel);
        return;
    }
    if (id == kIdOk) {
        int result = buttons_.empty() ? kIdOk : buttons_.front().id;
        for (QPushButton* button : buttonControls_)
            if (button->hasFocus())
                result = ButtonId(button);
        done(result);
        return;
    }
    done(id);
}

void CBigMessageBox::reject() {
    OnCommand(kIdCancel);
}

void CBigMessageBox::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        const bool labelLike = text_ != nullptr && (text_->IsLabelMode() || !text_->hasFocus());
        if (labelLike && !text_->textCursor().hasSelection()) {
            CopyAllText();
            event->accept();
            return;
        }
    }
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
        case Qt::Key_Escape:
            OnCommand(kIdCancel);
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter: {
            // The focused button, else the default one, as the dialog manager picks.
            int id = kIdOk;
            for (QPushButton* button : buttonControls_)
                if (button->isDefault())
                    id = ButtonId(button);
            for (QPushButton* button : buttonControls_)
                if (button->hasFocus())
                    id = ButtonId(button);
            OnCommand(id);
            event->accept();
            return;
        }
        default:
            break;
        }
    }
    CVistaDialog::keyPressEvent(event);
}

void CBigMessageBox::closeEvent(QCloseEvent* event) {
    event->ignore();
    OnCommand(kIdCancel);
}

void CBigMessageBox::showEvent(QShowEvent* event) {
    CVistaDialog::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    QTimer::singleShot(0, this, [this] {
        if (flags_ & MBF_ATTENTION)
            FlashIfNotForeground(this, FLASHW_ALL, 0, 0);
    });
}

void CBigMessageBox::resizeEvent(QResizeEvent* event) {
    CVistaDialog::resizeEvent(event);
    // A label ends with no left margin and the box's margin on the right. Links stay active
    // after a user resize.
    if (text_ != nullptr)
        text_->SetTextMargins(0, metrics_.horizontalMargin);
}

void CBigMessageBox::OnThemeChanged() {
    CVistaDialog::OnThemeChanged();
    if (text_ != nullptr) {
        QPalette p = text_->palette();
        p.setColor(QPalette::Base, BodyColor());
        p.setColor(QPalette::Window, BodyColor());
        text_->setPalette(p);
        text_->update();
    }
    if (icon_ != nullptr)
        icon_->update();
}

void CBigMessageBox::OnLink(const LinkClick& link) {
    const LinkTarget target = ResolveLink(link);
    if (target.address.empty())
        return;
    try {
        if (linkHandler_ && linkHandler_(target.address, target.text))
            return;
        const WaitCursor wait;
        if (linkStarter_)
            linkStarter_(target.address);
        else
            ShellExecuteFromExplorer(target.address.c_str());
    } catch (...) {
        const std::string text = target.address + "\n\n" + ErrorText(0);
        QMessageBox error(QMessageBox::Critical, QString::fromStdString(GetAppName()),
                          QString::fromStdString(text), QMessageBox::Ok, this);
        error.exec();
    }
}

void CBigMessageBox::CopyAllText() {
    QApplication::clipboard()->setText(PlainText());
}

} // namespace cptlib
