#pragma once
// What the progress dialog's logic needs from whatever draws it: a window, a terminal line, or
// nothing at all. All calls come on the dialog's thread.

#include "cptlib/sys/MessageInbox.h"
#include "cptlib/ui/MessageBox.h"

#include <functional>
#include <string>
#include <vector>

namespace sfx {

enum class ProgressBarState : int { Normal = 1, Error = 2, Paused = 3 };

struct ProgressViewLayout {
    bool pretty = false;            // the larger layout with the product icon and name
    std::string productName;        // its title line
    std::function<void()> onCancel; // the Cancel button, Escape and the close box
};

class IProgressView {
public:
    virtual ~IProgressView() = default;

    // Builds the (still hidden) window; false when it cannot be made.
    virtual bool Create(const ProgressViewLayout& layout) = 0;
    virtual void Show(bool visible) = 0;
    virtual void SetTitle(const std::string& title) = 0;
    virtual void SetText(const std::string& text) = 0;
    virtual void SetCancelText(const std::string& text) = 0;
    virtual void EnableCancel(bool enabled) = 0;
    // Bar position, 0..1000.
    virtual void SetProgress(int permille) = 0;
    virtual void SetBarState(ProgressBarState state) = 0;
    // The taskbar button, where the desktop shows one; ignored otherwise.
    virtual void SetTaskbarProgress(int permille) = 0;
    virtual void SetTaskbarState(ProgressBarState state) = 0;
    // Draws attention unless the window is in the foreground.
    virtual void FlashIfNotForeground() = 0;

    // Whether a question can reach anybody: false for a view with neither a window nor a
    // terminal to answer at.
    virtual bool CanAsk() { return true; }
    // The overwrite question box, modal over the dialog; the id of the pressed button, or
    // kIdCancel when closed otherwise (0 when nobody could answer).
    virtual int AskOverwrite(const cptlib::MessageBoxContent& question) = 0;
    // The cancel confirmation, modal over the dialog, whose messages go on meanwhile; the id of
    // the pressed button, kIdCancel when closed otherwise, 0 when nobody could answer.
    virtual int AskCancel(const cptlib::MessageBoxContent& question) {
        return cptlib::GetMessageBoxPresenter().Show(question);
    }
    // The password entry; false when refused.
    virtual bool AskPassword(std::string& password) = 0;
    // The folder chooser; the folder with a trailing "/", or empty when cancelled.
    virtual std::string PickFolder(const std::string& initialFolder, const std::string& title) = 0;
    // The extract-only result box; `box.content` holds the folder as a link, `folder` the plain
    // path for a view that cannot show links.
    virtual void ShowExtractSuccess(const cptlib::MessageBoxContent& box,
                                    const std::string& folder) = 0;
    // The success box's link: shows `folder` with the extracted items that lie directly in it
    // selected (`extractedNames` relative, folders with a trailing "/"). False when this view
    // cannot, so the box opens the link's address itself.
    virtual bool OpenExtractFolder(const std::string& /*folder*/,
                                   const std::vector<std::string>& /*extractedNames*/) {
        return false;
    }

    // Closes the questions this view has open (boxes, the folder chooser, the password entry)
    // as if cancelled: a stop signal or the end of the extraction made them moot. A view whose
    // questions block the dialog's thread has none open when this is called.
    virtual void CloseQuestions() {}

    // Other output follows (the setup's, an error report, a question): a terminal view ends its
    // progress line. Without `progressGoesOn` the next status starts a line of its own, without
    // the progress title.
    virtual void EndStatusLine(bool /*progressGoesOn*/) {}
    // Draws the open status line again: a terminal echoed Ctrl+C into it.
    virtual void RedrawStatus() {}

    // Runs the dialog's messages until `ended` holds. A windowed view runs its own event loop
    // and processes the inbox when it wakes.
    virtual void RunModalLoop(cptlib::MessageInbox& inbox, const std::function<bool()>& ended) {
        while (!ended() && inbox.ProcessNext()) {
        }
    }
};

} // namespace sfx
