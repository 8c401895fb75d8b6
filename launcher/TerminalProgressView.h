#pragma once
// The progress dialog without a window: one updating line on a terminal, questions at a prompt.

#include "launcher/ProgressView.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>

namespace sfx {

class TerminalProgressView : public IProgressView {
public:
    using LineReader = std::function<bool(std::string& line)>;
    // The terminal's width now; 0 when unknown.
    using WidthReader = std::function<int()>;

    // `drawProgress`: title and status on one line of `out`, redrawn in place. `in` null: nobody
    // can answer, so questions are declined. `readPassword` reads without echo; by default a
    // plain line of `in`. `strings` (may be null: English) words the prompts; `width` is asked
    // at each redraw, so the line follows a resized window.
    TerminalProgressView(bool drawProgress, std::istream* in, std::ostream& out,
                         LineReader readPassword = {},
                         const cptlib::IStringResources* strings = nullptr, WidthReader width = {});
    ~TerminalProgressView() override;

    // The view of this process at a level: the progress line from level 2 up when stderr is a
    // terminal; answers from stdin when stdin and stderr are terminals.
    static std::unique_ptr<TerminalProgressView>
    ForProcess(int uiLevel, const cptlib::IStringResources* strings);

    bool Create(const ProgressViewLayout& layout) override;
    void Show(bool visible) override;
    void SetTitle(const std::string& title) override;
    void SetText(const std::string& text) override;
    void SetCancelText(const std::string&) override {}
    void EnableCancel(bool) override {}
    void SetProgress(int) override {}
    void SetBarState(ProgressBarState) override {}
    void SetTaskbarProgress(int) override {}
    void SetTaskbarState(ProgressBarState) override {}
    void FlashIfNotForeground() override {}
    bool CanAsk() override { return in_ != nullptr; }
    int AskOverwrite(const cptlib::MessageBoxContent& question) override;
    // At the prompt, the dialog's messages go on; Ctrl+C is the stop signal it is elsewhere.
    int AskCancel(const cptlib::MessageBoxContent& question) override;
    bool AskPassword(std::string& password) override;
    std::string PickFolder(const std::string& initialFolder, const std::string& title) override;
    void ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                            const std::string& folder) override;
    void CloseQuestions() override;
    void EndStatusLine(bool progressGoesOn) override;
    void RedrawStatus() override;
    void RunModalLoop(cptlib::MessageInbox& inbox, const std::function<bool()>& ended) override;

private:
    void Redraw(bool force = false);
    // Leaves the progress line before anything else is written.
    void EndLine();

    bool drawProgress_;
    std::istream* in_;
    std::ostream& out_;
    LineReader readPassword_;
    const cptlib::IStringResources* strings_;
    WidthReader width_;
    // After EndStatusLine, statuses are shown without the progress title.
    bool statusOnly_ = false;
    bool visible_ = false;
    std::string title_;
    std::string text_;
    std::string drawn_;
    bool lineOpen_ = false;
    // The dialog's messages, while its loop runs.
    cptlib::MessageInbox* inbox_ = nullptr;
    // The cancel confirmation is open; closed by the dialog.
    bool confirming_ = false;
    bool confirmationClosed_ = false;
};

} // namespace sfx
