#include "cptlib/ui/qt/RichEditCtrlEx.h"

#include <QAbstractTextDocumentLayout>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <memory>

namespace cptlib {

namespace {

constexpr int kMaxLinkExtent = 2048;
// Marks links that were recognised in plain text rather than written as links.
constexpr int kAutoUrlProperty = QTextFormat::UserProperty + 1;

} // namespace

CRichEditCtrlEx::CRichEditCtrlEx(QWidget* parent) : QTextEdit(parent) {
    setAcceptRichText(true);
    setReadOnly(true);
    setFrameShape(QFrame::NoFrame);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    document()->setDocumentMargin(0);
    viewport()->setMouseTracking(true);
    SetLabelMode(false);
}

CRichEditCtrlEx::~CRichEditCtrlEx() = default;

void CRichEditCtrlEx::SetLabelMode(bool label) {
    if (label) {
        setTextInteractionFlags(Qt::NoTextInteraction);
        setFocusPolicy(Qt::NoFocus);
        SetTextMargins(0, 0);
        viewport()->setCursor(Qt::ArrowCursor);
    } else {
        // Read-only even when it scrolls: the user reads a message, never edits it.
        setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setFocusPolicy(Qt::StrongFocus);
        viewport()->setCursor(Qt::IBeamCursor);
    }
    labelMode_ = label;
}

void CRichEditCtrlEx::SetTextMargins(int left, int right) {
    leftMargin_ = left;
    rightMargin_ = right;
    setViewportMargins(left, 0, right, 0);
}

void CRichEditCtrlEx::SetRichText(const QString& html) {
    setHtml(html);
    document()->setDocumentMargin(0);
    if (autoUrlDetect_)
        DetectUrls();
}

void CRichEditCtrlEx::DetectUrls() {
    static const QRegularExpression pattern(
        QStringLiteral(R"((?:(?:https?|ftp|file)://|www\.|mailto:)[^\s<>"]+)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression trailing(QStringLiteral(R"([.,;:!?)'\]]+$)"));
    const QString text = document()->toPlainText();
    auto matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const auto match = matches.next();
        QString url = match.captured(0);
        url.remove(trailing);
        if (url.isEmpty() || IsLinkChar(static_cast<int>(match.capturedStart())))
            continue;
        QTextCursor cursor(document());
        cursor.setPosition(static_cast<int>(match.capturedStart()));
        cursor.setPosition(static_cast<int>(match.capturedStart() + url.size()),
                           QTextCursor::KeepAnchor);
        QTextCharFormat format;
        format.setAnchor(true);
        format.setAnchorHref(url);
        format.setFontUnderline(true);
        format.setForeground(palette().link());
        format.setProperty(kAutoUrlProperty, true);
        cursor.mergeCharFormat(format);
    }
}

int CRichEditCtrlEx::CharAt(const QPoint& viewportPos) const {
    const QPoint docPos =
        viewportPos + QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value());
    return document()->documentLayout()->hitTest(docPos, Qt::ExactHit);
}

bool CRichEditCtrlEx::IsLinkChar(int position) const {
    if (position < 0 || position >= document()->characterCount() - 1)
        return false;
    QTextCursor cursor(document());
    cursor.setPosition(position);
    cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
    const QTextCharFormat format = cursor.charFormat();
    return format.isAnchor() && !format.anchorHref().isEmpty();
}

bool CRichEditCtrlEx::IsLinkAt(const QPoint& pos) const {
    return IsLinkChar(CharAt(viewport()->mapFrom(this, pos)));
}

CharRange CRichEditCtrlEx::GetLinkRangeAt(const QPoint& pos) const {
    const int at = CharAt(viewport()->mapFrom(this, pos));
    if (!IsLinkChar(at))
        return {};
    auto hrefAt = [this](int position) {
        QTextCursor cursor(document());
        cursor.setPosition(position);
        cursor.setPosition(position + 1, QTextCursor::KeepAnchor);
        return cursor.charFormat().anchorHref();
    };
    const QString href = hrefAt(at);
    // Neighbouring links with other addresses are separate links.
    auto same = [&](int position) { return IsLinkChar(position) && hrefAt(position) == href; };
    int begin = at;
    while (at - begin < kMaxLinkExtent && same(begin - 1))
        --begin;
    int end = at + 1;
    while (end - at < kMaxLinkExtent && same(end))
        ++end;
    return {begin, end};
}

QSize CRichEditCtrlEx::RequestSize(int wrapWidth) const {
    std::unique_ptr<QTextDocument> doc(document()->clone());
    doc->setDefaultFont(font());
    doc->setDocumentMargin(0);
    const int margins = leftMargin_ + rightMargin_;
    if (wrapWidth < 0) {
        doc->setTextWidth(QWIDGETSIZE_MAX);
        const qreal natural = doc->idealWidth();
        doc->setTextWidth(natural + 1);
        return QSize(static_cast<int>(std::ceil(natural)) + margins,
                     static_cast<int>(std::ceil(doc->size().height())));
    }
    doc->setTextWidth(std::max(1, wrapWidth - margins));
    return QSize(wrapWidth, static_cast<int>(std::ceil(doc->size().height())));
}

bool CRichEditCtrlEx::ReportLink(const QPoint& viewportPos) {
    if (!linkNotifications_)
        return false;
    const QPoint pos = viewport()->mapTo(this, viewportPos);
    const CharRange range = GetLinkRangeAt(pos);
    if (range.cpMax <= range.cpMin)
        return false;
    QTextCursor cursor(document());
    cursor.setPosition(range.cpMin);
    cursor.setPosition(range.cpMin + 1, QTextCursor::KeepAnchor);
    const QTextCharFormat format = cursor.charFormat();
    cursor.setPosition(range.cpMin);
    cursor.setPosition(range.cpMax, QTextCursor::KeepAnchor);
    LinkClick link;
    link.range = range;
    link.href = format.anchorHref();
    link.text = cursor.selectedText();
    link.autoDetected = format.property(kAutoUrlProperty).toBool();
    emit linkClicked(link);
    return true;
}

bool CRichEditCtrlEx::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        // Only the text area takes the mouse; presses the viewport let through and those on
        // the margins belong to the dialog.
        event->ignore();
        return false;
    default:
        return QTextEdit::event(event);
    }
}

void CRichEditCtrlEx::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && ReportLink(event->position().toPoint())) {
        event->accept();
        return;
    }
    if (labelMode_) {
        event->ignore(); // clicks beside links belong to the dialog
        return;
    }
    QTextEdit::mousePressEvent(event);
}

void CRichEditCtrlEx::mouseDoubleClickEvent(QMouseEvent* event) {
    if (labelMode_ || IsLinkChar(CharAt(event->position().toPoint()))) {
        event->ignore();
        return;
    }
    QTextEdit::mouseDoubleClickEvent(event);
}

void CRichEditCtrlEx::mouseMoveEvent(QMouseEvent* event) {
    const bool overLink = IsLinkChar(CharAt(event->position().toPoint()));
    viewport()->setCursor(overLink ? Qt::PointingHandCursor
                                   : (labelMode_ ? Qt::ArrowCursor : Qt::IBeamCursor));
    if (labelMode_) {
        event->ignore();
        return;
    }
    QTextEdit::mouseMoveEvent(event);
}

void CRichEditCtrlEx::mouseReleaseEvent(QMouseEvent* event) {
    if (labelMode_) {
        event->ignore();
        return;
    }
    QTextEdit::mouseReleaseEvent(event);
}

void CRichEditCtrlEx::focusInEvent(QFocusEvent* event) {
    QTextEdit::focusInEvent(event);
    if (labelMode_)
        setCursorWidth(0);
}

} // namespace cptlib
