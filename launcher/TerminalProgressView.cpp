#include "launcher/TerminalProgressView.h"

#include "common/setup/CommonSetupLogger.h"
#include "cptlib/DisplayText.h"
#include "cptlib/platform/Terminal.h"
#include "cptlib/platform/TerminalInput.h"
#include "cptlib/ui/TerminalMessageBox.h"
#include "launcher/ExtractFolder.h"
#include "launcher/StartupState.h"

#include <iostream>

namespace sfx {

TerminalProgressView::TerminalProgressView(bool drawProgress, std::istream* in, std::ostream& out,
                                           LineReader readPassword,
                                           const cptlib::IStringResources* strings,
                                           WidthReader width)
    : drawProgress_(drawProgress), in_(in), out_(out), readPassword_(std::move(readPassword)),
      strings_(strings), width_(std::move(width)) {}

TerminalProgressView::~TerminalProgressView() {
    EndLine();
}

std::unique_ptr<TerminalProgressView>
TerminalProgressView::ForProcess(int uiLevel, const cptlib::IStringResources* strings) {
    namespace platform = cptlib::platform;
    const bool interactive = platform::StdinIsTerminal() && platform::StderrIsTerminal();
    return std::make_unique<TerminalProgressView>(
        uiLevel > UiHidden && platform::StderrIsTerminal(),
        interactive ? &platform::TerminalIn() : nullptr, std::cerr,
        interactive ? LineReader(platform::ReadHiddenLine) : LineReader(), strings,
        platform::StderrColumns);
}

bool TerminalProgressView::Create(const ProgressViewLayout&) {
    return true;
}

void TerminalProgressView::Show(bool visible) {
    visible_ = visible;
    if (visible)
        Redraw();
    else
        EndLine();
}

void TerminalProgressView::SetTitle(const std::string& title) {
    title_ = title;
    // The progress has ended; only a new status is worth a line.
    if (!statusOnly_)
        Redraw();
}

void TerminalProgressView::SetText(const std::string& text) {
    text_ = text;
    Redraw();
}

void TerminalProgressView::Redraw(bool force) {
    // The progress line would overwrite the open prompt.
    if (!visible_ || !drawProgress_ || confirming_)
        return;
    std::string line = statusOnly_ ? std::string() : cptlib::DisplayName(title_);
    if (!text_.empty())
        line += (line.empty() ? "" : "  ") + cptlib::DisplayName(text_);
    // One column stays free: a line that fills the last one wraps on some terminals, and every
    // redraw would then start a new line.
    const int width = width_ ? width_() : 0;
    line = cptlib::platform::FitToColumns(line, width > 1 ? width - 1 : 0);
    // Progress arrives far more often than the whole percent in the title changes.
    if (!force && line == drawn_ && (lineOpen_ || line.empty()))
        return;
    // Erase to the end of the line: the previous text may have been longer.
    out_ << '\r' << line << "\x1b[K";
    out_.flush();
    drawn_ = line;
    lineOpen_ = true;
}

void TerminalProgressView::EndStatusLine(bool progressGoesOn) {
    EndLine();
    statusOnly_ = !progressGoesOn;
}

void TerminalProgressView::RedrawStatus() {
    if (lineOpen_)
        Redraw(true);
}

void TerminalProgressView::EndLine() {
    if (!lineOpen_)
        return;
    out_ << '\n';
    out_.flush();
    lineOpen_ = false;
    drawn_.clear();
}

int TerminalProgressView::AskOverwrite(const cptlib::MessageBoxContent& question) {
    EndLine();
    return cptlib::GetMessageBoxPresenter().Show(question);
}

int TerminalProgressView::AskCancel(const cptlib::MessageBoxContent& question) {
    if (in_ == nullptr || inbox_ == nullptr || confirming_)
        return IProgressView::AskCancel(question);
    EndLine();
    namespace platform = cptlib::platform;
    // Shared with the wake callback, which a posting thread may still be running after the
    // prompt has gone.
    const auto wake = std::make_shared<const platform::PromptWake>();
    platform::PromptOptions options;
    options.wake = wake;
    options.onWake = [this] {
        inbox_->ProcessPending();
        return !confirmationClosed_;
    };
    options.interruptIsSignal = true;
    const std::unique_ptr<std::istream> prompt = platform::OpenPrompt(std::move(options));
    confirming_ = true;
    confirmationClosed_ = false;
    inbox_->SetWakeCallback([wake] { wake->Wake(); });
    // What arrived before the prompt opened.
    wake->Wake();
    int answer = 0;
    try {
        answer = cptlib::TerminalMessageBox(prompt.get(), out_, strings_, width_).Show(question);
    } catch (...) {
        inbox_->SetWakeCallback({});
        confirming_ = false;
        throw;
    }
    inbox_->SetWakeCallback({});
    confirming_ = false;
    const bool closed = confirmationClosed_;
    confirmationClosed_ = false;
    Redraw();
    return closed ? cptlib::kIdCancel : answer;
}

void TerminalProgressView::CloseQuestions() {
    if (!confirming_ || confirmationClosed_)
        return;
    confirmationClosed_ = true;
    out_ << "\n"
         << cptlib::TerminalText(strings_, "TerminalQuestionClosed",
                                 "The question was closed: it no longer applies.");
    out_.flush();
}

void TerminalProgressView::RunModalLoop(cptlib::MessageInbox& inbox,
                                        const std::function<bool()>& ended) {
    inbox_ = &inbox;
    try {
        IProgressView::RunModalLoop(inbox, ended);
    } catch (...) {
        inbox_ = nullptr;
        throw;
    }
    inbox_ = nullptr;
}

bool TerminalProgressView::AskPassword(std::string& password) {
    EndLine();
    password.clear();
    if (in_ == nullptr) {
        SETUP_LOG(cptlib::Severity::Warning)
            << "The archive needs a password, but there is neither a window nor a terminal to "
               "enter it; the run ends as cancelled.";
        // The user learns why the run ends too, not only the log.
        out_ << cptlib::TerminalText(strings_, "TerminalNoPasswordPrompt",
                                     "The setup files are protected by a password, but there is "
                                     "neither a terminal nor a window to enter it.")
             << std::endl;
        return false;
    }
    out_ << cptlib::TerminalText(strings_, "TerminalPassword", "Enter password:") << ' ';
    out_.flush();
    if (readPassword_)
        return readPassword_(password);
    in_->clear();
    return static_cast<bool>(std::getline(*in_, password));
}

std::string TerminalProgressView::PickFolder(const std::string& initialFolder,
                                             const std::string& title) {
    EndLine();
    return PickFolderAtTerminal(in_, out_, initialFolder, title, strings_, width_ ? width_() : 0);
}

void TerminalProgressView::ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                                              const std::string& folder) {
    EndLine();
    cptlib::MessageBoxContent plain = box;
    plain.content = folder;
    cptlib::GetMessageBoxPresenter().Show(plain);
}

} // namespace sfx
