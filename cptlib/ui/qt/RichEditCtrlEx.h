#pragma once
// A rich-text control that can pose as a static label with clickable links.

#include <QString>
#include <QTextEdit>

namespace cptlib {

// Characters [cpMin, cpMax) of the control's text.
struct CharRange {
    int cpMin = 0;
    int cpMax = 0;
    friend bool operator==(const CharRange&, const CharRange&) = default;
};

// A link the user clicked.
struct LinkClick {
    CharRange range;
    QString href;              // the link's address as written in the text
    QString text;              // the characters of the range
    bool autoDetected = false; // an address recognised in plain text, not a written link
};

class CRichEditCtrlEx : public QTextEdit {
    Q_OBJECT

public:
    explicit CRichEditCtrlEx(QWidget* parent = nullptr);
    ~CRichEditCtrlEx() override;

    // Label mode: no caret, no selection, no focus, no margins; only links take the mouse.
    void SetLabelMode(bool label);
    bool IsLabelMode() const { return labelMode_; }

    // `pos` in the control's coordinates.
    bool IsLinkAt(const QPoint& pos) const;
    // The whole link under `pos` (at most 2048 characters each way); empty when none.
    CharRange GetLinkRangeAt(const QPoint& pos) const;

    // Link clicks are reported only while this is on.
    void SetLinkNotifications(bool on) { linkNotifications_ = on; }
    bool LinkNotifications() const { return linkNotifications_; }

    // Recognises web, mail and file addresses in the text and makes them links.
    void SetAutoUrlDetect(bool on) { autoUrlDetect_ = on; }
    // Sets the rich text (Qt HTML), recognising addresses when that is on.
    void SetRichText(const QString& html);

    void SetTextMargins(int left, int right);
    int LeftMargin() const { return leftMargin_; }
    int RightMargin() const { return rightMargin_; }

    // Size the text needs with the margins: unwrapped when wrapWidth is negative, else
    // wrapped at wrapWidth (the margins included).
    QSize RequestSize(int wrapWidth = -1) const;

    // The text as the user reads it (hidden text left out).
    QString PlainText() const { return toPlainText(); }

signals:
    void linkClicked(const cptlib::LinkClick& link);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    int CharAt(const QPoint& pos) const;
    bool IsLinkChar(int position) const;
    bool ReportLink(const QPoint& pos);
    void DetectUrls();

    bool labelMode_ = false;
    bool linkNotifications_ = true;
    bool autoUrlDetect_ = false;
    int leftMargin_ = 0;
    int rightMargin_ = 0;
};

} // namespace cptlib
