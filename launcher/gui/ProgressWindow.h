#pragma once
// The progress dialog's window: product name and icon (the larger layout) or the plain layout,
// status text, bar, Cancel; the title and the dock entry carry the percentage.

#include "launcher/ProgressView.h"
#include "launcher/gui/DesktopBus.h"

#include <QDBusConnection>
#include <QIcon>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cptlib {
class CQtMessageBoxPresenter;
}

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;

namespace sfx {

namespace detail {
class ProgressDialogWidget;
}

class CProgressWindow : public IProgressView {
public:
    CProgressWindow();
    // The dock entry and the file manager are reached on `bus` instead of the session bus.
    explicit CProgressWindow(QDBusConnection bus);
    ~CProgressWindow() override;
    CProgressWindow(const CProgressWindow&) = delete;
    CProgressWindow& operator=(const CProgressWindow&) = delete;

    // In place of the program's own icon; before Create.
    void SetIcon(const QIcon& icon);
    // The window presenter behind whatever presenter is installed: its boxes centre on this
    // window while it shows. Before Create; without it only an installed window presenter is
    // told.
    void SetBoxPresenter(std::shared_ptr<cptlib::CQtMessageBoxPresenter> presenter);

    // The window once created; null before.
    QDialog* Window() const;
    QLabel* StatusLabel() const;
    QLabel* TitleLabel() const; // the larger layout only
    QLabel* IconLabel() const;  // the larger layout only
    QProgressBar* ProgressBar() const;
    QPushButton* CancelButton() const;

    bool Create(const ProgressViewLayout& layout) override;
    void Show(bool visible) override;
    void SetTitle(const std::string& title) override;
    void SetText(const std::string& text) override;
    void SetCancelText(const std::string& text) override;
    void EnableCancel(bool enabled) override;
    void SetProgress(int permille) override;
    void SetBarState(ProgressBarState state) override;
    void SetTaskbarProgress(int permille) override;
    void SetTaskbarState(ProgressBarState state) override;
    void FlashIfNotForeground() override;
    int AskOverwrite(const cptlib::MessageBoxContent& question) override;
    bool AskPassword(std::string& password) override;
    std::string PickFolder(const std::string& initialFolder, const std::string& title) override;
    void ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                            const std::string& folder) override;
    bool OpenExtractFolder(const std::string& folder,
                           const std::vector<std::string>& extractedNames) override;
    void CloseQuestions() override;
    void RunModalLoop(cptlib::MessageInbox& inbox, const std::function<bool()>& ended) override;

private:
    std::optional<QDBusConnection> bus_;
    std::shared_ptr<cptlib::CQtMessageBoxPresenter> boxes_;
    QIcon icon_;
    std::unique_ptr<detail::ProgressDialogWidget> dialog_;
    std::unique_ptr<CTaskbarProgress> taskbar_;
};

} // namespace sfx
