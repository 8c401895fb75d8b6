#pragma once
// The progress dialog's window on Windows: the larger layout (icon, product name) or the plain
// one, status text, bar, Cancel; the title and the taskbar button carry the percentage.

#include "cptlib/ui/win32/BigMessageBox.h"
#include "launcher/ProgressView.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace sfx::win32 {

class ProgressDialog;

class CProgressWindow : public IProgressView {
public:
    explicit CProgressWindow(std::shared_ptr<cptlib::win32::CWin32MessageBoxPresenter> boxes);
    ~CProgressWindow() override;
    CProgressWindow(const CProgressWindow&) = delete;
    CProgressWindow& operator=(const CProgressWindow&) = delete;

    // The window once created; null before.
    HWND Window() const;

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
    HWND Owner() const;
    std::shared_ptr<cptlib::win32::CWin32MessageBoxPresenter> boxes_;
    std::unique_ptr<ProgressDialog> dialog_;
};

} // namespace sfx::win32
