#include "launcher/gui/ProgressWindow.h"

#include "cptlib/ui/qt/BigMessageBox.h"
#include "cptlib/ui/qt/DialogUnits.h"
#include "cptlib/ui/qt/FlashWindow.h"
#include "cptlib/ui/qt/QtMessageBoxPresenter.h"
#include "cptlib/ui/qt/VistaDialog.h"
#include "launcher/ExtractFolder.h"
#include "launcher/gui/DialogLayout.h"
#include "launcher/gui/EnterPasswordDlg.h"
#include "launcher/gui/FolderChooser.h"
#include "launcher/gui/ProductIcon.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include <atomic>
#include <cmath>
#include <mutex>

namespace sfx {

namespace detail {

namespace {

// Dialog units of the two layouts.
constexpr QSize kPrettySize(248, 79);
constexpr QRect kPrettyIcon(7, 7, 21, 20);
constexpr QRect kPrettyTitle(36, 7, 205, 17);
constexpr QRect kPrettyStatus(36, 25, 187, 8);
constexpr QRect kPrettyBar(36, 36, 205, 8);
constexpr QRect kPrettyCancel(191, 58, 50, 14);
constexpr int kIconGapDlu = 9;
constexpr int kPrettyIconPixels = 48;

constexpr QSize kSimpleSize(235, 62);
constexpr QRect kSimpleStatus(7, 8, 221, 8);
constexpr QRect kSimpleBar(7, 19, 221, 8);
constexpr QRect kSimpleCancel(178, 41, 50, 14);

// Bar colours for the states a progress bar can show besides the normal one.
const QColor kErrorColor(0xC0, 0x1C, 0x28);
const QColor kPausedColor(0xE5, 0xA5, 0x0A);

} // namespace

class ProgressDialogWidget : public cptlib::CVistaDialog {
public:
    ProgressDialogWidget(const ProgressViewLayout& layout, const QIcon& icon)
        : onCancel_(layout.onCancel) {
        setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
        setWindowTitle(QStringLiteral("SelfExtracting"));
        SetResizable(false);
        setFont(cptlib::MessageBoxFont());
        if (!icon.isNull())
            setWindowIcon(icon);

        status = new QLabel(this);
        status->setTextFormat(Qt::PlainText);
        status->setWordWrap(true);
        status->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        bar = new QProgressBar(this);
        bar->setRange(0, 1000);
        bar->setValue(0);
        bar->setTextVisible(false);
        cancel = new QPushButton(this);
        // Return on the focused button presses it, as Space does.
        cancel->setAutoDefault(true);
        QObject::connect(cancel, &QPushButton::clicked, this, [this] { RequestCancel(); });

        if (layout.pretty)
            ArrangePretty(layout.productName, icon);
        else
            ArrangeSimple();
        cancelRight_ = cancel->geometry().right();
    }

    void SetBarState(ProgressBarState state) {
        // Only the bar's colour is set; everything else keeps following the desktop's theme.
        QPalette palette;
        if (state == ProgressBarState::Error)
            palette.setColor(QPalette::Highlight, kErrorColor);
        else if (state == ProgressBarState::Paused)
            palette.setColor(QPalette::Highlight, kPausedColor);
        bar->setPalette(palette);
    }

    void SetCancelText(const QString& text) {
        cancel->setText(text);
        // A longer translation widens the button to the left.
        const int width = std::max(DluToPixelsX(50), cancel->sizeHint().width());
        cancel->setGeometry(cancelRight_ - width + 1, cancel->y(), width, cancel->height());
    }

    void SetStatusText(const QString& text) {
        status->setText(text);
        GrowLabelToFit(*this, status);
    }

    QLabel* icon = nullptr;
    QLabel* title = nullptr;
    QLabel* status = nullptr;
    QProgressBar* bar = nullptr;
    QPushButton* cancel = nullptr;

protected:
    void OnInitDialog() override {
        CVistaDialog::OnInitDialog();
        UpdateControlColors();
    }
    // Escape.
    void reject() override { RequestCancel(); }
    // The close box.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        RequestCancel();
    }

private:
    void RequestCancel() {
        if (onCancel_ && cancel->isEnabled())
            onCancel_();
    }

    void ArrangeSimple() {
        setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kSimpleSize)).size());
        PlaceControl(*this, status, kSimpleStatus);
        PlaceControl(*this, bar, kSimpleBar);
        PlaceControl(*this, cancel, kSimpleCancel);
    }

    void ArrangePretty(const std::string& productName, const QIcon& programIcon) {
        setFixedSize(MapDialogRect(QRect(QPoint(0, 0), kPrettySize)).size());
        icon = new QLabel(this);
        title = new QLabel(this);
        QFont bold = font();
        bold.setBold(true);
        title->setFont(bold);
        title->setTextFormat(Qt::PlainText);
        title->setWordWrap(true);
        title->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        title->setText(QString::fromStdString(productName));
        PlaceControl(*this, title, kPrettyTitle);
        PlaceControl(*this, status, kPrettyStatus);
        PlaceControl(*this, bar, kPrettyBar);
        PlaceControl(*this, cancel, kPrettyCancel);

        const int n = static_cast<int>(std::lround(kPrettyIconPixels * DensityFactor()));
        const QPoint origin = MapDialogRect(kPrettyIcon).topLeft();
        icon->setGeometry(origin.x(), origin.y(), n, n);
        if (!programIcon.isNull())
            icon->setPixmap(programIcon.pixmap(QSize(n, n), devicePixelRatio()));
        // The texts start a fixed gap right of the icon, whatever its size came out as.
        const int left = icon->geometry().right() + 1 + DluToPixelsX(kIconGapDlu);
        for (QWidget* control : {static_cast<QWidget*>(title), static_cast<QWidget*>(status),
                                 static_cast<QWidget*>(bar)}) {
            QRect r = control->geometry();
            r.setLeft(left);
            control->setGeometry(r);
        }
        GrowLabelToFit(*this, title);
        KeepGapBelow(title, status);
    }

    // A title that wrapped onto more lines must not touch the status text under it.
    void KeepGapBelow(QLabel* above, QLabel* below) {
        const int spacing =
            std::max(DluToPixelsY(2), style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing));
        // The text is top-aligned: it ends where its lines end, not where the label does.
        const int textBottom =
            above->y() + std::min(above->height(), above->heightForWidth(above->width()));
        const int gap = below->y() - textBottom;
        if (gap >= spacing)
            return;
        const int shift = spacing - gap;
        for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (child != above && child->y() >= below->y())
                child->move(child->x(), child->y() + shift);
        setFixedSize(width(), height() + shift);
    }

    std::function<void()> onCancel_;
    int cancelRight_ = 0;
};

} // namespace detail

namespace {

// Runs the inbox from a Qt event loop: the wake callback comes on any thread and may race
// with the end of the loop, so it reaches the receiver only under the lock.
class InboxWaker : public QObject {
public:
    static constexpr QEvent::Type kWake = QEvent::User;

    InboxWaker(cptlib::MessageInbox& inbox, std::function<void()> onWake)
        : inbox_(inbox), onWake_(std::move(onWake)), target_(std::make_shared<Target>()) {
        target_->receiver = this;
        inbox_.SetWakeCallback([target = target_] {
            std::lock_guard lock(target->mutex);
            if (target->receiver != nullptr && !target->pending.exchange(true))
                QCoreApplication::postEvent(target->receiver, new QEvent(kWake));
        });
    }
    ~InboxWaker() override {
        {
            std::lock_guard lock(target_->mutex);
            target_->receiver = nullptr;
        }
        inbox_.SetWakeCallback({});
    }
    InboxWaker(const InboxWaker&) = delete;
    InboxWaker& operator=(const InboxWaker&) = delete;

    void WakeNow() {
        target_->pending = true;
        QCoreApplication::postEvent(this, new QEvent(kWake));
    }

protected:
    bool event(QEvent* event) override {
        if (event->type() != kWake)
            return QObject::event(event);
        target_->pending = false;
        onWake_();
        return true;
    }

private:
    struct Target {
        std::mutex mutex;
        QObject* receiver = nullptr;
        std::atomic<bool> pending = false;
    };
    cptlib::MessageInbox& inbox_;
    std::function<void()> onWake_;
    std::shared_ptr<Target> target_;
};

} // namespace

CProgressWindow::CProgressWindow() = default;

CProgressWindow::CProgressWindow(QDBusConnection bus) : bus_(std::move(bus)) {}

CProgressWindow::~CProgressWindow() = default;

void CProgressWindow::SetIcon(const QIcon& icon) {
    icon_ = icon;
}

void CProgressWindow::SetBoxPresenter(std::shared_ptr<cptlib::CQtMessageBoxPresenter> presenter) {
    boxes_ = std::move(presenter);
}

QDialog* CProgressWindow::Window() const {
    return dialog_.get();
}

QLabel* CProgressWindow::StatusLabel() const {
    return dialog_ ? dialog_->status : nullptr;
}

QLabel* CProgressWindow::TitleLabel() const {
    return dialog_ ? dialog_->title : nullptr;
}

QLabel* CProgressWindow::IconLabel() const {
    return dialog_ ? dialog_->icon : nullptr;
}

QProgressBar* CProgressWindow::ProgressBar() const {
    return dialog_ ? dialog_->bar : nullptr;
}

QPushButton* CProgressWindow::CancelButton() const {
    return dialog_ ? dialog_->cancel : nullptr;
}

bool CProgressWindow::Create(const ProgressViewLayout& layout) {
    if (QCoreApplication::instance() == nullptr)
        return false;
    if (icon_.isNull())
        icon_ = ProductIcon();
    dialog_ = std::make_unique<detail::ProgressDialogWidget>(layout, icon_);
    taskbar_ =
        bus_ ? std::make_unique<CTaskbarProgress>(*bus_) : std::make_unique<CTaskbarProgress>();
    // Boxes centre on the window while it shows and need no taskbar entry of their own.
    auto* qtBoxes =
        boxes_ ? boxes_.get()
               : dynamic_cast<cptlib::CQtMessageBoxPresenter*>(&cptlib::GetMessageBoxPresenter());
    if (qtBoxes != nullptr)
        qtBoxes->SetMainWindow(dialog_.get());
    return true;
}

void CProgressWindow::Show(bool visible) {
    if (!dialog_)
        return;
    dialog_->setVisible(visible);
    taskbar_->SetVisible(visible);
}

void CProgressWindow::SetTitle(const std::string& title) {
    if (dialog_)
        dialog_->setWindowTitle(QString::fromStdString(title));
}

void CProgressWindow::SetText(const std::string& text) {
    if (dialog_)
        dialog_->SetStatusText(QString::fromStdString(text));
}

void CProgressWindow::SetCancelText(const std::string& text) {
    if (dialog_)
        dialog_->SetCancelText(QString::fromStdString(text));
}

void CProgressWindow::EnableCancel(bool enabled) {
    if (dialog_)
        dialog_->cancel->setEnabled(enabled);
}

void CProgressWindow::SetProgress(int permille) {
    if (dialog_)
        dialog_->bar->setValue(std::clamp(permille, 0, 1000));
}

void CProgressWindow::SetBarState(ProgressBarState state) {
    if (dialog_)
        dialog_->SetBarState(state);
}

void CProgressWindow::SetTaskbarProgress(int permille) {
    if (taskbar_)
        taskbar_->SetProgress(permille);
}

void CProgressWindow::SetTaskbarState(ProgressBarState state) {
    if (taskbar_)
        taskbar_->SetState(state);
}

void CProgressWindow::FlashIfNotForeground() {
    if (dialog_)
        cptlib::FlashIfNotForeground(dialog_.get(), cptlib::FLASHW_ALL, 0, 0);
}

int CProgressWindow::AskOverwrite(const cptlib::MessageBoxContent& question) {
    return cptlib::GetMessageBoxPresenter().Show(question);
}

bool CProgressWindow::AskPassword(std::string& password) {
    // Over the window when it shows; the question comes at the silent levels too.
    CEnterPasswordDlg dialog(dialog_ && dialog_->isVisible() ? dialog_.get() : nullptr);
    if (dialog.DoModal() != cptlib::kIdOk)
        return false;
    password = dialog.Password();
    return true;
}

std::string CProgressWindow::PickFolder(const std::string& initialFolder,
                                        const std::string& title) {
    return ChooseFolder(dialog_ && dialog_->isVisible() ? dialog_.get() : nullptr, title,
                        initialFolder);
}

void CProgressWindow::ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                                         const std::string& /*folder*/) {
    if (!dialog_) {
        cptlib::GetMessageBoxPresenter().Show(box);
        return;
    }
    // The window's own box, whatever presenter is installed, so that its link reaches the
    // handler instead of the desktop's opener.
    cptlib::CBigMessageBox dialog(box, dialog_->isVisible() ? dialog_.get() : nullptr);
    if (box.linkHandler) {
        dialog.SetLinkHandler([&box](const std::string& address, const std::string&) {
            return box.linkHandler(address);
        });
    }
    dialog.DoModal();
}

bool CProgressWindow::OpenExtractFolder(const std::string& folder,
                                        const std::vector<std::string>& extractedNames) {
    sfx::OpenExtractFolder(folder, extractedNames, bus_ ? *bus_ : QDBusConnection::sessionBus());
    return true;
}

void CProgressWindow::CloseQuestions() {
    cptlib::CloseModalDialogs(dialog_.get());
}

void CProgressWindow::RunModalLoop(cptlib::MessageInbox& inbox,
                                   const std::function<bool()>& ended) {
    if (ended())
        return;
    QEventLoop loop;
    InboxWaker waker(inbox, [&] {
        inbox.ProcessPending();
        if (ended())
            loop.quit();
    });
    // Whatever was posted before the loop ran.
    waker.WakeNow();
    loop.exec();
}

} // namespace sfx
